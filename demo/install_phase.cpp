// The install phase: every step registers one part of the pretend product
// through the library, then reads it back from outside the library.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "KX_Pellam.h"
#include "round_trip.h"

namespace demo {
namespace {

bool module_path(const wchar_t* module, wchar_t* out) {
  const DWORD n = GetModuleFileNameW(module ? GetModuleHandleW(module) : nullptr, out, MAX_PATH);
  return n > 0 && n < MAX_PATH;
}

bool write_text(const wchar_t* path, const char* text) {
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  CloseHandle(file);
  return ok && written == std::strlen(text);
}

void folders(const Layout& l) {
  step("1. Folders (paths composed by KX_GetProgramPathW, KX_GetAppDataPathW, KX_GetStartProgramPathW)");
  for (const wchar_t* folder : {l.program_vendor, l.program, l.data_vendor, l.data, l.menu}) {
    CreateDirectoryW(folder, nullptr);
  }
  wchar_t self[MAX_PATH], dll[MAX_PATH], brindel[MAX_PATH];
  const bool copied = module_path(nullptr, self) && module_path(L"KX_Pellam.dll", dll) &&
                      module_path(L"KX_Brindel.dll", brindel) && CopyFileW(self, l.exe, FALSE) &&
                      CopyFileW(dll, l.dll, FALSE) && CopyFileW(brindel, l.brindel, FALSE) &&
                      write_text(l.document, "Welcome to KX Sample Notes.\r\n");
  DeleteFileW(l.log);
  did("program  %ls", l.program);
  did("data     %ls", l.data);
  did("menu     %ls", l.menu);
  did("copied kxnotes.exe (this demo), KX_Pellam.dll, KX_Brindel.dll; wrote data\\Welcome.kxnote");
  bool ok = copied;
  for (const wchar_t* folder : {l.program, l.data, l.menu}) ok = ok && entry(folder) == Entry::folder;
  for (const wchar_t* file : {l.exe, l.dll, l.brindel, l.document}) ok = ok && entry(file) == Entry::file;
  proof(ok, "GetFileAttributesW: 3 folders, 4 files in place");
}

void app_registration(const Layout& l) {
  step("2. App Paths entry and application key");
  did("KX_InstRegistAppPathW(L\"kxnotes.exe\", <program>\\) = %d", KX_InstRegistAppPathW(kExeName, l.program_slash));
  did("KX_InstRegistAppW(L\"%ls\", L\"%ls\", L\"%ls\") = %d", kVendor, kProduct, kVersion,
      KX_InstRegistAppW(kVendor, kProduct, kVersion));
  const Key app_path{HKEY_LOCAL_MACHINE, kAppPathKey, false};
  wchar_t whole[MAX_PATH], path[MAX_PATH];
  const bool read = read_string(app_path, nullptr, whole, MAX_PATH) && read_string(app_path, L"Path", path, MAX_PATH);
  proof(read && same_path(whole, l.exe) && same_path(path, l.program_slash),
        "%ls\n            (default) = \"%ls\"\n            Path      = \"%ls\"", shown(app_path), whole, path);
  const Key app{HKEY_LOCAL_MACHINE, kAppKey, true};
  proof(key_exists(app), "%ls exists", shown(app));
  DWORD code = 0, error = 0;
  const bool started = shell_open(kExeName, L"hello", &code, &error);
  const char* log = read_log(l.log);
  proof(started && code == 0 && std::strstr(log, "started as ") != nullptr,
        "ShellExecuteExW(L\"kxnotes.exe\") by bare name: exit %lu, the program wrote \"%s\"",
        static_cast<unsigned long>(started ? code : error), log);
}

void uninstall_entry(const Layout& l) {
  step("3. Uninstall entry (Add/Remove Programs)");
  wchar_t command[MAX_PATH], icon[MAX_PATH];
  std::swprintf(command, MAX_PATH, L"\"%ls\" uninstall", l.exe);
  std::swprintf(icon, MAX_PATH, L"%ls,0", l.exe);
  did("KX_InstRegistUninstallerW(L\"%ls\", L\"KX Sample Notes 1.0\", ...) = %d", kEntry,
      KX_InstRegistUninstallerW(kEntry, L"KX Sample Notes 1.0", command, kVendor, icon, kVersion, l.program_slash,
                                nullptr));
  const Key key{HKEY_LOCAL_MACHINE, kUninstallKey, true};
  wchar_t name[MAX_PATH], uninstall[MAX_PATH], publisher[MAX_PATH];
  const bool read = read_string(key, L"DisplayName", name, MAX_PATH) &&
                    read_string(key, L"UninstallString", uninstall, MAX_PATH) &&
                    read_string(key, L"Publisher", publisher, MAX_PATH);
  proof(read && std::wcscmp(name, L"KX Sample Notes 1.0") == 0 && std::wcscmp(uninstall, command) == 0 &&
            std::wcscmp(publisher, kVendor) == 0,
        "%ls\n            DisplayName = \"%ls\", Publisher = \"%ls\"\n            UninstallString = %ls", shown(key),
        name, publisher, uninstall);
}

void shared_dll(const Layout& l) {
  step("4. Shared DLL count for the installed KX_Pellam.dll");
  did("KX_InstCountUpSharedDLLsW(<program>\\KX_Pellam.dll) = %d", KX_InstCountUpSharedDLLsW(l.dll));
  const Key key{HKEY_LOCAL_MACHINE, kSharedDllsKey, true};
  DWORD count = 0;
  const bool read = read_dword(key, l.dll, &count);
  proof(read && count == 1, "%ls\n            \"%ls\" = REG_DWORD %lu", shown(key), l.dll,
        static_cast<unsigned long>(count));
}

void file_type(const Layout& l) {
  step("5. File type .kxnote with an open verb, and a document opened through the shell");
  wchar_t verb_key[MAX_PATH], command[MAX_PATH], text[MAX_PATH];
  std::swprintf(command, MAX_PATH, L"\"%ls\" open \"%%1\"", l.exe);
  did("KX_InstRegistExtW(L\"kxnote\", L\"KX Sample Note\", L\"%ls\", <program>\\kxnotes.exe, 0) = %d", kClass,
      KX_InstRegistExtW(kExtension, L"KX Sample Note", kClass, l.exe, 0));
  did("KX_InstRegistExtActionW(L\"%ls\", L\"open\", L\"command\", <command>) = %d", kClass,
      KX_InstRegistExtActionW(kClass, L"open", L"command", command));
  std::swprintf(verb_key, MAX_PATH, L"%ls\\shell\\open\\command", kClass);
  const Key extension{HKEY_CLASSES_ROOT, L".kxnote", false}, verb{HKEY_CLASSES_ROOT, verb_key, false};
  const bool named = read_string(extension, nullptr, text, MAX_PATH) && std::wcscmp(text, kClass) == 0;
  proof(named, "HKCR\\.kxnote = \"%ls\"", text);
  proof(read_string(verb, nullptr, text, MAX_PATH) && std::wcscmp(text, command) == 0, "%ls = %ls", shown(verb), text);
  DeleteFileW(l.log);
  DWORD code = 0, error = 0;
  const bool started = shell_open(l.document, nullptr, &code, &error);
  const char* log = read_log(l.log);
  proof(started && code == 0 && std::strstr(log, "Welcome.kxnote") != nullptr,
        "ShellExecuteExW(\"open\", data\\Welcome.kxnote): exit %lu, the program wrote\n            \"%s\"",
        static_cast<unsigned long>(started ? code : error), log);
}

// Wine's own shell link object reads the file back, as Explorer would.
bool shell_link_target(const wchar_t* link, wchar_t* target, wchar_t* description) {
  target[0] = description[0] = 0;
  IShellLinkW* shell_link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shell_link)))) {
    return false;
  }
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
  ok = ok && SUCCEEDED(file->Load(link, STGM_READ)) &&
       SUCCEEDED(shell_link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
       SUCCEEDED(shell_link->GetDescription(description, MAX_PATH));
  if (file != nullptr) file->Release();
  shell_link->Release();
  return ok;
}

