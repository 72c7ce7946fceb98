// Tour: the icon count of a few files, and, when a person is there to answer
// (kx_demo --dialogs), each of the four dialogs with what it handed back.
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>

#include <cstdio>

#include "KX_Pellam.h"

namespace {

void show_icon_counts() {
  wchar_t self[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const wchar_t* const files[] = {self, L"C:\\windows\\system32\\shell32.dll", L"C:\\windows\\win.ini",
                                  L"C:\\no such file.exe"};
  for (const wchar_t* file : files) {
    std::printf("KX_GetExtractIconCountW(\"%ls\") = %d\n", file, KX_GetExtractIconCountW(nullptr, file));
  }
}

void show_dialogs_to_a_person() {
  // The folder browser relies on the caller's COM apartment.
  const HRESULT com = CoInitialize(nullptr);

  wchar_t file[MAX_PATH] = L"example.txt";
  int r = KX_GetOpenFileNameW(nullptr, L"KX demo: open a file", L"Text files\0*.txt\0All files\0*.*\0",
                              OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, file);
  std::printf("KX_GetOpenFileNameW = %d, file \"%ls\"\n", r, file);

  lstrcpyW(file, L"saved.txt");
  r = KX_GetSaveFileNameW(nullptr, L"KX demo: save as", L"All files\0*.*\0", OFN_OVERWRITEPROMPT, file);
  std::printf("KX_GetSaveFileNameW = %d, file \"%ls\"\n", r, file);

  wchar_t folder[MAX_PATH] = L"C:\\windows";
  r = KX_BrowseForFolderW(nullptr, L"KX demo: choose a folder (C:\\windows is selected first)", nullptr, folder);
  std::printf("KX_BrowseForFolderW = %d, folder \"%ls\"\n", r, folder);

  COLORREF colour = RGB(0x20, 0x60, 0xC0);
  r = KX_BrowseColor(nullptr, &colour, CC_RGBINIT | CC_FULLOPEN);
  std::printf("KX_BrowseColor = %d, colour 0x%06lX\n", r, static_cast<unsigned long>(colour));

  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace

void show_dialogs(bool person_present) {
  std::printf("\n== Dialogs and icon counts\n");
  show_icon_counts();
  if (person_present) {
    show_dialogs_to_a_person();
  } else {
    std::printf("(the open, save, folder and colour dialogs wait for a person: run with --dialogs)\n");
  }
}
