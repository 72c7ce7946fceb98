// kxcall's view of the exports: one row per export, the kinds of its
// arguments and result, and a one-line contract. The rows (exports.inc) are
// checked at compile time against the declarations in the public headers, so
// the table cannot drift from them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>

#include "KX_Brindel.h"
#include "KX_Pellam.h"
#include "kinds.h"

namespace kxcall {

inline constexpr std::size_t kMaxArgs = 8;
inline constexpr int kBufCapacity = 1024;

struct Export {
  const char* name;
  bool brindel;  // exported by KX_Brindel.dll rather than KX_Pellam.dll
  bool wide;
  Result result;
  unsigned char count;
  Kind kinds[kMaxArgs];
  const char* help;
};

template <bool W, Kind K> struct ArgType;
template <bool W> struct ArgType<W, s> { using type = std::conditional_t<W, LPCWSTR, LPCSTR>; };
template <bool W> struct ArgType<W, filter> : ArgType<W, s> {};
template <bool W> struct ArgType<W, buf> { using type = std::conditional_t<W, LPWSTR, LPSTR>; };
template <bool W> struct ArgType<W, buf260> : ArgType<W, buf> {};
template <bool W> struct ArgType<W, io260> : ArgType<W, buf> {};
template <bool W> struct ArgType<W, i> { using type = int; };
template <bool W> struct ArgType<W, cap> { using type = int; };
template <bool W> struct ArgType<W, u> { using type = UINT; };
template <bool W> struct ArgType<W, dw> { using type = DWORD; };
template <bool W> struct ArgType<W, w> { using type = WORD; };
template <bool W> struct ArgType<W, hwnd> { using type = HWND; };
template <bool W> struct ArgType<W, hmod> { using type = HMODULE; };
template <bool W> struct ArgType<W, hicon> { using type = HICON; };
template <bool W> struct ArgType<W, cptr> { using type = LPCVOID; };
template <bool W> struct ArgType<W, ptr> { using type = LPVOID; };
template <bool W> struct ArgType<W, outw> { using type = WORD*; };
template <bool W> struct ArgType<W, outi> { using type = int*; };
template <bool W> struct ArgType<W, iocolour> { using type = COLORREF*; };
template <bool W> struct ArgType<W, recout> { using type = KX_INPUT_ATTACHMENT*; };
template <bool W> struct ArgType<W, recin> { using type = const KX_INPUT_ATTACHMENT*; };

template <Result R> struct ResultType { using type = int; };
template <> struct ResultType<hres> { using type = HRESULT; };
template <> struct ResultType<none> { using type = void; };
template <> struct ResultType<addr> { using type = LPVOID; };

template <bool W, Result R, Kind... K>
using Signature = typename ResultType<R>::type(WINAPI*)(typename ArgType<W, K>::type...);

template <typename F, bool W, bool Brindel, Result R, Kind... K>
constexpr Export row(const char* name, const char* help) {
  static_assert(sizeof...(K) <= kMaxArgs);
  static_assert(std::is_same_v<F, Signature<W, R, K...>>,
                "the row's argument or result kinds disagree with the header declaration");
  return Export{name, Brindel, W, R, sizeof...(K), {K...}, help};
}

const Export* find(const char* name);
const Export* find_ignoring_case(const char* name);
const Export* begin();
const Export* end();

}  // namespace kxcall