void shortcut(const Layout& l) {
  step("6. Start-menu shortcut, created and resolved");
  did("KX_CreateShortcutW(<menu>\\KX Sample Notes.lnk, <program>\\kxnotes.exe, ...) = 0x%08lx",
      static_cast<unsigned long>(
          KX_CreateShortcutW(l.link, l.exe, nullptr, l.program, L"Take notes", 0, SW_SHOWNORMAL)));
  wchar_t target[MAX_PATH], folder[MAX_PATH], description[MAX_PATH];
  WORD hotkey = 0;
  int show = 0;
  const HRESULT resolved = KX_ResolveShortcutW(l.link, target, folder, description, &hotkey, &show, nullptr, nullptr);
  did("KX_ResolveShortcutW(...) = 0x%08lx: target %ls", static_cast<unsigned long>(resolved), target);
  wchar_t raw[MAX_PATH], raw_description[MAX_PATH];
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const bool read = shell_link_target(l.link, raw, raw_description);
  if (com) CoUninitialize();
  proof(resolved == S_OK && same_path(target, l.exe) && same_path(folder, l.program),
        "the resolve names the installed program and its folder");
  proof(read && same_path(raw, l.exe) && std::wcscmp(raw_description, L"Take notes") == 0,
        "IShellLinkW::Load/GetPath: \"%ls\", description \"%ls\"", raw, raw_description);
}

