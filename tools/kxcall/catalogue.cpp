#include <cstring>

#include "table.h"

namespace kxcall {
namespace {

#define KX_W(base, B, R, help, ...) \
  row<decltype(&base##W), true, B, R __VA_OPT__(, ) __VA_ARGS__>(#base "W", help)
#define KX_A(base, B, R, help, ...) \
  row<decltype(&base##A), false, B, R __VA_OPT__(, ) __VA_ARGS__>(#base "A", help)
#define FAMILY(title)
#define TWIN(base, R, help, ...) KX_W(base, false, R, help, __VA_ARGS__), KX_A(base, false, R, help, __VA_ARGS__),
#define BRINDEL(base, R, help, ...) KX_W(base, true, R, help, __VA_ARGS__), KX_A(base, true, R, help, __VA_ARGS__),
#define ONE(fn, R, help, ...) row<decltype(&fn), true, false, R __VA_OPT__(, ) __VA_ARGS__>(#fn, help),

constexpr Export kExports[] = {
#include "exports.inc"
};

#undef FAMILY
#undef TWIN
#undef BRINDEL
#undef ONE
#undef KX_W
#undef KX_A

constexpr bool same(const char* a, const char* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

constexpr bool all_distinct() {
  for (const Export& x : kExports)
    for (const Export& y : kExports)
      if (&x != &y && same(x.name, y.name)) return false;
  return true;
}

// 196 of KX_Pellam and 4 of KX_Brindel; being distinct and each matching a
// declaration, they are the whole surface of both headers.
static_assert(sizeof(kExports) / sizeof(kExports[0]) == 200);
static_assert(all_distinct());

}  // namespace

const Export* begin() { return kExports; }
const Export* end() { return kExports + sizeof(kExports) / sizeof(kExports[0]); }

const Export* find(const char* name) {
  for (const Export& e : kExports)
    if (std::strcmp(e.name, name) == 0) return &e;
  return nullptr;
}

const Export* find_ignoring_case(const char* name) {
  for (const Export& e : kExports)
    if (lstrcmpiA(e.name, name) == 0) return &e;
  return nullptr;
}

}  // namespace kxcall
