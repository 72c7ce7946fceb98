// The uninstall phase reverses every install step, in the opposite order of
// dependence, and then shows each key and folder gone.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <initializer_list>

#include "KX_Pellam.h"
#include "round_trip.h"

namespace demo {
namespace {

void shared_dll(const Layout& l) {
  step("1. Shared DLL count down");
  const Key key{HKEY_LOCAL_MACHINE, kSharedDllsKey, true};
  did("KX_InstCountDownSharedDLLsW(<program>\\KX_Pellam.dll) = %d", KX_InstCountDownSharedDLLsW(l.dll));
  DWORD count = 0;
  if (read_dword(key, l.dll, &count)) {
    // Another product still counts the file: it stays.
    proof(false, "%ls \"%ls\" still counts %lu", shown(key), l.dll, static_cast<unsigned long>(count));
    return;
  }
  did("the count reached zero: DeleteFileW(<program>\\KX_Pellam.dll) = %d", DeleteFileW(l.dll));
  proof(entry(l.dll) == Entry::missing, "RegGetValueW: no count left for \"%ls\"; the file is gone", l.dll);
}

void file_type(const Layout& l) {
  step("2. File type unregistered");
  did("KX_InstUnregistExtW(L\"kxnote\", L\"%ls\") = %d", kClass, KX_InstUnregistExtW(kExtension, kClass));
  const Key extension{HKEY_CLASSES_ROOT, L".kxnote", false}, type{HKEY_CLASSES_ROOT, kClass, false};
  proof(!key_exists(extension) && !key_exists(type), "HKCR\\.kxnote and HKCR\\%ls are gone", kClass);
  DWORD code = 0, error = 0;
  const bool started = shell_open(l.document, nullptr, &code, &error);
  proof(!started, "ShellExecuteExW(\"open\", data\\Welcome.kxnote) now fails: error %lu",
        static_cast<unsigned long>(error));
}

// The shell may still hold the folder for a moment after a shortcut in it was
// saved or deleted (Wine's menu builder reads every new start-menu entry).
BOOL remove_folder(const wchar_t* folder) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (RemoveDirectoryW(folder)) return TRUE;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FALSE;
    Sleep(100);
  }
  return FALSE;
}

void shortcut(const Layout& l) {
  step("3. Start-menu shortcut deleted");
  const BOOL deleted = DeleteFileW(l.link);
  did("DeleteFileW(<menu>\\KX Sample Notes.lnk) = %d, RemoveDirectoryW(<menu>) = %d", deleted, remove_folder(l.menu));
  proof(entry(l.link) == Entry::missing && entry(l.menu) == Entry::missing, "GetFileAttributesW: %ls is gone", l.menu);
}

void registration() {
  step("4. Uninstall entry, application key and App Paths entry deleted");
  did("KX_InstDeleteUninstallerW(L\"%ls\") = %d", kEntry, KX_InstDeleteUninstallerW(kEntry));
  did("KX_InstDeleteAppW(L\"%ls\", L\"%ls\", L\"%ls\") = %d", kVendor, kProduct, kVersion,
      KX_InstDeleteAppW(kVendor, kProduct, kVersion));
  did("KX_InstDeleteAppPathW(L\"kxnotes.exe\") = %d", KX_InstDeleteAppPathW(kExeName));
  DWORD code = 0, error = 0;
  const bool started = shell_open(kExeName, L"hello", &code, &error);
  proof(!started, "ShellExecuteExW(L\"kxnotes.exe\") by bare name now fails: error %lu",
        static_cast<unsigned long>(error));
}

void folders(const Layout& l) {
  step("5. Installed files and folders removed");
  int removed = 0;
  for (const wchar_t* file : {l.exe, l.brindel, l.document, l.log}) removed += DeleteFileW(file) ? 1 : 0;
  did("DeleteFileW: %d files", removed);
  removed = 0;
  // A vendor folder goes only when no other product of the vendor is left in it.
  for (const wchar_t* folder : {l.program, l.program_vendor, l.data, l.data_vendor}) {
    removed += RemoveDirectoryW(folder) ? 1 : 0;
  }
  did("RemoveDirectoryW: %d folders", removed);
}

}  // namespace

int uninstall(const Layout& l) {
  shared_dll(l);
  file_type(l);
  shortcut(l);
  registration();
  folders(l);

  std::printf("== After the uninstall: nothing of the product is left\n");
  const Key keys[] = {{HKEY_LOCAL_MACHINE, kAppPathKey, false},
                      {HKEY_LOCAL_MACHINE, kVendorKey, true},
                      {HKEY_LOCAL_MACHINE, kUninstallKey, true},
                      {HKEY_CLASSES_ROOT, L".kxnote", false},
                      {HKEY_CLASSES_ROOT, kClass, false}};
  for (const Key& key : keys) proof(!key_exists(key), "no key   %ls", shown(key));
  const Key shared{HKEY_LOCAL_MACHINE, kSharedDllsKey, true};
  DWORD count = 0;
  proof(!read_dword(shared, l.dll, &count), "no value %ls \"...\\KX_Pellam.dll\"", shown(shared));
  for (const wchar_t* folder : {l.program_vendor, l.data_vendor, l.menu}) {
    proof(entry(folder) == Entry::missing, "no folder %ls", folder);
  }
  return failures();
}

}  // namespace demo
