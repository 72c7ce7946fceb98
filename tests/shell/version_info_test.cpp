// Version strings, both widths: the library's own 64-bit DLL, a test DLL with
// two translations, a Wine system file read alongside by the test itself,
// files without a resource; outputs that end at a guard page; and through the
// call recorder the one heap block of each call.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "support/guard_page.h"
#include "support/recorder.h"

namespace {

template <class C>
std::basic_string<C> t(const std::wstring& s) {
  return std::basic_string<C>(s.begin(), s.end());  // the tests' texts are ASCII
}

#define KX_WIDTH(Name, Char, w)                                                        \
  struct Name {                                                                        \
    using C = Char;                                                                    \
    static constexpr auto get = KX_GetResourceVersionInfo##w;                          \
    static constexpr auto product = KX_GetProductName##w;                              \
    static constexpr auto info_size = GetFileVersionInfoSize##w;                       \
    using Size = decltype(GetFileVersionInfoSize##w);                                  \
    using Read = decltype(GetFileVersionInfo##w);                                      \
    static constexpr const char *kSize = "GetFileVersionInfoSize" #w, *kRead = "GetFileVersionInfo" #w; \
  };
KX_WIDTH(Wide, wchar_t, W)
KX_WIDTH(Narrow, char, A)

std::wstring beside_this_test(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring path(self);
  return path.substr(0, path.rfind(L'\\') + 1) + name;
}
const std::wstring kOwnDll = KX_X64_DLL, kProbe = beside_this_test(L"kx_two_translations.dll");
const std::wstring kMissing = L"C:\\KXTest_no_such_file.dll", kSystem = L"C:\\windows\\system32\\shell32.dll";
std::wstring text_file() {
  const std::wstring path = beside_this_test(L"kx_plain_text.txt");
  std::ofstream(path.c_str()) << "no version resource here\n";
  return path;
}

// The test's own reading of a string under the first translation.
std::wstring own_reading(const std::wstring& file, int index) {
  static const wchar_t* const keys[] = {L"Comments",       L"CompanyName",     L"FileDescription", L"FileVersion",
                                        L"InternalName",   L"LegalCopyright",  L"LegalTrademarks",
                                        L"OriginalFilename", L"PrivateBuild",  L"ProductName",
                                        L"ProductVersion", L"SpecialBuild"};
  std::vector<BYTE> block(GetFileVersionInfoSizeW(file.c_str(), nullptr));
  void* v = nullptr;
  UINT n = 0;
  if (block.empty() || !GetFileVersionInfoW(file.c_str(), 0, DWORD(block.size()), block.data()) ||
      !VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &v, &n) || n < 4) {
    return L"<none>";
  }
  wchar_t path[64];
  swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\%ls", static_cast<WORD*>(v)[0], static_cast<WORD*>(v)[1],
           keys[index]);
  return VerQueryValueW(block.data(), path, &v, &n) && n > 0 ? static_cast<const wchar_t*>(v) : L"";
}

template <class T>
class VersionInfo : public ::testing::Test {
 protected:
  using C = typename T::C;
  // One call into an output of `size` characters that ends at a guard page
  // and starts as the sentinel; nothing may follow the terminator.
  static int get(const std::wstring& file, int index, std::basic_string<C>& text, int size = MAX_PATH) {
    kxtest::GuardBuffer<C> out(size);
    out.fill_garbage();
    const int result = T::get(t<C>(file).c_str(), index, out.data(), size);
    text = out.text();
    for (int i = static_cast<int>(text.size()) + 1; i < size; ++i) {
      EXPECT_EQ(out.data()[i], kxtest::kGarbage<C>[i % kxtest::kGarbageLength]) << "written after the terminator";
    }
    return result;
  }
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(VersionInfo, Widths);

TYPED_TEST(VersionInfo, StringsOfTheFirstTranslationOnly) {
  using C = typename TypeParam::C;
  const std::wstring plain = text_file();
  const struct {
    const std::wstring& file;
    int index, result;
    const wchar_t* text;
  } cases[] = {
      {kOwnDll, 3, 1, L"1.0.0.0"},  {kOwnDll, 4, 1, L"KX_Pellam"}, {kOwnDll, 7, 1, L"KX_Pellam.dll"},
      {kOwnDll, 9, 1, L"KX_Pellam"}, {kOwnDll, 10, 1, L"1.0.0.0"}, {kOwnDll, 0, 1, L""},
      {kProbe, 9, 1, L"Two Translations"}, {kProbe, 3, 1, L"2.5.0.1"}, {kProbe, 0, 1, L"First translation comments"},
      {kProbe, 11, 1, L""},  // held only under the second translation
      {kProbe, -1, 0, L""}, {kProbe, 12, 0, L""}, {kProbe, INT_MIN, 0, L""}, {kProbe, INT_MAX, 0, L""},
      {plain, 9, 0, L""},   {kMissing, 9, 0, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.file.begin(), c.file.end()) << " #" << c.index);
    std::basic_string<C> got;
    EXPECT_EQ(this->get(c.file, c.index, got), c.result);
    EXPECT_EQ(got, t<C>(c.text));
    if (c.index == 9) {
      C out[MAX_PATH] = {C('g'), 0};
      EXPECT_EQ(TypeParam::product(t<C>(c.file).c_str(), out, MAX_PATH), c.result);
      EXPECT_EQ(out, got);
    }
  }
  int found = 0;  // a Wine system file, against the test's own reading
  for (int index = 0; index < 12; ++index) {
    std::basic_string<C> got;
    EXPECT_EQ(this->get(kSystem, index, got), 1);
    EXPECT_EQ(got, t<C>(own_reading(kSystem, index))) << index;
    found += got.empty() ? 0 : 1;
  }
  EXPECT_GE(found, 3);
}

// "Two Translations" has 16 characters: it needs 17, and 16 gets nothing,
// not a cut string; no room at all writes nothing.
TYPED_TEST(VersionInfo, AValueLongerThanTheOutputIsRefusedWhole) {
  using C = typename TypeParam::C;
  std::basic_string<C> got;
  for (int size : {17, 16, 1}) {
    EXPECT_EQ(this->get(kProbe, 9, got, size), 1);
    EXPECT_EQ(got, t<C>(size == 17 ? L"Two Translations" : L"")) << size;
  }
  kxtest::GuardBuffer<C> none(0);
  for (int size : {0, -1}) {
    EXPECT_EQ(TypeParam::get(t<C>(kProbe).c_str(), 9, none.data(), size), 0);
    EXPECT_EQ(TypeParam::product(t<C>(kProbe).c_str(), none.data(), size), 0);
  }
  EXPECT_EQ(TypeParam::get(t<C>(kProbe).c_str(), 9, nullptr, MAX_PATH), 0);
}

TYPED_TEST(VersionInfo, EachCallHoldsOneHeapBlockOfTheReportedSizeAndFreesIt) {
  using C = typename TypeParam::C;
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& alloc = rec.hook<decltype(HeapAlloc)>("kernel32.dll", "HeapAlloc");
  auto& release = rec.hook<decltype(HeapFree)>("kernel32.dll", "HeapFree");
  auto& size = rec.hook<typename TypeParam::Size>("version.dll", TypeParam::kSize);
  auto& read = rec.hook<typename TypeParam::Read>("version.dll", TypeParam::kRead);
  const std::wstring plain = text_file();
  const struct {
    const std::wstring& file;
    int index, result;
    bool read_fails;
    size_t blocks;
  } cases[] = {{kProbe, 9, 1, false, 1}, {kProbe, 11, 1, false, 1}, {kProbe, 9, 0, true, 1},
               {plain, 9, 0, false, 0},  {kMissing, 9, 0, false, 0}, {kProbe, 12, 0, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.file.begin(), c.file.end()) << " #" << c.index);
    rec.clear();
    read.script = [&](const C*, DWORD, DWORD, void*) { return c.read_fails ? std::optional<BOOL>(FALSE) : std::nullopt; };
    C out[MAX_PATH];
    EXPECT_EQ(TypeParam::get(t<C>(c.file).c_str(), c.index, out, MAX_PATH), c.result);
    ASSERT_EQ(alloc.count(), c.blocks);
    ASSERT_EQ(release.count(), c.blocks);
    ASSERT_EQ(size.count(), c.index == 12 ? 0u : 1u);
    if (c.blocks == 1) {
      EXPECT_EQ(std::get<1>(size.calls[0]), nullptr);
      EXPECT_GE(std::get<2>(alloc.calls[0]), TypeParam::info_size(t<C>(c.file).c_str(), nullptr));
      EXPECT_EQ(std::get<2>(read.calls[0]), std::get<2>(alloc.calls[0]));
      EXPECT_EQ(std::get<3>(read.calls[0]), std::get<2>(release.calls[0]));
    }
  }
}

}  // namespace
