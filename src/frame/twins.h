// The character-traits types through which each family is written once and
// instantiated for both widths. A family derives its own traits from these
// and names the platform calls it needs in their W or A form, so the wide and
// the narrow export are two real implementations of one template body.
//
//   struct RegistryW : kx::Wide   { static LSTATUS create(...) { return RegCreateKeyExW(...); } };
//   struct RegistryA : kx::Narrow { static LSTATUS create(...) { return RegCreateKeyExA(...); } };
//   template <class T> LSTATUS register_entry(const typename T::Char* name);
#pragma once

#include <windows.h>

#include "text.h"

namespace kx {

// wsprintf writes up to 1,024 characters whatever the destination holds:
// callers must have checked every piece's length against their buffer first.
struct Wide {
  using Char = wchar_t;
  static constexpr bool wide = true;
  template <class... Args>
  static int format(wchar_t* out, const wchar_t* pattern, Args... args) noexcept {
    return ::wsprintfW(out, pattern, args...);
  }
};

struct Narrow {
  using Char = char;
  static constexpr bool wide = false;
  template <class... Args>
  static int format(char* out, const char* pattern, Args... args) noexcept {
    return ::wsprintfA(out, pattern, args...);
  }
};

// Byte count handed to the registry for a string: its length in characters
// times the character size, never counting the terminator.
template <class C>
inline DWORD string_bytes(const C* s) noexcept {
  return static_cast<DWORD>(length(s) * sizeof(C));
}

}  // namespace kx
