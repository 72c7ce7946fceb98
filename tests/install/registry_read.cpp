#include "registry_read.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

namespace kxtest {

std::wstring StoredValue::as_wide() const {
  std::wstring s(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  while (!s.empty() && s.back() == L'\0') s.pop_back();
  return s;
}

std::string StoredValue::as_narrow() const {
  std::string s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

DWORD StoredValue::as_dword() const {
  DWORD v = 0;
  memcpy(&v, bytes.data(), bytes.size() < sizeof v ? bytes.size() : sizeof v);
  return v;
}

std::optional<StoredValue> read_value(HKEY root, const std::wstring& key, const wchar_t* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  StoredValue v;
  DWORD size = 0;
  LSTATUS st = RegQueryValueExW(k, name, nullptr, &v.type, nullptr, &size);
  if (st == ERROR_SUCCESS) {
    v.bytes.resize(size);
    st = RegQueryValueExW(k, name, nullptr, &v.type, v.bytes.data(), &size);
    v.bytes.resize(size);
  }
  RegCloseKey(k);
  if (st != ERROR_SUCCESS) return std::nullopt;
  return v;
}

bool key_exists(HKEY root, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

bool remove_tree(HKEY root, const std::wstring& key) {
  if (key.empty()) return false;  // never the root itself
  const LSTATUS st = SHDeleteKeyW(root, key.c_str());
  return st == ERROR_SUCCESS || st == ERROR_FILE_NOT_FOUND;
}

void write_raw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
  RegCloseKey(k);
}

void write_string(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  write_raw(root, key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::optional<std::wstring> class_default(const std::string& key) {
  const auto v = read_value(HKEY_CLASSES_ROOT, wide(key), nullptr);
  if (!v) return std::nullopt;
  return v->as_wide();
}

}  // namespace kxtest
