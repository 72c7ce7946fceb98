// What a caller's tools read from the DLL file itself: the manifest of both
// builds and the version resource of the 64-bit build.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring x64_path() { return KX_X64_DLL; }

std::string manifest_of(const std::wstring& path) {
  HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (m == nullptr) return "<not loadable as data>";
  std::string text;
  if (HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24))) {
    const void* p = LockResource(LoadResource(m, r));
    text.assign(static_cast<const char*>(p), SizeofResource(m, r));
  }
  FreeLibrary(m);
  return text;
}

TEST(Resources, BothBuildsCarryAnAsInvokerManifestAsResourceTwo) {
  for (const std::wstring& path : {x64_path(), std::wstring(KX_X86_DLL)}) {
    const std::string manifest = manifest_of(path);
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos) << manifest;
  }
}

// The version resource is the 64-bit build's alone.
TEST(Resources, OnlyThe64BitBuildCarriesAVersionResource) {
  DWORD handle = 0;
  EXPECT_GT(GetFileVersionInfoSizeW(KX_X64_DLL, &handle), 0u);
  EXPECT_EQ(GetFileVersionInfoSizeW(KX_X86_DLL, &handle), 0u);
}

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(x64_path().c_str(), &handle);
    ASSERT_GT(size, 0u);
    block_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(x64_path().c_str(), 0, size, block_.data()));
  }
  std::wstring string_value(const wchar_t* name) {
    void* p = nullptr;
    UINT len = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
    if (!VerQueryValueW(block_.data(), query.c_str(), &p, &len) || p == nullptr) return L"<missing>";
    return static_cast<const wchar_t*>(p);
  }
  std::vector<BYTE> block_;
};

TEST_F(VersionResource, FixedPartDescribesA1000NtDll) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileOS, 0x40004u);
}

TEST_F(VersionResource, OneJapaneseUnicodeStringTableWithTheEightStrings) {
  DWORD* translation = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
  ASSERT_EQ(len, 4u);
  EXPECT_EQ(LOWORD(*translation), 0x0411);
  EXPECT_EQ(HIWORD(*translation), 1200);

  EXPECT_EQ(string_value(L"FileVersion"), L"1.0.0.0");
  EXPECT_EQ(string_value(L"ProductVersion"), L"1.0.0.0");
  EXPECT_EQ(string_value(L"InternalName"), L"KX_Pellam");
  EXPECT_EQ(string_value(L"OriginalFilename"), L"KX_Pellam.dll");
  for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"LegalCopyright", L"ProductName"}) {
    const std::wstring v = string_value(name);
    EXPECT_NE(v, L"<missing>") << name;
    EXPECT_FALSE(v.empty()) << name;
  }
}

}  // namespace
