#include "hand.h"

#include <msi.h>
#include <mmsystem.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>

namespace hand {
namespace {

const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// dst = a + b when it fits MAX_PATH with its terminator.
bool join(wchar_t* dst, const wchar_t* a, const wchar_t* b) {
  const size_t na = wcslen(a), nb = wcslen(b);
  if (na + nb >= MAX_PATH) return false;
  wmemcpy(dst, a, na);
  wmemcpy(dst + na, b, nb + 1);
  return true;
}

bool entry_key(wchar_t* key, const wchar_t* file) {
  wchar_t prefix[MAX_PATH];
  return join(prefix, kAppPaths, L"\\") && join(key, prefix, file);
}

}  // namespace

int regist_app_path(const wchar_t* file, const wchar_t* directory) {
  if (file == nullptr || *file == 0 || directory == nullptr || *directory == 0) return 1;
  wchar_t key_path[MAX_PATH], program[MAX_PATH];
  if (!entry_key(key_path, file) || !join(program, directory, file)) return 1;
  HKEY key;
  wchar_t no_class[] = L"";
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, no_class, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory),
                 static_cast<DWORD>(wcslen(directory) * sizeof(wchar_t)));
  RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(program),
                 static_cast<DWORD>(wcslen(program) * sizeof(wchar_t)));
  RegCloseKey(key);
  return ERROR_SUCCESS;
}

int query_app_path(const wchar_t* file, wchar_t* out) {
  if (file == nullptr || *file == 0 || out == nullptr) return 1;
  wchar_t key_path[MAX_PATH];
  if (!entry_key(key_path, file)) return 1;
  out[0] = 0;
  HKEY key;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  DWORD bytes = MAX_PATH * sizeof(wchar_t);
  status = RegQueryValueExW(key, L"path", nullptr, nullptr, reinterpret_cast<BYTE*>(out), &bytes);
  RegCloseKey(key);
  // The value may be stored without its terminator.
  const DWORD chars = bytes / sizeof(wchar_t);
  if (status == ERROR_SUCCESS) {
    if (chars >= MAX_PATH && out[MAX_PATH - 1] != 0) {
      out[0] = 0;
      return ERROR_MORE_DATA;
    }
    out[chars < MAX_PATH ? chars : MAX_PATH - 1] = 0;
  }
  return status;
}

int delete_app_path(const wchar_t* file) {
  if (file == nullptr || *file == 0 || wcslen(file) >= MAX_PATH) return 1;
  HKEY list;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppPaths, 0, KEY_ALL_ACCESS, &list);
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteKeyW(list, file);
  RegCloseKey(list);
  return status;
}

int app_data_path(wchar_t* out, int size, const wchar_t* first, const wchar_t* second) {
  if (out == nullptr) return 0;
  if (size > 0) out[0] = 0;
  wchar_t folder[MAX_PATH];
  folder[0] = 0;
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return 0;
  const size_t n = wcslen(folder);
  if (n == 0) return 0;
  size_t required = n + 1;
  if (first != nullptr) required += wcslen(first) + 1;
  if (second != nullptr) required += wcslen(second);
  // wsprintfW writes at most 1,024 characters.
  if (size <= 0 || required >= static_cast<size_t>(size) || required >= 1024) return 0;
  if (first == nullptr && second == nullptr) {
    wsprintfW(out, L"%s", folder);
  } else if (second == nullptr) {
    wsprintfW(out, L"%s\\%s", folder, first);
  } else if (first == nullptr) {
    wsprintfW(out, L"%s\\%s", folder, second);
  } else {
    wsprintfW(out, L"%s\\%s\\%s", folder, first, second);
  }
  return 1;
}

int product_name(const wchar_t* file, wchar_t* out, int size) {
  if (out == nullptr || size <= 0) return 0;
  out[0] = 0;
  const DWORD bytes = GetFileVersionInfoSizeW(file, nullptr);
  if (bytes == 0) return 0;
  void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
  if (block == nullptr) return 0;
  if (GetFileVersionInfoW(file, 0, bytes, block)) {
    WORD* translation = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 2 * sizeof(WORD)) {
      wchar_t path[MAX_PATH];
      wsprintfW(path, L"\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], L"ProductName");
      wchar_t* value = nullptr;
      if (VerQueryValueW(block, path, reinterpret_cast<void**>(&value), &length) && length > 0 &&
          wcsnlen(value, length) < static_cast<size_t>(size)) {
        lstrcpynW(out, value, size);
      }
    }
  }
  HeapFree(GetProcessHeap(), 0, block);
  return 1;
}

