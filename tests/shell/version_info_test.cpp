// Version strings, both widths: the library's own 64-bit DLL, a test DLL with
// two translations, a Wine system file read alongside by the test itself,
// files without a resource; outputs that end at a guard page; and through the
// call recorder the one heap block of each call.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
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

struct Wide {
  using C = wchar_t;
  static constexpr auto get = KX_GetResourceVersionInfoW;
  static constexpr auto product = KX_GetProductNameW;
  using Size = decltype(GetFileVersionInfoSizeW);
  using Read = decltype(GetFileVersionInfoW);
  static constexpr const char* kSize = "GetFileVersionInfoSizeW";
  static constexpr const char* kRead = "GetFileVersionInfoW";
  static DWORD size(const C* f) { return GetFileVersionInfoSizeW(f, nullptr); }
  static BOOL read(const C* f, DWORD n, void* b) { return GetFileVersionInfoW(f, 0, n, b); }
  static BOOL query(void* b, const std::wstring& path, void** v, UINT* n) { return VerQueryValueW(b, path.c_str(), v, n); }
};
struct Narrow {
  using C = char;
  static constexpr auto get = KX_GetResourceVersionInfoA;
  static constexpr auto product = KX_GetProductNameA;
  using Size = decltype(GetFileVersionInfoSizeA);
  using Read = decltype(GetFileVersionInfoA);
  static constexpr const char* kSize = "GetFileVersionInfoSizeA";
  static constexpr const char* kRead = "GetFileVersionInfoA";
  static DWORD size(const C* f) { return GetFileVersionInfoSizeA(f, nullptr); }
  static BOOL read(const C* f, DWORD n, void* b) { return GetFileVersionInfoA(f, 0, n, b); }
  static BOOL query(void* b, const std::wstring& path, void** v, UINT* n) {
    return VerQueryValueA(b, t<char>(path).c_str(), v, n);
  }
};

const wchar_t* const kKeys[] = {L"Comments",         L"CompanyName",  L"FileDescription", L"FileVersion",
                                L"InternalName",     L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename",
                                L"PrivateBuild",     L"ProductName",  L"ProductVersion",  L"SpecialBuild"};

std::wstring beside_this_test(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self);
  return dir.substr(0, dir.rfind(L'\\') + 1) + name;
}
const std::wstring kOwnDll = KX_X64_DLL;
const std::wstring kProbe = beside_this_test(L"kx_two_translations.dll");
const std::wstring kSystem = L"C:\\windows\\system32\\shell32.dll";
const std::wstring kMissing = L"C:\\KXTest_no_such_file.dll";
std::wstring text_file() {
  const std::wstring path = beside_this_test(L"kx_plain_text.txt");
  std::ofstream(path.c_str()) << "no version resource here\n";
  return path;
}

template <class T>
class VersionInfo : public ::testing::Test {
 protected:
  using C = typename T::C;
  // One call into a guarded output of `size` characters, prefilled with the sentinel.
  static int get(const std::wstring& file, int index, std::basic_string<C>& text, int size = MAX_PATH) {
    kxtest::GuardBuffer<C> out(size);
    out.fill_garbage();
    const int result = T::get(t<C>(file).c_str(), index, out.data(), size);
    EXPECT_TRUE(out.terminated());
    text = out.text();
    return result;
  }
  // The test's own reading of a string under the first translation.
  static std::basic_string<C> own_reading(const std::wstring& file, int index) {
    const auto name = t<C>(file);
    std::vector<BYTE> block(T::size(name.c_str()));
    if (block.empty() || !T::read(name.c_str(), DWORD(block.size()), block.data())) return {};
    void* v = nullptr;
    UINT n = 0;
    if (!T::query(block.data(), L"\\VarFileInfo\\Translation", &v, &n) || n < 4) return {};
    wchar_t path[64];
    swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\%ls", static_cast<WORD*>(v)[0], static_cast<WORD*>(v)[1],
             kKeys[index]);
    if (!T::query(block.data(), path, &v, &n) || n == 0) return {};
    return static_cast<const C*>(v);
  }
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(VersionInfo, Widths);

