// Tour: an installer records a sample application with Windows (App Paths
// entry, application key, entry in the list of installed programs with its
// icon) and an uninstaller removes it again. After each step the tour shows
// what the registry holds, read with the plain registry API.
#include <windows.h>

#include <cstdio>

#include "KX_Pellam.h"

namespace {

const wchar_t kExe[] = L"kxdemo.exe";
const wchar_t kDir[] = L"C:\\Program Files\\KX Demo\\";
const wchar_t kAppPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kxdemo.exe";
const wchar_t kVendor[] = L"KX Demo Makers", kProduct[] = L"KX Demo", kVersion[] = L"1.0";
const wchar_t kAppKey[] = L"SOFTWARE\\KX Demo Makers\\KX Demo\\1.0";
const wchar_t kEntry[] = L"KX_Demo_Sample";
const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KX_Demo_Sample";

void result(const char* call, int value, const char* meaning) {
  std::printf("  %-52s = %d  (%s)\n", call, value, meaning);
}

// Every value of HKLM\<path>, or that the key is missing.
void show_key(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    std::printf("      HKLM\\%ls: no such key\n", path);
    return;
  }
  std::printf("      HKLM\\%ls\n", path);
  DWORD shown = 0;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    wchar_t data[MAX_PATH];
    DWORD name_chars = 256, bytes = sizeof data - sizeof(wchar_t), type = 0;
    const LSTATUS st = RegEnumValueW(key, i, name, &name_chars, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    if (st == ERROR_NO_MORE_ITEMS) break;
    if (st != ERROR_SUCCESS) continue;
    data[bytes / sizeof(wchar_t)] = 0;
    if (type == REG_SZ) {
      std::printf("        %-16ls = \"%ls\"\n", name_chars ? name : L"(default)", data);
    } else {
      std::printf("        %-16ls   type %lu\n", name_chars ? name : L"(default)", static_cast<unsigned long>(type));
    }
    ++shown;
  }
  if (shown == 0) std::printf("        (no values)\n");
  RegCloseKey(key);
}

}  // namespace

void show_install() {
  std::printf("\n== Registering and removing a sample application\n");
  std::printf("-- install\n");
  result("KX_InstRegistAppPathW(L\"kxdemo.exe\", dir)", KX_InstRegistAppPathW(kExe, kDir),
         "App Paths entry: start by bare name");
  show_key(kAppPath);
  wchar_t found[MAX_PATH];
  result("KX_InstQueryAppPathW(L\"kxdemo.exe\", buffer[260])", KX_InstQueryAppPathW(kExe, found),
         "its \"Path\" read back");
  std::printf("      buffer = \"%ls\"\n", found);
  result("KX_InstRegistAppW(vendor, product, version)", KX_InstRegistAppW(kVendor, kProduct, kVersion),
         "the application's own key");
  show_key(kAppKey);
  result("KX_InstRegistUninstallerW(entry, name, command, ...)",
         KX_InstRegistUninstallerW(kEntry, L"KX Demo 1.0", L"\"C:\\Program Files\\KX Demo\\uninstall.exe\"",
                                   L"KX Demo Makers", L"", L"1.0", kDir, nullptr),
         "status of the last value written");
  show_key(kUninstall);
  result("KX_InstMsiProductIconW(NULL, entry)", KX_InstMsiProductIconW(nullptr, kEntry),
         "1: the empty DisplayIcon now names this program");
  show_key(kUninstall);
  result("KX_InstMsiProductIconW(NULL, entry)", KX_InstMsiProductIconW(nullptr, kEntry),
         "0: an icon is there already, left alone");
  result("KX_InstRegistUninstallerW(entry, L\"\", ...)",
         KX_InstRegistUninstallerW(kEntry, L"", L"x", nullptr, nullptr, nullptr, nullptr, nullptr),
         "1: refused, an empty display name");

  std::printf("-- uninstall\n");
  result("KX_InstDeleteUninstallerW(entry)", KX_InstDeleteUninstallerW(kEntry), "entry removed");
  show_key(kUninstall);
  result("KX_InstDeleteUninstallerW(entry)", KX_InstDeleteUninstallerW(kEntry), "0: gone already");
  result("KX_InstDeleteAppW(vendor, product, version)", KX_InstDeleteAppW(kVendor, kProduct, kVersion),
         "key and its emptied parents removed");
  show_key(L"SOFTWARE\\KX Demo Makers");
  result("KX_InstDeleteAppPathW(L\"kxdemo.exe\")", KX_InstDeleteAppPathW(kExe), "App Paths entry removed");
  result("KX_InstQueryAppPathW(L\"kxdemo.exe\", buffer[260])", KX_InstQueryAppPathW(kExe, found),
         "2: no entry any more");
  std::printf("      buffer = \"%ls\"\n", found);
  result("KX_InstDeleteAppPathW(L\"kxdemo.exe\")", KX_InstDeleteAppPathW(kExe), "2: nothing to delete");
}
