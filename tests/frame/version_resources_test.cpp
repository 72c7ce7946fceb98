// The version resource of every file a build ships, read the way an installer
// reads it before it replaces a shared copy; and, where the other
// architecture's build stands beside this one, the same resource in both.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/owners.h"
#include "kx_version.h"

namespace {

const std::wstring kOwnBin = KX_OWN_BIN, kOtherBin = KX_OTHER_BIN;
const std::wstring kVersion = L"" KX_VERSION_TEXT;

struct Shipped {
  const wchar_t* file;
  DWORD type;
  const wchar_t* internal_name;
  const wchar_t* description;
};
constexpr Shipped kShipped[] = {
    {L"KX_Pellam.dll", VFT_DLL, L"KX_Pellam", L"KX_Pellam installer and desktop helper library"},
    {L"KX_Brindel.dll", VFT_DLL, L"KX_Brindel", L"KX_Brindel string helper library"},
    {L"kxcall.exe", VFT_APP, L"kxcall", L"KX_Pellam and KX_Brindel exports from the command line"},
};

std::string narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }
bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every field an installer or Explorer's property page reads, for one file.
void expect_version_resource(const std::wstring& path, const Shipped& s) {
  SCOPED_TRACE(narrow(path));
  DWORD ignored = 0;
  std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(block.empty()) << "no version resource";
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const DWORD ms = MAKELONG(KX_VERSION_MINOR, KX_VERSION_MAJOR), ls = MAKELONG(KX_VERSION_TWEAK, KX_VERSION_PATCH);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);
  EXPECT_EQ(fixed->dwFileType, s.type);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, 4u);  // one translation only
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 1200);

  const std::wstring file = s.file;
  const struct {
    const wchar_t* name;
    std::wstring value;
  } strings[] = {
      {L"CompanyName", L"KX Software"},   {L"FileDescription", s.description},
      {L"FileVersion", kVersion},         {L"InternalName", s.internal_name},
      {L"LegalCopyright", L"Copyright (C) 2026 KX Software"},
      {L"OriginalFilename", file},        {L"ProductName", L"KX_Pellam"},
      {L"ProductVersion", kVersion},
  };
  for (const auto& v : strings) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041104B0\\") + v.name;
    wchar_t* value = nullptr;
    const bool found = VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length);
    EXPECT_EQ(found && value != nullptr ? std::wstring(value) : L"<missing>", v.value) << narrow(v.name);
  }
}

// The version resource exactly as the file holds it.
std::vector<BYTE> raw_version_resource(const std::wstring& path) {
  std::vector<BYTE> bytes;
  HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (m == nullptr) return bytes;
  if (HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16))) {  // RT_VERSION
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(m, r)));
    if (p != nullptr) bytes.assign(p, p + SizeofResource(m, r));
  }
  FreeLibrary(m);
  return bytes;
}

TEST(VersionResources, EveryFileOfThisBuild) {
  for (const Shipped& s : kShipped) expect_version_resource(kOwnBin + L"/" + s.file, s);
}

TEST(VersionResources, TheOtherBuildsFilesAndTheSameBytesInBoth) {
  if (!exists(kOtherBin + L"/KX_Pellam.dll")) {
    GTEST_SKIP() << "no build of the other architecture at " << narrow(kOtherBin);
  }
  for (const Shipped& s : kShipped) {
    const std::wstring own = kOwnBin + L"/" + s.file, other = kOtherBin + L"/" + s.file;
    expect_version_resource(other, s);
    const std::vector<BYTE> mine = raw_version_resource(own);
    EXPECT_FALSE(mine.empty()) << narrow(own);
    EXPECT_TRUE(mine == raw_version_resource(other)) << narrow(own) << " and " << narrow(other) << " differ";
  }
}

// kxcall --version names the same number its resource carries.
TEST(VersionResources, KxcallPrintsTheProductVersion) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  kx::Handle read, write;
  ASSERT_TRUE(CreatePipe(read.put(), write.put(), &inherit, 0));
  SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write.get();
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + kOwnBin + L"/kxcall.exe\" --version";
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  const kx::Handle process(pi.hProcess), thread(pi.hThread);
  write.reset();  // the child's copy is the only writer left: ReadFile ends when it exits
  std::string out;
  char chunk[256];
  DWORD got = 0;
  while (ReadFile(read.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
  DWORD code = 1;
  WaitForSingleObject(process.get(), 10000);
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(out, "kxcall " KX_VERSION_TEXT "\n");
}

}  // namespace
