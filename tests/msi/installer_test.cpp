// Packages built from KX_Pellam.wxs (wixl, then the fix-up), installed and
// removed by the platform's own msiexec: the shared-DLL counts the Installer
// keeps against the library's, both ways; an advertised shortcut to a really
// installed component; the product icon on the Installer's uninstall entry.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "KX_Pellam.h"
#include "support/width.h"

namespace {

struct Product {
  const wchar_t *code, *package, *folder, *note;  // note: the component of its own file
};
const Product kA{L"{E7F978B4-6B09-4031-977E-1F9F2370A7A7}", L"kxtest-a.msi", L"KXTest MSI A",
                 L"{54D0EA81-3155-415A-AC07-070251417177}"};
const Product kB{L"{93C8C288-8B50-467D-9E17-F3025CE8E7C4}", L"kxtest-b.msi", L"KXTest MSI B",
                 L"{C451D36A-74B6-4DBC-80E5-639647069E28}"};
const std::wstring kCv = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
// The package's registry view is this process's; the other one must stay untouched.
const REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
const REGSAM kOtherView = KEY_WOW64_64KEY + KEY_WOW64_32KEY - kOwnView;

std::wstring here() {
  std::wstring dir = KX_MSI_DIR L"\\";
  std::replace(dir.begin(), dir.end(), L'/', L'\\');
  return dir;
}
std::wstring folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}
bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD msiexec(const std::wstring& arguments) {
  std::wstring command = L"msiexec.exe " + arguments;
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process))
    return GetLastError() | 0x80000000;
  WaitForSingleObject(process.hProcess, 120000);
  DWORD status = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// A product installed silently for the scope of a test, and removed again.
struct Installed {
  explicit Installed(const Product& p) : code(p.code), status(msiexec(L"/i \"" + here() + p.package + L"\" /qn")) {}
  ~Installed() { remove(); }
  DWORD remove() {
    const wchar_t* installed = std::exchange(code, nullptr);
    return installed ? msiexec(L"/x " + std::wstring(installed) + L" /qn") : 0;
  }
  const wchar_t* code;
  const DWORD status;
};

std::optional<std::wstring> read(const std::wstring& key, const wchar_t* name, REGSAM view, DWORD* type = nullptr) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS) return {};
  wchar_t data[MAX_PATH] = {};
  DWORD bytes = sizeof data - sizeof(wchar_t), kind = 0;
  const LSTATUS status = RegQueryValueExW(k, name, nullptr, &kind, reinterpret_cast<BYTE*>(data), &bytes);
  RegCloseKey(k);
  if (type != nullptr) *type = kind;
  if (status != ERROR_SUCCESS) return {};
  return kind == REG_DWORD ? std::to_wstring(*reinterpret_cast<DWORD*>(data)) : std::wstring(data);
}

// The count of a shared file as both twins read it, checked against the
// value itself in the package's view; the other view holds none.
int count(const std::wstring& file) {
  const int wide = KX_InstGetCountSharedDLLsW(file.c_str());
  EXPECT_EQ(KX_InstGetCountSharedDLLsA(kxtest::text<char>(file).c_str()), wide) << "A twin";
  DWORD type = 0;
  const auto own = read(kCv + L"SharedDLLs", file.c_str(), kOwnView, &type);
  EXPECT_EQ(own.value_or(L"-1"), std::to_wstring(wide)) << "the value in the package's view";
  EXPECT_EQ(own ? type : DWORD(REG_DWORD), DWORD(REG_DWORD)) << "a REG_DWORD";
  EXPECT_FALSE(read(kCv + L"SharedDLLs", file.c_str(), kOtherView)) << "the other view";
  return wide;
}

