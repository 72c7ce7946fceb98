// The bounded copy and append are the only way the families put text into a
// fixed buffer, so their limits are proven at the exact capacity with a
// no-access page right behind the buffer.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <variant>

#include "kx/text.h"
#include "kx/twins.h"
#include "support/guard_page.h"

namespace {

template <class C>
std::basic_string<C> repeat(size_t n) {
  return std::basic_string<C>(n, static_cast<C>('x'));
}

template <class C>
class BoundedText : public ::testing::Test {};
using Widths = ::testing::Types<wchar_t, char>;
TYPED_TEST_SUITE(BoundedText, Widths);

TYPED_TEST(BoundedText, CopyFillsTheLastCellWithTheTerminatorAndRefusesOneMore) {
  using C = TypeParam;
  kxtest::GuardBuffer<C> buf(8);
  const auto fits = repeat<C>(7);
  ASSERT_TRUE(kx::bounded_copy(buf.data(), 8, fits.c_str()));
  EXPECT_EQ(std::basic_string<C>(buf.data()), fits);

  buf.fill(static_cast<C>('#'));
  const auto too_long = repeat<C>(8);
  EXPECT_FALSE(kx::bounded_copy(buf.data(), 8, too_long.c_str()));
  EXPECT_EQ(buf.data()[0], static_cast<C>('#')) << "a refused copy must not leave a cut string";
  EXPECT_FALSE(kx::bounded_copy(buf.data(), 0, fits.c_str()));
  EXPECT_FALSE(kx::bounded_copy(buf.data(), 8, static_cast<const C*>(nullptr)));
}

TYPED_TEST(BoundedText, AppendCountsBothPartsAgainstTheCapacity) {
  using C = TypeParam;
  kxtest::GuardBuffer<C> buf(10);
  const auto head = repeat<C>(4);
  const auto tail5 = repeat<C>(5);
  ASSERT_TRUE(kx::bounded_copy(buf.data(), 10, head.c_str()));
  ASSERT_TRUE(kx::bounded_append(buf.data(), 10, tail5.c_str()));
  EXPECT_EQ(std::basic_string<C>(buf.data()).size(), 9u);

  ASSERT_TRUE(kx::bounded_copy(buf.data(), 10, head.c_str()));
  const auto tail6 = repeat<C>(6);
  EXPECT_FALSE(kx::bounded_append(buf.data(), 10, tail6.c_str()));
  EXPECT_EQ(std::basic_string<C>(buf.data()), head) << "a refused append must leave the text as it was";
}

TYPED_TEST(BoundedText, AppendRefusesAnUnterminatedDestination) {
  using C = TypeParam;
  kxtest::GuardBuffer<C> buf(6);
  buf.fill(static_cast<C>('#'));  // no terminator anywhere before the guard page
  const C one[] = {static_cast<C>('a'), 0};
  EXPECT_FALSE(kx::bounded_append(buf.data(), 6, one));
}

TYPED_TEST(BoundedText, PathBufferTakes259CharactersAndSpoilsOnOverflow) {
  using C = TypeParam;
  kx::PathBuffer<C> path;
  const auto a = repeat<C>(200), b = repeat<C>(59);
  EXPECT_TRUE(path.copy(a.c_str()).append(b.c_str()).ok());
  EXPECT_EQ(path.size(), 259u);

  kx::PathBuffer<C> over;
  const C one[] = {static_cast<C>('y'), 0};
  EXPECT_FALSE(over.copy(a.c_str()).append(b.c_str()).append(one).ok());
  EXPECT_FALSE(over.append(one).ok()) << "a spoiled composition stays spoiled";
}

}  // namespace

