// The directory part of a path, written once for both widths.
#include <windows.h>

#include <cstddef>

#include "KX_Brindel.h"
#include "kx/twins.h"

namespace {

struct PathTextW : kx::Wide {
  static const wchar_t* next(const wchar_t* p) noexcept { return p + 1; }
};

// A narrow path is text in the ANSI code page: in a double-byte code page the
// second byte of a character may be 0x5C, which is no backslash there, so the
// scan steps by whole characters.
struct PathTextA : kx::Narrow {
  static const char* next(const char* p) noexcept { return ::CharNextA(p); }
};

template <class C>
constexpr bool is_separator(C c) noexcept {
  return c == C('\\') || c == C('/');
}

template <class C>
constexpr bool is_drive_letter(C c) noexcept {
  return (c >= C('A') && c <= C('Z')) || (c >= C('a') && c <= C('z'));
}

// Writes the first `count` characters of `from` and a terminator, or refuses
// without writing when they would reach the capacity. Copying forwards keeps
// this correct when `out` is `from` itself.
template <class C>
bool put(C* out, std::size_t capacity, const C* from, std::size_t count) noexcept {
  if (count + 1 > capacity) return false;
  for (std::size_t i = 0; i < count; ++i) out[i] = from[i];
  out[count] = 0;
  return true;
}

template <class T>
int directory_name(const typename T::Char* path, typename T::Char* out, int capacity) noexcept {
  using C = typename T::Char;
  if (out == nullptr || capacity <= 0) return 0;
  if (path == nullptr || path[0] == 0) {
    out[0] = 0;
    return 0;
  }
  const auto room = static_cast<std::size_t>(capacity);

  // The end of the directory part: the start of the run of separators that
  // holds the last separator, so "C:\dir\\app.exe" gives "C:\dir".
  const C* cut = nullptr;
  bool in_run = false;
  for (const C* p = path; *p != 0; p = T::next(p)) {
    if (is_separator(*p)) {
      if (!in_run) cut = p;
      in_run = true;
    } else {
      in_run = false;
    }
  }

  bool written;
  if (cut != nullptr) {
    // A root keeps nothing of its separator ("C:\app.exe" gives "C:", "\app.exe"
    // gives ""): the caller appends one backslash and gets the root back.
    written = put(out, room, path, static_cast<std::size_t>(cut - path));
  } else if (is_drive_letter(path[0]) && path[1] == C(':')) {
    // "C:app.exe" lies in the current directory of drive C, which "C:." names.
    static constexpr C kDriveHere[] = {C('.'), C(0)};
    written = put(out, room, path, 2) && kx::bounded_append(out, room, kDriveHere);
  } else {
    // A bare file name lies in the current directory: "." with one backslash
    // appended still names it, where "" would name the root of the drive.
    static constexpr C kHere[] = {C('.'), C(0)};
    written = put(out, room, kHere, 1);
  }
  if (!written) {
    out[0] = 0;
    return 0;
  }
  return 1;
}

}  // namespace

extern "C" int WINAPI KX_GetDirectoryNameW(LPCWSTR path, LPWSTR out, int capacity) {
  return directory_name<PathTextW>(path, out, capacity);
}

extern "C" int WINAPI KX_GetDirectoryNameA(LPCSTR path, LPSTR out, int capacity) {
  return directory_name<PathTextA>(path, out, capacity);
}