TEST(InstallerCounts, AreTheLibrarysBothWaysAndKeepSharedFilesForTheLastProduct) {
  const std::wstring common = folder(CSIDL_PROGRAM_FILES_COMMON) + L"\\KX_Pellam\\";
  const std::wstring pellam = common + L"KX_Pellam.dll", brindel = common + L"KX_Brindel.dll";
  const auto counts = [&] { return std::to_string(count(pellam)) + " " + std::to_string(count(brindel)); };
  const auto there = [&] { return int(exists(pellam)) + int(exists(brindel)); };
  ASSERT_EQ(counts(), "-1 -1");
  {
    Installed a(kA);
    ASSERT_EQ(a.status, 0u);
    EXPECT_EQ(counts(), "1 1");
    Installed b(kB);
    ASSERT_EQ(b.status, 0u);
    EXPECT_EQ(counts(), "2 2");
    EXPECT_EQ(a.remove(), 0u);
    EXPECT_EQ(counts(), "1 1");
    EXPECT_EQ(there(), 2) << "B still has them";
    EXPECT_EQ(b.remove(), 0u);
    EXPECT_EQ(counts(), "-1 -1");
    EXPECT_EQ(there(), 0) << "the last product took them";
  }
  // Another installer's product counted KX_Pellam.dll through the library:
  // the Installer raises that count and lowers it back, and the library
  // raises and lowers a count the Installer made. (Wine's Installer deletes
  // the file on removal even so; Windows keeps it. Not asserted here.)
  ASSERT_EQ(KX_InstCountUpSharedDLLsW(pellam.c_str()), 0);
  {
    Installed a(kA);
    ASSERT_EQ(a.status, 0u);
    EXPECT_EQ(counts(), "2 1");
    EXPECT_EQ(KX_InstCountUpSharedDLLsA(kxtest::text<char>(brindel).c_str()), 0);
    EXPECT_EQ(counts(), "2 2");
  }
  EXPECT_EQ(counts(), "1 1");
  EXPECT_EQ(KX_InstCountDownSharedDLLsA(kxtest::text<char>(pellam).c_str()), 0);
  EXPECT_EQ(KX_InstCountDownSharedDLLsW(brindel.c_str()), 0);
  EXPECT_EQ(counts(), "-1 -1");
}

// A writes an empty DisplayIcon into the entry the Installer makes; B's
// entry has none.
TEST(InstallerEntries, ProductIconFillsOnlyAnEmptyDisplayIcon) {
  Installed a(kA), b(kB);
  ASSERT_EQ(a.status | b.status, 0u);
  const std::wstring entry_a = kCv + L"Uninstall\\" + kA.code, entry_b = kCv + L"Uninstall\\" + kB.code;
  ASSERT_TRUE(read(entry_b, L"DisplayName", kOwnView)) << "the Installer's entry";
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "W" : "A");
    EXPECT_EQ(read(entry_a, L"DisplayIcon", kOwnView), L"");
    const auto icon = [&](const Product& p) {
      return wide ? KX_InstMsiProductIconW(nullptr, p.code)
                  : KX_InstMsiProductIconA(nullptr, kxtest::text<char>(std::wstring(p.code)).c_str());
    };
    EXPECT_EQ(icon(kA), 1);
    EXPECT_EQ(read(entry_a, L"DisplayIcon", kOwnView), std::wstring(self));
    EXPECT_EQ(icon(kB), 0);
    EXPECT_FALSE(read(entry_b, L"DisplayIcon", kOwnView));
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry_a.c_str(), 0, KEY_SET_VALUE | kOwnView, &k), ERROR_SUCCESS);
    RegSetValueExW(k, L"DisplayIcon", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    RegCloseKey(k);
  }
  EXPECT_EQ(a.remove() | b.remove(), 0u);
  EXPECT_FALSE(read(entry_a, L"DisplayName", kOwnView));
  EXPECT_EQ(KX_InstMsiProductIconW(nullptr, kA.code), 0);
}

// The Installer's packing of a GUID in a descriptor: its four 32-bit words,
// five base-85 digits each, lowest first.
std::wstring packed(const wchar_t* guid) {
  static const char digits[] = "!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";
  GUID g{};
  CLSIDFromString(guid, &g);
  DWORD words[4];
  memcpy(words, &g, sizeof words);
  std::wstring out;
  for (DWORD x : words)
    for (int i = 0; i < 5; ++i, x /= 85) out += wchar_t(digits[x % 85]);
  return out;
}
// A product code as the Installer's registry keys spell it.
std::wstring squished(const std::wstring& guid) {
  const auto reversed = [&](size_t at, size_t n) {
    std::wstring part = guid.substr(1 + at, n);
    return std::reverse(part.begin(), part.end()), part;
  };
  std::wstring out = reversed(0, 8) + reversed(9, 4) + reversed(14, 4);
  for (size_t at : {19, 21, 24, 26, 28, 30, 32, 34}) out += reversed(at, 2);
  return out;
}

