// The application's entry in the list of installed programs, and the icon
// that list shows for it.
//
// Every argument is checked and every path composed before the first registry
// call, so a refused call has touched nothing.
#include <windows.h>

#include "KX_Pellam.h"
#include "install/key_name.h"
#include "install/registry.h"
#include "kx/results.h"

namespace {

using kx::kRefused;

struct UninstallW : kx::RegistryW {
  static DWORD module_path(HMODULE module, wchar_t* path, DWORD capacity) noexcept {
    return ::GetModuleFileNameW(module, path, capacity);
  }
};

struct UninstallA : kx::RegistryA {
  static DWORD module_path(HMODULE module, char* path, DWORD capacity) noexcept {
    return ::GetModuleFileNameA(module, path, capacity);
  }
};

template <class C>
bool compose_entry(kx::PathBuffer<C>& path, const C* entry) noexcept {
  return path.copy(KX_TEXT(C, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")).append(entry).ok();
}

template <class R>
LSTATUS regist_uninstaller(const typename R::Char* entry, const typename R::Char* display_name,
                           const typename R::Char* uninstall_command, const typename R::Char* publisher,
                           const typename R::Char* icon, const typename R::Char* version,
                           const typename R::Char* location, const typename R::Char* url) noexcept {
  using C = typename R::Char;
  if (!kx::is_key_name(entry) || kx::is_empty(display_name) || kx::is_empty(uninstall_command)) return kRefused;
  kx::PathBuffer<C> path;
  if (!compose_entry(path, entry)) return kRefused;

  kx::RegKey key;
  const LSTATUS created = R::create(HKEY_LOCAL_MACHINE, path.c_str(), key);
  if (created != ERROR_SUCCESS) return created;

  struct Value {
    const C* name;
    const C* text;  // null: not written
  };
  const Value values[] = {
      {KX_TEXT(C, "DisplayName"), display_name}, {KX_TEXT(C, "UninstallString"), uninstall_command},
      {KX_TEXT(C, "Publisher"), publisher},      {KX_TEXT(C, "DisplayIcon"), icon},
      {KX_TEXT(C, "DisplayVersion"), version},   {KX_TEXT(C, "InstallLocation"), location},
      {KX_TEXT(C, "URLInfoAbout"), url},
  };
  // Every value is attempted, and the first failed write is the result: an
  // entry whose "DisplayName" or "UninstallString" is missing is not listed,
  // so a later good write must not hide that failure.
  LSTATUS status = ERROR_SUCCESS;
  for (const Value& value : values) {
    if (value.text == nullptr) continue;
    const LSTATUS written = R::set_string(key.get(), value.name, value.text);
    if (status == ERROR_SUCCESS) status = written;
  }
  return status;
}

// A missing entry is no failure here: the entry is gone either way. An entry
// that stays (it has sub-keys, or the caller may not delete it) is reported
// with the deletion's code rather than as success.
template <class R>
LSTATUS delete_uninstaller(const typename R::Char* entry) noexcept {
  using C = typename R::Char;
  if (!kx::is_key_name(entry)) return kRefused;
  return kx::delete_list_entry<R>(KX_TEXT(C, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"), entry,
                                  true);
}

// Fills in a "DisplayIcon" that the entry holds empty and never overwrites
// one that names an icon; 1 only once the path is really stored. Without a
// usable module path nothing is written: an entry name that is empty (it
// would name the Uninstall list itself), a module the platform knows no path
// for, or a path cut at 260 characters.
template <class R>
int msi_product_icon(HMODULE module, const typename R::Char* entry) noexcept {
  using C = typename R::Char;
  if (!kx::is_key_name(entry)) return 0;
  kx::PathBuffer<C> path;
  if (!compose_entry(path, entry)) return 0;

  kx::RegKey key;
  if (R::open(HKEY_LOCAL_MACHINE, path.c_str(), key) != ERROR_SUCCESS) return 0;
  // Starts out as the empty string: a value of 0 bytes reads back as empty.
  kx::PathBuffer<C> stored;
  DWORD type = REG_SZ;
  DWORD bytes = kx::kPathCapacity * sizeof(C);
  const C* icon_name = KX_TEXT(C, "DisplayIcon");
  if (R::query(key.get(), icon_name, &type, stored.data(), &bytes) != ERROR_SUCCESS) return 0;
  if (stored.data()[0] != 0) return 0;

  C module_file[kx::kPathCapacity];
  const DWORD length = R::module_path(module, module_file, kx::kPathCapacity);
  if (length == 0 || length >= static_cast<DWORD>(kx::kPathCapacity)) return 0;
  module_file[length] = 0;
  return R::set_string(key.get(), icon_name, module_file) == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

extern "C" int WINAPI KX_InstRegistUninstallerW(const wchar_t* keyName, const wchar_t* displayName,
                                                const wchar_t* uninstallString, const wchar_t* publisher,
                                                const wchar_t* displayIcon, const wchar_t* displayVersion,
                                                const wchar_t* installLocation, const wchar_t* urlInfoAbout) {
  return regist_uninstaller<UninstallW>(keyName, displayName, uninstallString, publisher, displayIcon,
                                        displayVersion, installLocation, urlInfoAbout);
}
extern "C" int WINAPI KX_InstRegistUninstallerA(const char* keyName, const char* displayName,
                                                const char* uninstallString, const char* publisher,
                                                const char* displayIcon, const char* displayVersion,
                                                const char* installLocation, const char* urlInfoAbout) {
  return regist_uninstaller<UninstallA>(keyName, displayName, uninstallString, publisher, displayIcon,
                                        displayVersion, installLocation, urlInfoAbout);
}
extern "C" int WINAPI KX_InstDeleteUninstallerW(const wchar_t* keyName) {
  return delete_uninstaller<UninstallW>(keyName);
}
extern "C" int WINAPI KX_InstDeleteUninstallerA(const char* keyName) {
  return delete_uninstaller<UninstallA>(keyName);
}
extern "C" int WINAPI KX_InstMsiProductIconW(HMODULE module, const wchar_t* keyName) {
  return msi_product_icon<UninstallW>(module, keyName);
}
extern "C" int WINAPI KX_InstMsiProductIconA(HMODULE module, const char* keyName) {
  return msi_product_icon<UninstallA>(module, keyName);
}
