// Registry calls of one width for the installation families. Every key is
// opened or created with full access and no WOW64 view flag, so each build
// works in the registry view of its own bitness, and with the same class,
// options and security for every create.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include "frame/owners.h"
#include "kx/twins.h"

namespace kx {

struct RegistryW : Wide {
  static LSTATUS create(HKEY root, const wchar_t* path, RegKey& key) noexcept {
    static wchar_t no_class[] = L"";
    return ::RegCreateKeyExW(root, path, 0, no_class, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  }
  static LSTATUS open(HKEY root, const wchar_t* path, RegKey& key) noexcept {
    return ::RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, key.put());
  }
  // REG_SZ without its terminator in the byte count.
  static LSTATUS set_string(HKEY key, const wchar_t* name, const wchar_t* value) noexcept {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), string_bytes(value));
  }
  static LSTATUS set_dword(HKEY key, const wchar_t* name, DWORD value) noexcept {
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  static LSTATUS query(HKEY key, const wchar_t* name, DWORD* type, void* data, DWORD* bytes) noexcept {
    return ::RegQueryValueExW(key, name, nullptr, type, static_cast<BYTE*>(data), bytes);
  }
  static LSTATUS delete_key(HKEY key, const wchar_t* name) noexcept { return ::RegDeleteKeyW(key, name); }
  static LSTATUS delete_value(HKEY key, const wchar_t* name) noexcept { return ::RegDeleteValueW(key, name); }
  // Deletes name and everything below it.
  static LSTATUS delete_tree(HKEY key, const wchar_t* name) noexcept { return ::SHDeleteKeyW(key, name); }
};

struct RegistryA : Narrow {
  static LSTATUS create(HKEY root, const char* path, RegKey& key) noexcept {
    static char no_class[] = "";
    return ::RegCreateKeyExA(root, path, 0, no_class, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  }
  static LSTATUS open(HKEY root, const char* path, RegKey& key) noexcept {
    return ::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, key.put());
  }
  static LSTATUS set_string(HKEY key, const char* name, const char* value) noexcept {
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), string_bytes(value));
  }
  static LSTATUS set_dword(HKEY key, const char* name, DWORD value) noexcept {
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  static LSTATUS query(HKEY key, const char* name, DWORD* type, void* data, DWORD* bytes) noexcept {
    return ::RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), bytes);
  }
  static LSTATUS delete_key(HKEY key, const char* name) noexcept { return ::RegDeleteKeyA(key, name); }
  static LSTATUS delete_value(HKEY key, const char* name) noexcept { return ::RegDeleteValueA(key, name); }
  static LSTATUS delete_tree(HKEY key, const char* name) noexcept { return ::SHDeleteKeyA(key, name); }
};

// Creates root\key_name and writes its default value: the creation's failure,
// else the write's. A key without its default value is no association (an
// extension that names no class), so a failed write is no success.
template <class R>
LSTATUS create_with_default(HKEY root, const typename R::Char* key_name, const typename R::Char* value) noexcept {
  RegKey key;
  const LSTATUS status = R::create(root, key_name, key);
  if (status != ERROR_SUCCESS) return status;
  return R::set_string(key.get(), nullptr, value);
}

// Opens a list key (App Paths, Uninstall) and deletes one entry below it
// without recursing: the open's failure, else the deletion's result, where a
// list that treats a missing entry as already removed passes
// missing_is_removed.
template <class R>
LSTATUS delete_list_entry(const typename R::Char* list_path, const typename R::Char* entry,
                          bool missing_is_removed) noexcept {
  RegKey list;
  const LSTATUS opened = R::open(HKEY_LOCAL_MACHINE, list_path, list);
  if (opened != ERROR_SUCCESS) return opened;
  const LSTATUS deleted = R::delete_key(list.get(), entry);
  return missing_is_removed && deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

}  // namespace kx
