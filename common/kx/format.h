// The checked formatter. wsprintf writes up to 1,024 characters whatever the
// destination holds, so a long alias or file name composed into a 512-
// character stack buffer smashes the stack. Every composition goes through
// format() below instead: it measures the result from the pattern and each
// piece first and calls wsprintf only when the whole text, terminator
// included, fits both the destination's capacity and wsprintf's own limit.
// A refusal writes nothing at all, so no cut command or key path is left.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kx/text.h"

namespace kx {

// wsprintf's ceiling, terminator included.
inline constexpr std::size_t kFormatLimit = 1024;

namespace detail {

template <class C>
struct Piece {
  const C* text = nullptr;  // a %s piece when set
  std::uint32_t bits = 0;   // a number's 32 bits, as wsprintf reads them
  bool is_text = false;
};

template <class C>
constexpr Piece<C> piece_of(const C* text) noexcept {
  return Piece<C>{text, 0, true};
}

template <class C, class I>
constexpr Piece<C> piece_of(I value) noexcept {
  // wsprintf reads every number as 32 bits; a wider one would shift every
  // later argument.
  static_assert(std::is_integral_v<I> && sizeof(I) <= 4, "format: numbers are 32-bit");
  return Piece<C>{nullptr, static_cast<std::uint32_t>(value), false};
}

inline std::size_t digits(unsigned long long v, unsigned base) noexcept {
  std::size_t n = 1;
  while (v >= base) {
    v /= base;
    ++n;
  }
  return n;
}

// The length wsprintf will produce, or kFormatLimit when the pattern holds a
// conversion this library does not use (refused rather than guessed).
template <class C>
std::size_t measure(const C* pattern, const Piece<C>* pieces, std::size_t count) noexcept {
  std::size_t total = 0;
  std::size_t next = 0;
  for (const C* p = pattern; *p != 0; ++p) {
    if (*p != C('%')) {
      ++total;
      continue;
    }
    ++p;
    if (*p == C('%')) {
      ++total;
      continue;
    }
    while (*p == C('-') || *p == C('0')) ++p;
    std::size_t width = 0;
    while (*p >= C('0') && *p <= C('9')) width = width * 10 + static_cast<std::size_t>(*p++ - C('0'));
    if (*p == C('l')) ++p;
    if (next >= count) return kFormatLimit;
    const Piece<C>& piece = pieces[next++];
    std::size_t n = 0;
    switch (*p) {
      case C('s'):
        if (!piece.is_text || piece.text == nullptr) return kFormatLimit;
        n = capped_length(piece.text, kFormatLimit);
        break;
      // The conversion, not the C++ type of the value, decides how its 32
      // bits are printed: an unsigned 0x80000000 under %d is
      // "-2147483648", a -1 under %u "4294967295" and under %x "ffffffff".
      case C('d'):
      case C('i'): {
        if (piece.is_text) return kFormatLimit;
        const bool negative = (piece.bits & 0x80000000u) != 0;
        n = digits(negative ? 0x100000000ull - piece.bits : piece.bits, 10) + (negative ? 1 : 0);
        break;
      }
      case C('u'):
        if (piece.is_text) return kFormatLimit;
        n = digits(piece.bits, 10);
        break;
      case C('x'):
      case C('X'):
        if (piece.is_text) return kFormatLimit;
        n = digits(piece.bits, 16);
        break;
      default:
        return kFormatLimit;
    }
    total += n < width ? width : n;
    if (total >= kFormatLimit) return kFormatLimit;
  }
  return next == count ? total : kFormatLimit;
}

}  // namespace detail

// Formats into out[0..capacity) when the result fits; otherwise returns false
// and leaves out untouched. Raw is the width's wsprintf.
template <class C, class Raw, class... Args>
bool format_checked(Raw raw, C* out, std::size_t capacity, const C* pattern, Args... args) noexcept {
  if (out == nullptr || pattern == nullptr || capacity == 0) return false;
  const detail::Piece<C> pieces[sizeof...(Args) + 1] = {detail::piece_of<C>(args)..., {}};
  const std::size_t needed = detail::measure(pattern, pieces, sizeof...(Args)) + 1;
  if (needed > capacity || needed > kFormatLimit) return false;
  raw(out, pattern, args...);
  return true;
}

}  // namespace kx