// Saves a link to path through the shell, or (path null) reads the path
// the shell finds in one.
std::wstring shell_link(const std::wstring& file, const wchar_t* path, HRESULT* result) {
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  wchar_t found[MAX_PATH] = {};
  *result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                             reinterpret_cast<void**>(&link));
  if (SUCCEEDED(*result)) *result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
  if (SUCCEEDED(*result) && path != nullptr) {
    link->SetPath(path);
    *result = persist->Save(file.c_str(), TRUE);
  } else if (SUCCEEDED(*result) && SUCCEEDED(*result = persist->Load(file.c_str(), STGM_READ))) {
    *result = link->GetPath(found, MAX_PATH, nullptr, 0);
  }
  if (persist) persist->Release();
  if (link) link->Release();
  CoUninitialize();
  return found;
}

template <class C>
std::wstring resolved(const std::wstring& file) {
  C out[MAX_PATH];
  std::fill_n(out, MAX_PATH, C('g'));
  const auto resolve = kxtest::pick<C>(KX_ResolveShortcutW, KX_ResolveShortcutA);
  EXPECT_GE(resolve(kxtest::text<C>(file).c_str(), out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  return std::wstring(out, std::find(out, out + MAX_PATH, C(0)));
}

TEST(AdvertisedShortcut, ResolvesToTheInstallersPathOnlyWhileTheComponentIsThere) {
  Installed a(kA);
  ASSERT_EQ(a.status, 0u);
  // The packing is the one the Installer wrote for the product's feature.
  const auto feature = read(kCv + L"Installer\\UserData\\S-1-5-18\\Products\\" + squished(kA.code) + L"\\Features",
                            L"Main", KEY_WOW64_64KEY);
  ASSERT_TRUE(feature);
  EXPECT_NE(feature->find(packed(kA.note)), std::wstring::npos) << *feature;

  const std::wstring advertised = here() + L"advertised.lnk", plain = here() + L"plain.lnk";
  const std::wstring own = here() + L"own.txt";
  CloseHandle(CreateFileW(own.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  HRESULT result = E_FAIL;
  shell_link(advertised,
             (L"::{9DB1186E-40DF-11D1-AA8C-00C04FB67863}:" + packed(kA.code) + L"Main>" + packed(kA.note) + L"::").c_str(),
             &result);
  ASSERT_EQ(result, S_OK);
  shell_link(plain, own.c_str(), &result);
  ASSERT_EQ(result, S_OK);
  // The Installer knows the link; the shell finds no path in it.
  wchar_t product[39] = {}, feature_name[MAX_FEATURE_CHARS + 1] = {}, component[39] = {};
  ASSERT_EQ(MsiGetShortcutTargetW(advertised.c_str(), product, feature_name, component), 0u);
  EXPECT_EQ(std::wstring(product) + feature_name + component, std::wstring(kA.code) + L"Main" + kA.note);
  EXPECT_EQ(shell_link(advertised, nullptr, &result), L"");
  EXPECT_EQ(result, S_FALSE);

  const std::wstring note = folder(CSIDL_PROGRAM_FILES) + L"\\" + kA.folder + L"\\note.txt";
  const auto expect = [&](INSTALLSTATE state, const std::wstring& target) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = MAX_PATH;
    EXPECT_EQ(MsiGetComponentPathW(kA.code, kA.note, path, &n), state);
    EXPECT_EQ(path, state == INSTALLSTATE_UNKNOWN ? L"" : note) << "what the Installer's query gives";
    EXPECT_EQ(resolved<wchar_t>(advertised), target);
    EXPECT_EQ(resolved<char>(advertised), target);
    EXPECT_EQ(resolved<wchar_t>(plain), own);
    EXPECT_EQ(resolved<char>(plain), own);
  };
  {
    SCOPED_TRACE("installed");
    expect(INSTALLSTATE_LOCAL, note);
  }
  {
    SCOPED_TRACE("key file gone: the link holds no path of its own");
    ASSERT_TRUE(MoveFileW(note.c_str(), (note + L".away").c_str()));
    expect(INSTALLSTATE_ABSENT, L"");
    ASSERT_TRUE(MoveFileW((note + L".away").c_str(), note.c_str()));
  }
  EXPECT_EQ(a.remove(), 0u);
  SCOPED_TRACE("uninstalled");
  expect(INSTALLSTATE_UNKNOWN, L"");
}

}  // namespace
