// The export surface as a caller's loader and linker see it: plain names,
// ordinals that never move, the same table in both builds, and a public
// header that declares exactly what the DLL exports.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "frame/catalogue.h"
#include "pe_image.h"

namespace {

std::wstring module_path(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

// Loaded by name, as a caller that binds at run time would: these tests call
// no export, so the linker records no import of the DLL.
HMODULE pellam() {
  static const HMODULE module = LoadLibraryW(L"KX_Pellam.dll");
  return module;
}

std::map<std::string, unsigned> catalogue() {
  std::map<std::string, unsigned> names;
  for (const auto& e : kxtest::kCatalogue) names.emplace(e.name, e.ordinal);
  return names;
}

// Each name's ordinal is its rank in byte-wise order; the catalogue itself
// must hold to that, or every check against it is worthless.
TEST(Catalogue, IsTheByteWiseOrderOfAllNames) {
  ASSERT_EQ(std::size(kxtest::kCatalogue), 196u);
  for (size_t i = 0; i < std::size(kxtest::kCatalogue); ++i) {
    EXPECT_EQ(kxtest::kCatalogue[i].ordinal, i + 1);
    if (i > 0) {
      EXPECT_LT(std::strcmp(kxtest::kCatalogue[i - 1].name, kxtest::kCatalogue[i].name), 0)
          << kxtest::kCatalogue[i - 1].name << " / " << kxtest::kCatalogue[i].name;
    }
  }
  const auto names = catalogue();
  EXPECT_EQ(names.at("KX_AttachInput"), 1u);
  EXPECT_EQ(names.at("KX_SND_DeleteSoundMemory"), 179u);
  EXPECT_EQ(names.at("KX_SetAlphaLayer"), 184u);
  EXPECT_EQ(names.at("KX_TaskBarModifyTipW"), 196u);
}

void expect_exports_match_catalogue(const kxtest::PeImage& image, const char* which) {
  ASSERT_TRUE(image.ok) << which;
  ASSERT_FALSE(image.exports.empty()) << which;
  EXPECT_EQ(image.unnamed_exports, 0u) << which << ": every export must have its name";
  const auto names = catalogue();
  for (const auto& e : image.exports) {
    SCOPED_TRACE(std::string(which) + ": " + e.name);
    EXPECT_EQ(e.name.find('@'), std::string::npos) << "decorated name";
    EXPECT_EQ(e.name.rfind("KX_", 0), 0u) << "name without the KX_ prefix";
    const auto it = names.find(e.name);
    ASSERT_NE(it, names.end()) << "not in the catalogue";
    EXPECT_EQ(e.ordinal, it->second);
  }
}

TEST(ExportTable, X64NamesAndOrdinalsFollowTheCatalogue) {
  const auto image = kxtest::read_pe(KX_X64_DLL);
  ASSERT_TRUE(image.ok) << "both builds must be built before the tests run";
  EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_AMD64);
  expect_exports_match_catalogue(image, "x64");
}

TEST(ExportTable, X86ExportsTheSamePlainNamesWithTheSameOrdinals) {
  const auto x86 = kxtest::read_pe(KX_X86_DLL);
  ASSERT_TRUE(x86.ok) << "both builds must be built before the tests run";
  EXPECT_EQ(x86.machine, IMAGE_FILE_MACHINE_I386);
  expect_exports_match_catalogue(x86, "x86");
  EXPECT_EQ(x86.exports, kxtest::read_pe(KX_X64_DLL).exports);
}

// The DLL this process loaded is the one its own build made.
TEST(ExportTable, TheLoadedDllIsThisBuildsOwn) {
  const auto image = kxtest::read_pe(module_path(pellam()));
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(image.machine, sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
  expect_exports_match_catalogue(image, "loaded");
}

// A caller may bind by ordinal: the loader must reach the same code both ways.
TEST(ExportTable, OrdinalAndNameReachTheSameFunction) {
  const auto image = kxtest::read_pe(module_path(pellam()));
  for (const auto& e : image.exports) {
    FARPROC by_name = GetProcAddress(pellam(), e.name.c_str());
    FARPROC by_ordinal = GetProcAddress(pellam(), MAKEINTRESOURCEA(e.ordinal));
    EXPECT_NE(by_name, nullptr) << e.name;
    EXPECT_EQ(by_name, by_ordinal) << e.name;
  }
}

std::set<std::string> header_declarations() {
  std::ifstream in(std::filesystem::path(KX_PUBLIC_HEADER));
  std::stringstream text;
  text << in.rdbuf();
  std::set<std::string> names;
  const std::string s = text.str();
  const std::regex decl(R"(WINAPI\s+(KX_\w+)\s*\()");
  for (auto it = std::sregex_iterator(s.begin(), s.end(), decl); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1]);
  return names;
}

TEST(PublicHeader, DeclaresExactlyTheExports) {
  std::set<std::string> exported;
  for (const auto& e : kxtest::read_pe(module_path(pellam())).exports) exported.insert(e.name);
  const std::set<std::string> declared = header_declarations();
  ASSERT_FALSE(declared.empty()) << "header not found or not parsed";
  EXPECT_EQ(declared, exported);
}

bool is_system_dll(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const std::set<std::string> system = {
      "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
      "oleaut32.dll", "version.dll", "comdlg32.dll", "winmm.dll", "imm32.dll", "msi.dll", "msvcrt.dll"};
  return system.count(name) != 0 || name.rfind("api-ms-win-", 0) == 0;
}

// Both DLLs must run beside a caller's program with nothing else shipped:
// no C++ runtime, no libgcc, no winpthread.
TEST(ImportTable, OnlySystemDllsAndTheSibling) {
  const struct {
    std::wstring path;
    bool may_import_sibling;
  } files[] = {{KX_X64_DLL, true},
               {KX_X64_BRINDEL, false},
               {KX_X86_DLL, true},
               {KX_X86_BRINDEL, false}};
  for (const auto& f : files) {
    const auto image = kxtest::read_pe(f.path);
    ASSERT_TRUE(image.ok);
    for (const auto& dll : image.imported_dlls) {
      const bool sibling = _stricmp(dll.c_str(), "KX_Brindel.dll") == 0;
      EXPECT_TRUE(is_system_dll(dll) || (sibling && f.may_import_sibling))
          << "unexpected import " << dll << " in " << std::string(f.path.begin(), f.path.end());
    }
  }
}

}  // namespace
