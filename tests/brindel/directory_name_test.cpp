// The directory part of a path: what a caller appends one backslash to.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "KX_Brindel.h"
#include "support/guard_page.h"
#include "support/recorder.h"
#include "support/width.h"

namespace {

using kxtest::text;

template <class C>
struct Api {
  static constexpr auto dir = kxtest::pick<C>(KX_GetDirectoryNameW, KX_GetDirectoryNameA);
};

template <class C>
class DirectoryName : public kxtest::WidthTest<C> {
 protected:
  using A = Api<C>;
};
TYPED_TEST_SUITE(DirectoryName, kxtest::Widths, kxtest::WidthNames);

// Each result is checked in a buffer of exactly its size and in one a
// character short, both ending at a guard page.
TYPED_TEST(DirectoryName, GivesAFolderThatTakesOneBackslashAtExactCapacity) {
  using C = TypeParam;
  using A = typename TestFixture::A;
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
    EXPECT_EQ(A::dir(path.c_str(), fits.data(), size), 1);
    EXPECT_EQ(fits.text(), want);
    EXPECT_EQ(A::dir(path.c_str(), short_one.data(), size - 1), 0);
    if (size > 1) {
      EXPECT_EQ(short_one.text(), std::basic_string<C>());
    }
  }
}

TYPED_TEST(DirectoryName, RefusesWhatNamesNoPathAndWorksInPlace) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const auto path = text<C>("C:\\dir\\app.exe");
  kxtest::GuardBuffer<C> out(MAX_PATH), none(0);
  out.fill_garbage();
  EXPECT_EQ(A::dir(nullptr, out.data(), MAX_PATH), 0);
  EXPECT_EQ(out.text(), std::basic_string<C>());
  out.fill_garbage();
  EXPECT_EQ(A::dir(text<C>("").c_str(), out.data(), MAX_PATH), 0);
  EXPECT_EQ(out.text(), std::basic_string<C>());
  EXPECT_EQ(A::dir(path.c_str(), nullptr, MAX_PATH), 0);
  EXPECT_EQ(A::dir(path.c_str(), none.data(), 0), 0);  // would fault if written
  EXPECT_EQ(A::dir(path.c_str(), none.data(), -1), 0);
  out.set(path);
  EXPECT_EQ(A::dir(out.data(), out.data(), MAX_PATH), 1);
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
