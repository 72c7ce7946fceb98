// A string in double quotes: what MCI and command lines get around a name
// with blanks, never more than the capacity allows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "KX_Brindel.h"
#include "support/guard_page.h"

namespace {

struct Wide {
  using C = wchar_t;
  static int quote(const C* source, C* out, int capacity) { return KX_SetDoublequoteW(source, out, capacity); }
};
struct Narrow {
  using C = char;
  static int quote(const C* source, C* out, int capacity) { return KX_SetDoublequoteA(source, out, capacity); }
};

template <class C>
std::basic_string<C> text(const std::string& ascii) {
  return std::basic_string<C>(ascii.begin(), ascii.end());
}

template <class T>
class Doublequote : public ::testing::Test {};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(Doublequote, Widths);

// Each result fits a buffer of exactly its size ending at a guard page; one
// character less is refused with an empty result.
TYPED_TEST(Doublequote, EnclosesOnceAndFitsExactly) {
  using C = typename TypeParam::C;
  const struct {
    std::string source, quoted;
  } cases[] = {{"C:\\a b.wav", "\"C:\\a b.wav\""}, {"", "\"\""},  {"\"C:\\a b.wav\"", "\"C:\\a b.wav\""},
               {"\"\"", "\"\""}, {std::string(257, 'n'), "\"" + std::string(257, 'n') + "\""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source.substr(0, 20));
    const auto source = text<C>(c.source);
    const int size = static_cast<int>(c.quoted.size()) + 1;
    kxtest::GuardBuffer<C> fits(size), short_one(size - 1);
    fits.fill_garbage();
    short_one.fill_garbage();
    EXPECT_EQ(TypeParam::quote(source.c_str(), fits.data(), size), 1);
    EXPECT_EQ(fits.text(), text<C>(c.quoted));
    EXPECT_EQ(TypeParam::quote(source.c_str(), short_one.data(), size - 1), 0);
    EXPECT_EQ(short_one.text(), std::basic_string<C>());
  }
}

TYPED_TEST(Doublequote, RefusesStrayQuotesAndWhatNamesNothingAndWorksInPlace) {
  using C = typename TypeParam::C;
  kxtest::GuardBuffer<C> out(MAX_PATH), none(1);
  for (const char* bad : {"a\"b", "\"", "\"a", "a\"", "\"a\"b\"", "\"\"\""}) {
    out.fill_garbage();
    EXPECT_EQ(TypeParam::quote(text<C>(bad).c_str(), out.data(), MAX_PATH), 0) << bad;
    EXPECT_EQ(out.text(), std::basic_string<C>());
  }
  out.fill_garbage();
  EXPECT_EQ(TypeParam::quote(nullptr, out.data(), MAX_PATH), 0);
  EXPECT_EQ(out.text(), std::basic_string<C>());
  const auto huge = std::basic_string<C>(65536, C('x'));
  EXPECT_EQ(TypeParam::quote(huge.c_str(), out.data(), MAX_PATH), 0);
  EXPECT_EQ(TypeParam::quote(huge.c_str(), nullptr, MAX_PATH), 0);
  none.fill_garbage();
  EXPECT_EQ(TypeParam::quote(huge.c_str(), none.data(), 0), 0);
  EXPECT_EQ(TypeParam::quote(huge.c_str(), none.data(), -5), 0);
  EXPECT_TRUE(none.still_garbage());
  out.set(text<C>("C:\\a b.wav"));
  EXPECT_EQ(TypeParam::quote(out.data(), out.data(), MAX_PATH), 1);
  EXPECT_EQ(out.text(), text<C>("\"C:\\a b.wav\""));
}

}  // namespace
