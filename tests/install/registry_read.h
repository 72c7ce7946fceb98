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

}  // namespace kxtest

// ---------------------------------------------------------------------------
// Registry calls of KX_Pellam.dll watched through its import table: every key
// it creates or opens and every key it closes, with failures injected on
// chosen calls (appended for the file-type and shell-verb tests).
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <map>

#include "support/recorder.h"

namespace kxtest {

template <class C>
struct RegistryImports;
template <>
struct RegistryImports<wchar_t> {
  using Create = decltype(::RegCreateKeyExW);
  using Open = decltype(::RegOpenKeyExW);
  using Set = decltype(::RegSetValueExW);
  using DeleteKey = decltype(::RegDeleteKeyW);
  using DeleteTree = decltype(::SHDeleteKeyW);
  static constexpr const char* kNames[] = {"RegCreateKeyExW", "RegOpenKeyExW", "RegSetValueExW", "RegDeleteKeyW",
                                           "SHDeleteKeyW"};
};
template <>
struct RegistryImports<char> {
  using Create = decltype(::RegCreateKeyExA);
  using Open = decltype(::RegOpenKeyExA);
  using Set = decltype(::RegSetValueExA);
  using DeleteKey = decltype(::RegDeleteKeyA);
  using DeleteTree = decltype(::SHDeleteKeyA);
  static constexpr const char* kNames[] = {"RegCreateKeyExA", "RegOpenKeyExA", "RegSetValueExA", "RegDeleteKeyA",
                                           "SHDeleteKeyA"};
};

template <class C>
class KeyWatch {
  using I = RegistryImports<C>;

 public:
  KeyWatch()
      : rec(::GetModuleHandleW(L"KX_Pellam.dll")),
        create(rec.hook<typename I::Create>(nullptr, I::kNames[0])),
        open(rec.hook<typename I::Open>(nullptr, I::kNames[1])),
        set(rec.hook<typename I::Set>(nullptr, I::kNames[2])),
        delete_key(rec.hook<typename I::DeleteKey>(nullptr, I::kNames[3])),
        delete_tree(rec.hook<typename I::DeleteTree>(nullptr, I::kNames[4])),
        close(rec.hook<decltype(::RegCloseKey)>(nullptr, "RegCloseKey")),
        notify(rec.hook<decltype(::SHChangeNotify)>(nullptr, "SHChangeNotify")) {
    create.script = [this](HKEY root, const C* sub, DWORD reserved, C* cls, DWORD options, REGSAM sam,
                           const LPSECURITY_ATTRIBUTES sa, PHKEY out, LPDWORD disposition) -> std::optional<LONG> {
      if (auto it = fail_create.find(create.count()); it != fail_create.end()) return it->second;
      const LONG status = create.call_real(root, sub, reserved, cls, options, sam, sa, out, disposition);
      if (status == ERROR_SUCCESS) acquired.push_back(*out);
      return status;
    };
    open.script = [this](HKEY root, const C* sub, DWORD options, REGSAM sam, PHKEY out) -> std::optional<LONG> {
      if (auto it = fail_open.find(open.count()); it != fail_open.end()) return it->second;
      const LONG status = open.call_real(root, sub, options, sam, out);
      if (status == ERROR_SUCCESS) acquired.push_back(*out);
      return status;
    };
    close.observe = [this](HKEY key) { released.push_back(key); };
  }

  // Calls that read or change the registry (closing excluded).
  std::size_t registry_calls() const {
    return create.count() + open.count() + set.count() + delete_key.count() + delete_tree.count();
  }

  // Every key acquired was closed exactly once, and nothing else was closed.
  ::testing::AssertionResult balanced() const {
    std::vector<HKEY> a = acquired, r = released;
    std::sort(a.begin(), a.end());
    std::sort(r.begin(), r.end());
    if (a == r) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a.size() << " keys acquired, " << r.size() << " closed";
  }

  // Every create below HKEY_CLASSES_ROOT: full access and no view flag,
  // reserved 0, class "", options 0, no security attributes.
  ::testing::AssertionResult creates_follow_conventions() const {
    for (std::size_t i = 0; i < create.calls.size(); ++i) {
      const auto& c = create.calls[i];
      const auto& cls = std::get<3>(c);
      if (std::get<0>(c) != HKEY_CLASSES_ROOT || std::get<2>(c) != 0 || !cls || !cls->empty() ||
          std::get<4>(c) != 0 || std::get<5>(c) != KEY_ALL_ACCESS || std::get<6>(c) != nullptr) {
        return ::testing::AssertionFailure() << "create #" << i + 1 << " breaks the conventions";
      }
    }
    return ::testing::AssertionSuccess();
  }

  Recorder rec;
  Hook<typename I::Create>& create;
  Hook<typename I::Open>& open;
  Hook<typename I::Set>& set;
  Hook<typename I::DeleteKey>& delete_key;
  Hook<typename I::DeleteTree>& delete_tree;
  Hook<decltype(::RegCloseKey)>& close;
  Hook<decltype(::SHChangeNotify)>& notify;
  // By 1-based call number: the status that call fails with instead.
  std::map<std::size_t, LONG> fail_create, fail_open;
  std::vector<HKEY> acquired, released;
};

}  // namespace kxtest
