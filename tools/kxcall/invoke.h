// Calls an export whose arguments are known only at run time, as a row of
// the table describes them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kxcall {

// Every argument travels as one pointer-sized integer: on x64 each takes a
// register or an 8-byte slot, on x86 every argument of these exports is 4
// bytes and the callee (stdcall) pops exactly that many.
inline std::uintptr_t invoke(FARPROC proc, unsigned n, const std::uintptr_t* a) {
  using U = std::uintptr_t;
  auto plain = reinterpret_cast<void (*)()>(proc);
  switch (n) {
    case 0: return reinterpret_cast<U(WINAPI*)()>(plain)();
    case 1: return reinterpret_cast<U(WINAPI*)(U)>(plain)(a[0]);
    case 2: return reinterpret_cast<U(WINAPI*)(U, U)>(plain)(a[0], a[1]);
    case 3: return reinterpret_cast<U(WINAPI*)(U, U, U)>(plain)(a[0], a[1], a[2]);
    case 4: return reinterpret_cast<U(WINAPI*)(U, U, U, U)>(plain)(a[0], a[1], a[2], a[3]);
    case 5: return reinterpret_cast<U(WINAPI*)(U, U, U, U, U)>(plain)(a[0], a[1], a[2], a[3], a[4]);
    case 6: return reinterpret_cast<U(WINAPI*)(U, U, U, U, U, U)>(plain)(a[0], a[1], a[2], a[3], a[4], a[5]);
    case 7:
      return reinterpret_cast<U(WINAPI*)(U, U, U, U, U, U, U)>(plain)(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    default:
      return reinterpret_cast<U(WINAPI*)(U, U, U, U, U, U, U, U)>(plain)(a[0], a[1], a[2], a[3], a[4], a[5], a[6],
                                                                         a[7]);
  }
}

}  // namespace kxcall
