// Text primitives shared by every family: width-neutral literals, lengths and
// the bounded copy and append that are the only way text enters a fixed buffer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>

namespace kx {

// Every composed key path, file path and value lives in one of these.
inline constexpr int kPathCapacity = MAX_PATH;  // 260, terminator included

// Chooses the spelling of a literal that matches the width C, so a template
// body can name "SOFTWARE\\..." once for both twins without converting text.
template <class C>
constexpr const C* pick(const char* narrow, const wchar_t* wide) noexcept {
  static_assert(std::is_same_v<C, char> || std::is_same_v<C, wchar_t>);
  if constexpr (std::is_same_v<C, wchar_t>) {
    return wide;
  } else {
    return narrow;
  }
}
#define KX_TEXT(C, s) (::kx::pick<C>(s, L##s))

template <class C>
inline std::size_t length(const C* s) noexcept {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// Null and empty required strings are refused alike by the families.
template <class C>
inline bool is_empty(const C* s) noexcept {
  return s == nullptr || s[0] == 0;
}

// The length of s, or `cap` when s holds no terminator before it. The scan
// stops there, so a hostile 64 K string is never read to its end.
template <class C>
inline std::size_t capped_length(const C* s, std::size_t cap) noexcept {
  std::size_t n = 0;
  while (n < cap && s[n] != 0) ++n;
  return n;
}

// The one length check of the library: s is present and shorter than
// `capacity`, so it fits a buffer of that many characters with its
// terminator. Pass allow_empty = false where an empty string names nothing.
template <class C>
inline bool fits(const C* s, std::size_t capacity, bool allow_empty = true) noexcept {
  if (s == nullptr || capacity == 0) return false;
  if (!allow_empty && s[0] == 0) return false;
  return capped_length(s, capacity) < capacity;
}

// Copies src with its terminator when it fits below capacity; otherwise
// writes nothing at all, so a refused copy never leaves a cut string behind.
template <class C>
inline bool bounded_copy(C* dst, std::size_t capacity, const C* src) noexcept {
  if (dst == nullptr || src == nullptr || capacity == 0) return false;
  std::size_t n = 0;
  while (src[n] != 0) {
    if (n + 1 >= capacity) return false;  // the terminator would not fit
    ++n;
  }
  for (std::size_t i = 0; i <= n; ++i) dst[i] = src[i];
  return true;
}

// Appends src over dst's terminator when both together fit below capacity;
// otherwise leaves dst exactly as it was.
template <class C>
inline bool bounded_append(C* dst, std::size_t capacity, const C* src) noexcept {
  if (dst == nullptr || src == nullptr || capacity == 0) return false;
  std::size_t used = 0;
  while (dst[used] != 0) {
    if (used + 1 >= capacity) return false;  // dst itself is unterminated
    ++used;
  }
  return bounded_copy(dst + used, capacity - used, src);
}

// A 260-character path buffer composed piece by piece. Once one piece does not
// fit, the whole composition is spoiled and must not reach the system: a cut
// key path could name a different key, an emptied one a hive's root.
template <class C>
class PathBuffer {
 public:
  PathBuffer() noexcept { text_[0] = 0; }
  PathBuffer(const PathBuffer&) = delete;
  PathBuffer& operator=(const PathBuffer&) = delete;

  PathBuffer& copy(const C* piece) noexcept {
    ok_ = ok_ && bounded_copy(text_, kPathCapacity, piece);
    return *this;
  }
  PathBuffer& append(const C* piece) noexcept {
    ok_ = ok_ && bounded_append(text_, kPathCapacity, piece);
    return *this;
  }
  bool ok() const noexcept { return ok_; }
  const C* c_str() const noexcept { return text_; }
  C* data() noexcept { return text_; }
  std::size_t size() const noexcept { return length(text_); }

 private:
  C text_[kPathCapacity];
  bool ok_ = true;
};

}  // namespace kx
