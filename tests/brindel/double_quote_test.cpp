// A string in double quotes: what MCI and command lines get around a name
// with blanks, never more than the capacity allows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "KX_Brindel.h"
#include "support/guard_page.h"

namespace {

template <class C>
struct Quote {
  using Text = std::basic_string<C>;
  static int quote(const C* s, C* out, int capacity) {
    if constexpr (sizeof(C) == 2) return KX_SetDoublequoteW(s, out, capacity);
    else return KX_SetDoublequoteA(s, out, capacity);
  }
};
template <class C>
class Doublequote : public ::testing::Test {};
using Widths = ::testing::Types<wchar_t, char>;
TYPED_TEST_SUITE(Doublequote, Widths);

// Each source in a buffer of exactly its quoted size and one a character
// short, both ending at a guard page. An empty expectation means refused.
TYPED_TEST(Doublequote, EnclosesOnceFitsExactlyAndRefusesStrayQuotes) {
  using Q = Quote<TypeParam>;
  const std::string n257(257, 'n');
  const struct {
    std::string source, quoted;
  } cases[] = {{"C:\\a b.wav", "\"C:\\a b.wav\""}, {"", "\"\""}, {"\"C:\\a b\"", "\"C:\\a b\""}, {"\"\"", "\"\""},
               {n257, "\"" + n257 + "\""}, {"a\"b", ""}, {"\"", ""}, {"\"a", ""}, {"\"a\"b\"", ""}, {"\"\"\"", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const typename Q::Text source(c.source.begin(), c.source.end()), want(c.quoted.begin(), c.quoted.end());
    const int size = want.empty() ? MAX_PATH : static_cast<int>(want.size()) + 1;
    kxtest::GuardBuffer<TypeParam> fits(size), short_one(size - 1);
    fits.fill_garbage();
    short_one.fill_garbage();
    EXPECT_EQ(Q::quote(source.c_str(), fits.data(), size), want.empty() ? 0 : 1);
    EXPECT_EQ(fits.text(), want);
    EXPECT_EQ(Q::quote(source.c_str(), short_one.data(), size - 1), 0);
    EXPECT_EQ(short_one.text(), typename Q::Text());
  }
}

TYPED_TEST(Doublequote, RefusesWhatNamesNothingAndWorksInPlace) {
  using Q = Quote<TypeParam>;
  kxtest::GuardBuffer<TypeParam> out(MAX_PATH), none(1);
  const typename Q::Text huge(65536, TypeParam('x')), name = {'a', ' ', 'b'};
  none.fill_garbage();
  EXPECT_EQ(Q::quote(name.c_str(), nullptr, 9) + Q::quote(name.c_str(), none.data(), 0) +
                Q::quote(name.c_str(), none.data(), -5), 0);
  EXPECT_TRUE(none.still_garbage());
  out.fill_garbage();
  EXPECT_EQ(Q::quote(huge.c_str(), out.data(), MAX_PATH) + Q::quote(nullptr, none.data(), 1), 0);
  EXPECT_EQ(out.text() + none.text(), typename Q::Text());
  out.set(name);
  EXPECT_EQ(Q::quote(out.data(), out.data(), MAX_PATH), 1);
  EXPECT_EQ(out.text(), (typename Q::Text{'"', 'a', ' ', 'b', '"'}));
}

}  // namespace