HRESULT create_shortcut(const wchar_t* shortcut, const wchar_t* target, const wchar_t* arguments,
                        const wchar_t* directory, const wchar_t* description, WORD hotkey, int show) {
  if (shortcut == nullptr || target == nullptr) return E_INVALIDARG;
  const HRESULT com = CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&link));
  if (SUCCEEDED(result)) {
    link->SetPath(target);
    if (arguments != nullptr) link->SetArguments(arguments);
    if (directory != nullptr) link->SetWorkingDirectory(directory);
    if (description != nullptr) link->SetDescription(description);
    link->SetHotkey(hotkey);
    link->SetShowCmd(show);
    IPersistFile* file = nullptr;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result)) {
      result = file->Save(shortcut, TRUE);
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

namespace {

bool installed_target(const wchar_t* shortcut, wchar_t* target) {
  wchar_t product[MAX_PATH], feature[MAX_PATH], component[MAX_PATH];
  if (MsiGetShortcutTargetW(shortcut, product, feature, component) != ERROR_SUCCESS) return false;
  DWORD count = MAX_PATH;
  return MsiGetComponentPathW(product, component, target, &count) == INSTALLSTATE_LOCAL;
}

HRESULT read_link(IShellLinkW* link, IPersistFile* file, const wchar_t* shortcut, wchar_t* target,
                  wchar_t* directory, wchar_t* description, WORD* hotkey, int* show, wchar_t* icon_path,
                  int* icon_index) {
  HRESULT result = file->Load(shortcut, STGM_READ);
  if (FAILED(result)) return result;
  result = link->Resolve(nullptr, SLR_NO_UI | 0x100);
  if (FAILED(result)) return result;
  if (!installed_target(shortcut, target)) {
    WIN32_FIND_DATAW scratch = {};
    result = link->GetPath(target, MAX_PATH, &scratch, SLGP_UNCPRIORITY);
    if (FAILED(result)) return result;
  }
  if (directory != nullptr && FAILED(result = link->GetWorkingDirectory(directory, MAX_PATH))) return result;
  if (description != nullptr && FAILED(result = link->GetDescription(description, MAX_PATH))) return result;
  if (hotkey != nullptr && FAILED(result = link->GetHotkey(hotkey))) return result;
  if (show != nullptr && FAILED(result = link->GetShowCmd(show))) return result;
  if (icon_path != nullptr) result = link->GetIconLocation(icon_path, MAX_PATH, icon_index);
  return result;
}

}  // namespace

HRESULT resolve_shortcut(const wchar_t* shortcut, wchar_t* target, wchar_t* directory, wchar_t* description,
                         WORD* hotkey, int* show, wchar_t* icon_path, int* icon_index) {
  if (shortcut == nullptr || target == nullptr || (icon_path != nullptr && icon_index == nullptr)) {
    return E_INVALIDARG;
  }
  const HRESULT com = CoInitialize(nullptr);
  target[0] = 0;
  if (directory != nullptr) directory[0] = 0;
  if (description != nullptr) description[0] = 0;
  if (hotkey != nullptr) *hotkey = 0;
  if (show != nullptr) *show = SW_SHOWNORMAL;
  if (icon_path != nullptr) icon_path[0] = 0, *icon_index = 0;
  IShellLinkW* link = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&link));
  if (SUCCEEDED(result)) {
    IPersistFile* file = nullptr;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result)) {
      result = read_link(link, file, shortcut, target, directory, description, hotkey, show, icon_path, icon_index);
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

int mci_open(const wchar_t* file, const wchar_t* alias) {
  if (file == nullptr || alias == nullptr) return 0;
  const size_t n = wcslen(file);
  if (n + 3 > MAX_PATH) return 0;
  wchar_t quoted[MAX_PATH];
  quoted[0] = L'"';
  wmemcpy(quoted + 1, file, n);
  quoted[n + 1] = L'"';
  quoted[n + 2] = 0;
  if (n + 2 + wcslen(alias) + 12 >= 520) return 0;
  wchar_t command[520];
  wsprintfW(command, L"open %s alias %s", quoted, alias);
  return mciSendStringW(command, nullptr, 0, nullptr) == 0 ? 1 : 0;
}

int mci_close(const wchar_t* alias) {
  if (alias == nullptr || wcslen(alias) + 6 >= 512) return 0;
  wchar_t command[512];
  wsprintfW(command, L"close %s", alias);
  return mciSendStringW(command, nullptr, 0, nullptr) == 0 ? 1 : 0;
}

namespace {

int architecture() {
  using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  using NativeInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  BOOL wow64 = FALSE;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (auto is_wow64 = reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))) {
    BOOL state = FALSE;
    if (is_wow64(GetCurrentProcess(), &state)) wow64 = state;
  }
  if (wow64) return 2;
  SYSTEM_INFO info = {};
  kernel = GetModuleHandleA("kernel32.dll");
  if (auto native =
          reinterpret_cast<NativeInfoFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")))) {
    native(&info);
  } else {
    GetSystemInfo(&info);
  }
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
                 info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64
             ? 1
             : 0;
}

}  // namespace

// Windows 7 or later, workstation, 32-bit edition.
int platform7_later(int service_pack) {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 1;
  DWORDLONG conditions = 0;
  conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
  conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
  DWORD type = VER_MAJORVERSION | VER_MINORVERSION;
  if (service_pack != -1) {
    version.wServicePackMajor = static_cast<WORD>(service_pack);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    type |= VER_SERVICEPACKMAJOR;
  }
  version.wProductType = VER_NT_WORKSTATION;
  conditions = VerSetConditionMask(conditions, VER_PRODUCT_TYPE, VER_EQUAL);
  type |= VER_PRODUCT_TYPE;
  if (!VerifyVersionInfoW(&version, type, conditions)) return 0;
  return architecture() == 0 ? 1 : 0;
}

}  // namespace hand
