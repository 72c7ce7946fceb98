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

#include <cstddef>

#include "kx/format.h"
#include "kx/text.h"

namespace kx {

// format() is the checked formatter (kx/format.h): it writes only when the
// whole result fits `capacity` and wsprintf's limit, and otherwise nothing.
struct Wide {
  using Char = wchar_t;
  static constexpr bool wide = true;
  template <class... Args>
  static bool format(wchar_t* out, std::size_t capacity, const wchar_t* pattern, Args... args) noexcept {
    return format_checked(
        [](wchar_t* o, const wchar_t* p, auto... a) { return ::wsprintfW(o, p, a...); }, out, capacity, pattern,
        args...);
  }
};

struct Narrow {
  using Char = char;
  static constexpr bool wide = false;
  template <class... Args>
  static bool format(char* out, std::size_t capacity, const char* pattern, Args... args) noexcept {
    return format_checked([](char* o, const char* p, auto... a) { return ::wsprintfA(o, p, a...); }, out,
                          capacity, pattern, args...);
  }
};

// Byte count handed to the registry for a string: its length in characters
// times the character size, never counting the terminator.
template <class C>
inline DWORD string_bytes(const C* s) noexcept {
  return static_cast<DWORD>(length(s) * sizeof(C));
}

}  // namespace kx
