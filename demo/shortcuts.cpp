// Tour: a start-menu shortcut for a sample application (this demo itself),
// created, resolved back and removed again; then the version strings the
// library carries in its own file.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>

#include "KX_Pellam.h"

namespace {

const char* const kKeys[] = {"Comments",       "CompanyName",     "FileDescription", "FileVersion",
                             "InternalName",   "LegalCopyright",  "LegalTrademarks", "OriginalFilename",
                             "PrivateBuild",   "ProductName",     "ProductVersion",  "SpecialBuild"};

void show_start_menu_shortcut() {
  wchar_t app[MAX_PATH], app_dir[MAX_PATH], folder[MAX_PATH], link[MAX_PATH];
  std::printf("\n== Shortcut files\n");
  GetModuleFileNameW(nullptr, app, MAX_PATH);
  KX_GetCurrentProgramPathW(nullptr, app_dir, MAX_PATH);
  if (!KX_GetStartProgramPathW(folder, MAX_PATH, L"KX Demo", nullptr)) {
    std::printf("  no start-menu folder here\n");
    return;
  }
  CreateDirectoryW(folder, nullptr);
  std::swprintf(link, MAX_PATH, L"%ls\\Sample App.lnk", folder);

  const WORD hotkey = MAKEWORD('S', HOTKEYF_CONTROL | HOTKEYF_ALT);
  const HRESULT created =
      KX_CreateShortcutW(link, app, L"--sample", app_dir, L"KX_Pellam sample application", hotkey, SW_SHOWNORMAL);
  std::printf("  KX_CreateShortcutW(\"%ls\", ...) = 0x%08lx\n", link, static_cast<unsigned long>(created));

  wchar_t target[MAX_PATH], dir[MAX_PATH], description[MAX_PATH];
  WORD got_hotkey = 0;
  int show = 0;
  const HRESULT resolved = KX_ResolveShortcutW(link, target, dir, description, &got_hotkey, &show, nullptr, nullptr);
  std::printf("  KX_ResolveShortcutW(...) = 0x%08lx\n", static_cast<unsigned long>(resolved));
  std::printf("    target      %ls\n    directory   %ls\n    description %ls\n    hotkey      0x%04x\n", target, dir,
              description, got_hotkey);

  const bool removed = DeleteFileW(link) && RemoveDirectoryW(folder);
  std::printf("  shortcut and its folder removed: %s\n", removed ? "yes" : "no");
}

void show_own_version() {
  wchar_t dll[MAX_PATH], value[MAX_PATH];
  std::printf("\n== Version resource of KX_Pellam.dll\n");
  GetModuleFileNameW(GetModuleHandleW(L"KX_Pellam.dll"), dll, MAX_PATH);
  const int has = KX_GetProductNameW(dll, value, MAX_PATH);
  std::printf("  KX_GetProductNameW(<KX_Pellam.dll>) = %d  %ls\n", has, value);
  if (!has) {
    std::printf("  (this build carries no version resource; the 64-bit build does)\n");
    return;
  }
  for (int index = 0; index < 12; ++index) {
    if (KX_GetResourceVersionInfoW(dll, index, value, MAX_PATH) && value[0] != 0) {
      std::printf("  %2d %-17s %ls\n", index, kKeys[index], value);
    }
  }
}

}  // namespace

void show_shortcuts() {
  show_start_menu_shortcut();
  show_own_version();
}
