// Tour: the user's and the machine's known folders, a folder with sub-folder
// names for a company and its product, and the folder of the running program.
#include <windows.h>

#include <cstdio>

#include "KX_Pellam.h"

namespace {

struct PlainFolder {
  const char* call;
  int(WINAPI* get)(LPWSTR, int);
};
struct ComposingFolder {
  const char* call;
  int(WINAPI* get)(LPWSTR, int, LPCWSTR, LPCWSTR);
};

const ComposingFolder kComposing[] = {
    {"KX_GetAppDataPathW", KX_GetAppDataPathW},
    {"KX_GetAppLocalDataPathW", KX_GetAppLocalDataPathW},
    {"KX_GetAppCommonDataPathW", KX_GetAppCommonDataPathW},
    {"KX_GetProgramPathW", KX_GetProgramPathW},
    {"KX_GetProgramCommonPathW", KX_GetProgramCommonPathW},
    {"KX_GetStartMenuPathW", KX_GetStartMenuPathW},
    {"KX_GetStartProgramPathW", KX_GetStartProgramPathW},
    {"KX_GetCommonStartMenuPathW", KX_GetCommonStartMenuPathW},
    {"KX_GetCommonStartProgramPathW", KX_GetCommonStartProgramPathW},
};
const PlainFolder kPlain[] = {
    {"KX_GetStartUpPathW", KX_GetStartUpPathW},
    {"KX_GetCommonStartUpPathW", KX_GetCommonStartUpPathW},
    {"KX_GetMyDocumentPathW", KX_GetMyDocumentPathW},
    {"KX_GetMyPicturePathW", KX_GetMyPicturePathW},
    {"KX_GetMyMusicPathW", KX_GetMyMusicPathW},
    {"KX_GetMyVideoPathW", KX_GetMyVideoPathW},
    {"KX_GetDesktopPathW", KX_GetDesktopPathW},
    {"KX_GetFavoritesPathW", KX_GetFavoritesPathW},
    {"KX_GetRecentPathW", KX_GetRecentPathW},
    {"KX_GetSendToPathW", KX_GetSendToPathW},
    {"KX_GetCommonDocumentPathW", KX_GetCommonDocumentPathW},
    {"KX_GetCommonDesktopPathW", KX_GetCommonDesktopPathW},
    {"KX_GetFontPathW", KX_GetFontPathW},
};

void show(const char* call, int result, const wchar_t* path) {
  std::printf("  %-52s = %d  %ls\n", call, result, result ? path : L"(no folder)");
}

}  // namespace

void show_folders() {
  wchar_t path[MAX_PATH];
  std::printf("\n== Known folders (buffer of %d characters)\n", MAX_PATH);
  for (const ComposingFolder& f : kComposing) {
    char call[80];
    std::snprintf(call, sizeof call, "%s(buf, %d, NULL, NULL)", f.call, MAX_PATH);
    show(call, f.get(path, MAX_PATH, nullptr, nullptr), path);
  }
  for (const PlainFolder& f : kPlain) {
    char call[80];
    std::snprintf(call, sizeof call, "%s(buf, %d)", f.call, MAX_PATH);
    show(call, f.get(path, MAX_PATH), path);
  }

  std::printf("With sub-folder names (the folders are not created):\n");
  show("KX_GetAppDataPathW(buf, 260, L\"Company\", L\"Product\")",
       KX_GetAppDataPathW(path, MAX_PATH, L"Company", L"Product"), path);
  show("KX_GetProgramPathW(buf, 260, L\"Company\", NULL)", KX_GetProgramPathW(path, MAX_PATH, L"Company", nullptr),
       path);
  const int tight = KX_GetAppDataPathW(path, 12, L"Company", L"Product");
  std::printf("  %-52s = %d  (too small: nothing is cut, buffer left empty)\n",
              "KX_GetAppDataPathW(buf, 12, L\"Company\", L\"Product\")", tight);

  std::printf("The folder of a module, with its trailing backslash:\n");
  show("KX_GetCurrentProgramPathW(NULL, buf, 260)", KX_GetCurrentProgramPathW(nullptr, path, MAX_PATH), path);
  show("KX_GetCurrentProgramPathW(<KX_Pellam.dll>, buf, 260)",
       KX_GetCurrentProgramPathW(GetModuleHandleW(L"KX_Pellam.dll"), path, MAX_PATH), path);
}