// The string of the file's first translation, read with the version API.
bool version_string(const BYTE* block, const wchar_t* name, wchar_t* out) {
  WORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < 4) {
    return false;
  }
  wchar_t query[64];
  std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(block, query, reinterpret_cast<void**>(&value), &length) || value == nullptr) return false;
  return std::swprintf(out, MAX_PATH, L"%ls", value) > 0;
}

void version(const Layout& l) {
  step("7. The library's version strings (the installed KX_Pellam.dll)");
  wchar_t product[MAX_PATH], file_version[MAX_PATH], description[MAX_PATH];
  const int has = KX_GetProductNameW(l.dll, product, MAX_PATH);
  KX_GetResourceVersionInfoW(l.dll, 3, file_version, MAX_PATH);
  KX_GetResourceVersionInfoW(l.dll, 2, description, MAX_PATH);
  did("KX_GetProductNameW = %d \"%ls\"; FileVersion \"%ls\"; FileDescription \"%ls\"", has, product, file_version,
      description);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(l.dll, &ignored);
  static BYTE block[16384];
  wchar_t their_product[MAX_PATH] = L"", their_version[MAX_PATH] = L"";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  const bool read = size > 0 && size <= sizeof block && GetFileVersionInfoW(l.dll, 0, size, block) &&
                    version_string(block, L"ProductName", their_product) &&
                    version_string(block, L"FileVersion", their_version) &&
                    VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr;
  proof(has && read && std::wcscmp(product, their_product) == 0 && std::wcscmp(file_version, their_version) == 0,
        "GetFileVersionInfoW/VerQueryValueW: \"%ls\" \"%ls\", fixed file version %u.%u.%u.%u", their_product,
        their_version, read ? HIWORD(fixed->dwFileVersionMS) : 0u, read ? LOWORD(fixed->dwFileVersionMS) : 0u,
        read ? HIWORD(fixed->dwFileVersionLS) : 0u, read ? LOWORD(fixed->dwFileVersionLS) : 0u);
}

}  // namespace

int install(const Layout& layout) {
  folders(layout);
  app_registration(layout);
  uninstall_entry(layout);
  shared_dll(layout);
  file_type(layout);
  shortcut(layout);
  version(layout);
  return failures();
}

}  // namespace demo
