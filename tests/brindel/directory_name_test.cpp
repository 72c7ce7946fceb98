// The directory part of a path: what a caller appends one backslash to.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KX_Brindel.h"
#include "support/guard_page.h"
#include "support/recorder.h"

namespace {

struct Wide {
  using C = wchar_t;
  static int dir(const C* path, C* out, int capacity) { return KX_GetDirectoryNameW(path, out, capacity); }
};
struct Narrow {
  using C = char;
  static int dir(const C* path, C* out, int capacity) { return KX_GetDirectoryNameA(path, out, capacity); }
};

template <class C>
std::basic_string<C> text(const char* ascii) {
  return std::basic_string<C>(ascii, ascii + std::strlen(ascii));
}

template <class T>
class DirectoryName : public ::testing::Test {};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(DirectoryName, Widths);

// Each result is checked in a buffer of exactly its size and in one a
// character short, both ending at a guard page.
TYPED_TEST(DirectoryName, GivesAFolderThatTakesOneBackslashAtExactCapacity) {
  using C = typename TypeParam::C;
  const struct {
    const char* path;
    const char* dir;
  } cases[] = {
      {"C:\\dir\\app.exe", "C:\\dir"}, {"C:\\dir\\\\app.exe", "C:\\dir"}, {"C:\\dir\\", "C:\\dir"},
      {"C:\\app.exe", "C:"},           {"\\app.exe", ""},                 {"app.exe", "."},
      {"C:app.exe", "C:."},            {"\\\\srv\\share\\a.dll", "\\\\srv\\share"},
      {"C:/dir/app.exe", "C:/dir"},    {"\\\\?\\C:\\app.exe", "\\\\?\\C:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto path = text<C>(c.path), want = text<C>(c.dir);
    const int size = static_cast<int>(want.size()) + 1;
    kxtest::GuardBuffer<C> fits(size), short_one(size - 1);
    fits.fill_garbage();
    short_one.fill_garbage();
    EXPECT_EQ(TypeParam::dir(path.c_str(), fits.data(), size), 1);
    EXPECT_EQ(fits.text(), want);
    EXPECT_EQ(TypeParam::dir(path.c_str(), short_one.data(), size - 1), 0);
    if (size > 1) {
      EXPECT_EQ(short_one.text(), std::basic_string<C>());
    }
  }
}

TYPED_TEST(DirectoryName, RefusesWhatNamesNoPathAndWorksInPlace) {
  using C = typename TypeParam::C;
  const auto path = text<C>("C:\\dir\\app.exe");
  kxtest::GuardBuffer<C> out(MAX_PATH), none(0);
  out.fill_garbage();
  EXPECT_EQ(TypeParam::dir(nullptr, out.data(), MAX_PATH), 0);
  EXPECT_EQ(out.text(), std::basic_string<C>());
  out.fill_garbage();
  EXPECT_EQ(TypeParam::dir(text<C>("").c_str(), out.data(), MAX_PATH), 0);
  EXPECT_EQ(out.text(), std::basic_string<C>());
  EXPECT_EQ(TypeParam::dir(path.c_str(), nullptr, MAX_PATH), 0);
  EXPECT_EQ(TypeParam::dir(path.c_str(), none.data(), 0), 0);  // would fault if written
  EXPECT_EQ(TypeParam::dir(path.c_str(), none.data(), -1), 0);
  out.set(path);
  EXPECT_EQ(TypeParam::dir(out.data(), out.data(), MAX_PATH), 1);
  EXPECT_EQ(out.text(), text<C>("C:\\dir"));
}

// In a double-byte code page a character's second byte may be 0x5C without
// being a backslash. Wine runs with a single-byte code page here, so the
// system's character stepping stands in for one where 0x95 leads.
TEST(DirectoryNameNarrow, StepsByCharactersOfTheCodePage) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Brindel.dll"));
  auto& next = rec.hook<decltype(CharNextA)>("user32.dll", "CharNextA");
  next.script = [](LPCSTR p) -> std::optional<LPSTR> {
    const std::size_t step = *p == 0 ? 0 : (static_cast<unsigned char>(*p) == 0x95 && p[1] != 0) ? 2 : 1;
    return const_cast<LPSTR>(p + step);
  };
  char out[MAX_PATH];
  EXPECT_EQ(KX_GetDirectoryNameA("C:\\d\\\x95\\.exe", out, MAX_PATH), 1);
  EXPECT_STREQ(out, "C:\\d");
  EXPECT_GT(next.count(), 0u);
}

}  // namespace
