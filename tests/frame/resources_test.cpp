// What a caller's tools read from the DLL file itself: the manifest of both
// builds (version_resources_test.cpp reads their version resources).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