namespace {

template <class C>
using Traits = std::conditional_t<std::is_same_v<C, wchar_t>, kx::Wide, kx::Narrow>;

template <class C>
std::basic_string<C> widen(const std::string& s) {
  return std::basic_string<C>(s.begin(), s.end());
}

// The width's own wsprintf, unchecked: the reference the formatter must match.
template <class C, class N>
int raw_format(C* out, const C* pattern, N number) {
  if constexpr (std::is_same_v<C, wchar_t>) {
    return wsprintfW(out, pattern, number);
  } else {
    return wsprintfA(out, pattern, number);
  }
}

// The checked formatter measures first and writes all or nothing: at the
// exact capacity with a guard page behind it, at wsprintf's 1,024 limit, and
// for patterns it cannot measure.
TYPED_TEST(BoundedText, FormatWritesWholeTextsOnlyAndNothingElse) {
  using C = TypeParam;
  using T = Traits<C>;
  const auto s = widen<C>("%s\\%s");
  const auto a = repeat<C>(5);
  for (std::size_t capacity : {12u, 11u}) {  // 5 + 1 + 5 characters and the terminator
    kxtest::GuardBuffer<C> buf(capacity);
    buf.fill(static_cast<C>('#'));
    const bool fits = capacity == 12;
    EXPECT_EQ(T::format(buf.data(), capacity, s.c_str(), a.c_str(), a.c_str()), fits) << capacity;
    EXPECT_EQ(buf.data()[0], fits ? C('x') : C('#')) << "a refusal writes nothing";
  }

  static C big[2048];
  const auto just = repeat<C>(1023), over = repeat<C>(1024);
  static constexpr C kOne[] = {C('%'), C('s'), C(0)};
  EXPECT_TRUE(T::format(big, 2048, kOne, just.c_str()));
  EXPECT_EQ(std::basic_string<C>(big), just);
  big[0] = C('#');
  EXPECT_FALSE(T::format(big, 2048, kOne, over.c_str())) << "wsprintf would cut it";
  EXPECT_EQ(big[0], C('#'));

  // Each number goes in with its own C++ type; what wsprintf itself prints
  // for it is the reference, and the measure must hold at exactly that
  // length plus the terminator, a guard page right behind.
  struct Case {
    const char* pattern;
    std::variant<int, unsigned> number;
    const char* want;  // null: refused
  };
  const Case cases[] = {
      {"%d", -2147483647 - 1, "-2147483648"}, {"%04x", 0x411, "0411"},  {"%x%x", 1, nullptr},
      {"%s", 1, nullptr},                     {"%f", 1, nullptr},       {"%3d|", 7, "  7|"},
      {"%d", 0x80000000u, "-2147483648"},     {"%i", 0xFFFFFFFFu, "-1"}, {"%u", -1, "4294967295"},
      {"%x", -1, "ffffffff"},
  };
  for (const Case& c : cases) {
    const auto pattern = widen<C>(c.pattern);
    const std::string what = std::string(c.pattern) + (c.number.index() == 0 ? " of an int" : " of an unsigned");
    std::visit(
        [&](auto number) {
          if (c.want == nullptr) {
            C out[32] = {C('#'), C(0)};
            EXPECT_FALSE(T::format(out, 32, pattern.c_str(), number)) << what;
            EXPECT_EQ(out[0], C('#')) << what;
            return;
          }
          C printed[64];
          const int length = raw_format<C>(printed, pattern.c_str(), number);
          ASSERT_EQ(std::basic_string<C>(printed), widen<C>(c.want)) << what << ": wsprintf itself";
          for (const int capacity : {length + 1, length}) {
            kxtest::GuardBuffer<C> buf(capacity);
            buf.fill(C('#'));
            const bool fits = capacity == length + 1;
            EXPECT_EQ(T::format(buf.data(), capacity, pattern.c_str(), number), fits) << what << ", " << capacity;
            if (fits) {
              EXPECT_EQ(std::basic_string<C>(buf.data()), widen<C>(c.want)) << what;
            } else {
              EXPECT_EQ(buf.data()[0], C('#')) << what << ": a refusal writes nothing";
            }
          }
        },
        c.number);
  }
}

}  // namespace