TYPED_TEST(VersionInfo, StringsOfTheFirstTranslationOnly) {
  using C = typename TypeParam::C;
  struct Case {
    const std::wstring& file;
    int index, result;
    const wchar_t* text;
  };
  const std::wstring plain = text_file();
  const Case cases[] = {
      {kOwnDll, 3, 1, L"1.0.0.0"},  {kOwnDll, 4, 1, L"KX_Pellam"}, {kOwnDll, 7, 1, L"KX_Pellam.dll"},
      {kOwnDll, 9, 1, L"KX_Pellam"}, {kOwnDll, 10, 1, L"1.0.0.0"}, {kOwnDll, 0, 1, L""},
      {kProbe, 9, 1, L"Two Translations"}, {kProbe, 3, 1, L"2.5.0.1"}, {kProbe, 0, 1, L"First translation comments"},
      {kProbe, 11, 1, L""},  // held only under the second translation
      {kProbe, -1, 0, L""}, {kProbe, 12, 0, L""}, {kProbe, INT_MIN, 0, L""}, {kProbe, INT_MAX, 0, L""},
      {plain, 9, 0, L""},   {kMissing, 9, 0, L""},
  };
  for (const Case& c : cases) {
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
}

TYPED_TEST(VersionInfo, AWineSystemFileReadsAsTheTestReadsIt) {
  using C = typename TypeParam::C;
  int found = 0;
  for (int index = 0; index < 12; ++index) {
    std::basic_string<C> got;
    EXPECT_EQ(this->get(kSystem, index, got), 1);
    EXPECT_EQ(got, this->own_reading(kSystem, index)) << index;
    found += got.empty() ? 0 : 1;
  }
  EXPECT_GE(found, 3);
}

// "Two Translations" has 16 characters: it needs 17, and 16 gets nothing,
// not a cut string; no room at all writes nothing.
TYPED_TEST(VersionInfo, AValueLongerThanTheOutputIsRefusedWhole) {
  using C = typename TypeParam::C;
  std::basic_string<C> got;
  EXPECT_EQ(this->get(kProbe, 9, got, 17), 1);
  EXPECT_EQ(got, t<C>(L"Two Translations"));
  for (int size : {16, 1}) {
    kxtest::GuardBuffer<C> out(size);
    out.fill_garbage();
    EXPECT_EQ(TypeParam::get(t<C>(kProbe).c_str(), 9, out.data(), size), 1);
    EXPECT_EQ(out.data()[0], C(0));
    for (int i = 1; i < size; ++i) {
      EXPECT_EQ(out.data()[i], kxtest::kGarbage<C>[i % kxtest::kGarbageLength]) << "nothing after the terminator";
    }
  }
  for (int size : {0, -1}) {
    kxtest::GuardBuffer<C> none(0);
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
  struct Case {
    const std::wstring& file;
    int index;
    bool read_fails;
    int result;
    size_t blocks;
  };
  const Case cases[] = {{kProbe, 9, false, 1, 1}, {kProbe, 11, false, 1, 1}, {kProbe, 9, true, 0, 1},
                        {plain, 9, false, 0, 0},  {kMissing, 9, false, 0, 0}, {kProbe, 12, false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.file.begin(), c.file.end()) << " #" << c.index);
    rec.clear();
    read.script = [&](const C*, DWORD, DWORD, void*) -> std::optional<BOOL> {
      return c.read_fails ? std::optional<BOOL>(FALSE) : std::nullopt;
    };
    C out[MAX_PATH];
    EXPECT_EQ(TypeParam::get(t<C>(c.file).c_str(), c.index, out, MAX_PATH), c.result);
    ASSERT_EQ(alloc.count(), c.blocks);
    ASSERT_EQ(release.count(), c.blocks);
    EXPECT_EQ(size.count(), c.index == 12 ? 0u : 1u);
    if (c.blocks == 1) {
      EXPECT_EQ(std::get<1>(size.calls[0]), nullptr);
      EXPECT_GE(std::get<2>(alloc.calls[0]), TypeParam::size(t<C>(c.file).c_str()));
      EXPECT_EQ(std::get<2>(read.calls[0]), std::get<2>(alloc.calls[0]));
      EXPECT_EQ(std::get<3>(read.calls[0]), std::get<2>(release.calls[0]));
    }
  }
}

}  // namespace
