// What every test of a W/A export pair shares: one test body, written over the
// character type, serves both widths.
//
//   template <class C>
//   struct Api {
//     static constexpr auto get = kxtest::pick<C>(KX_SomethingW, KX_SomethingA);
//   };
//   template <class C>
//   class Something : public kxtest::WidthTest<C> {
//    protected:
//     using A = Api<C>;
//   };
//   TYPED_TEST_SUITE(Something, kxtest::Widths, kxtest::WidthNames);
//
// The tests' texts are ASCII, so each is spelled once and widened or narrowed
// here.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

namespace kxtest {

template <class C>
constexpr bool kWide = std::is_same_v<C, wchar_t>;

template <class C>
constexpr const char* width_suffix() {
  return kWide<C> ? "W" : "A";
}

// Lets one test body serve both exports of a W/A pair.
template <class C, class W, class A>
constexpr auto pick(W wide_one, A narrow_one) {
  if constexpr (kWide<C>) return wide_one;
  else return narrow_one;
}

// The same choice between two types, e.g. two functions' types for a hook.
template <class C, class W, class A>
using Pick = std::conditional_t<kWide<C>, W, A>;

template <class C>
std::basic_string<C> text(const std::wstring& s) {
  return std::basic_string<C>(s.begin(), s.end());
}
template <class C>
std::basic_string<C> text(const std::string& s) {
  return std::basic_string<C>(s.begin(), s.end());
}

// One text argument as an export takes it; a null const char* passes null.
template <class C>
class Arg {
 public:
  Arg(const char* s) : null_(s == nullptr) {  // NOLINT: implicit on purpose
    for (const char* q = s; q != nullptr && *q != 0; ++q) text_.push_back(static_cast<C>(*q));
  }
  Arg(const std::string& s) : text_(s.begin(), s.end()) {}  // NOLINT
  const C* get() const { return null_ ? nullptr : text_.c_str(); }

 private:
  std::basic_string<C> text_;
  bool null_ = false;
};

// The widths a typed test runs over, named W and A in its results.
using Widths = ::testing::Types<wchar_t, char>;
struct WidthNames {
  template <class C>
  static std::string GetName(int) {
    return width_suffix<C>();
  }
};

// The fixture base over width C: the test's texts in that width.
template <class C>
class WidthTest : public ::testing::Test {
 protected:
  using Text = std::basic_string<C>;
  static std::wstring suffix() { return kWide<C> ? L"W" : L"A"; }
  static Text t(const std::wstring& s) { return text<C>(s); }
  static Text t(const std::string& s) { return text<C>(s); }
  static std::vector<Text> ts(std::initializer_list<std::wstring> list) {
    std::vector<Text> out;
    for (const auto& s : list) out.push_back(t(s));
    return out;
  }
};

}  // namespace kxtest
