// Reads the registry back with the plain API, never through the library, so
// that a test sees what the library really wrote.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kxtest {

struct StoredValue {
  DWORD type = 0;
  std::vector<BYTE> bytes;
  // The data as a wide string, without the terminator the registry keeps.
  std::wstring as_wide() const;
  std::string as_narrow() const;
  DWORD as_dword() const;
};

// nullopt when the key or the value does not exist. name null or "" is the default value.
std::optional<StoredValue> read_value(HKEY root, const std::wstring& key, const wchar_t* name);
bool key_exists(HKEY root, const std::wstring& key);
// Removes key and everything below it; true also when it was already gone.
bool remove_tree(HKEY root, const std::wstring& key);
void write_string(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value);
void write_raw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD bytes);

std::wstring wide(const std::string& ascii);
// The default value of a key below HKEY_CLASSES_ROOT (named in ASCII) as
// text; nullopt when the key or the value does not exist.
std::optional<std::wstring> class_default(const std::string& key);

}  // namespace kxtest
