// A string enclosed in one pair of double quotes, written once for both
// widths: what a command line or an MCI command needs around a file name that
// may hold blanks.
#include <windows.h>

#include <cstddef>

#include "KX_Brindel.h"
#include "kx/text.h"
#include "kx/twins.h"

namespace {

template <class T>
int double_quote(const typename T::Char* source, typename T::Char* out, int capacity) noexcept {
  using C = typename T::Char;
  constexpr C kQuote = C('"');
  if (out == nullptr || capacity <= 0) return 0;
  const auto room = static_cast<std::size_t>(capacity);
  // The scan stops at the capacity, so a hostile huge source is never read
  // further than could fit anyway.
  const std::size_t n = source == nullptr ? room : kx::capped_length(source, room);
  if (n >= room) {
    out[0] = 0;
    return 0;
  }

  // A source that already stands in one pair of quotes is kept as it is, so
  // quoting twice is harmless; any other quote inside would end the quoted
  // text early and let the rest read as further words of a command, so such a
  // source is refused (no file name can hold one anyway).
  const bool enclosed = n >= 2 && source[0] == kQuote && source[n - 1] == kQuote;
  const std::size_t first = enclosed ? 1 : 0, last = enclosed ? n - 1 : n;
  bool stray_quote = false;
  for (std::size_t i = first; i < last; ++i) stray_quote = stray_quote || source[i] == kQuote;
  const std::size_t added = enclosed ? 0 : 2;
  if (stray_quote || n + added + 1 > room) {
    out[0] = 0;
    return 0;
  }

  // Back to front, so that out may be source itself.
  out[n + added] = 0;
  if (enclosed) {
    for (std::size_t i = n; i-- > 0;) out[i] = source[i];
  } else {
    out[n + 1] = kQuote;
    for (std::size_t i = n; i-- > 0;) out[i + 1] = source[i];
    out[0] = kQuote;
  }
  return 1;
}

}  // namespace

extern "C" int WINAPI KX_SetDoublequoteW(LPCWSTR source, LPWSTR out, int capacity) {
  return double_quote<kx::Wide>(source, out, capacity);
}

extern "C" int WINAPI KX_SetDoublequoteA(LPCSTR source, LPSTR out, int capacity) {
  return double_quote<kx::Narrow>(source, out, capacity);
}
