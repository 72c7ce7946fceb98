// A copy of a registry subtree taken at one moment: every sub-key, and every
// value's name, type and bytes (the default value included, under the empty
// name). A missing key is a state of its own, distinct from an empty key.
// Used to prove that a refused call changed nothing:
//
//   const kxtest::RegistrySnapshot before(HKEY_CURRENT_USER, L"Software\\KX_Test\\Case");
//   EXPECT_EQ(KX_SomethingW(... hostile ...), 0);
//   EXPECT_TRUE(kxtest::Unchanged(before));
//
// Names of keys and values are compared without regard to case, as the
// registry itself does; data is compared byte for byte.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kxtest {

class RegistrySnapshot {
 public:
  struct Value {
    std::wstring name;  // as enumerated; empty for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    // The name's case is not compared: the registry does not tell names apart by it.
    bool operator==(const Value& other) const { return type == other.type && data == other.data; }
  };
  struct Key {
    std::wstring path;  // relative to the snapshot's key; empty for that key itself
    LONG status = ERROR_SUCCESS;  // of opening and reading this key
    std::map<std::wstring, Value> values;  // by upper-cased name
    bool operator==(const Key& other) const { return status == other.status && values == other.values; }
  };

  // view may add KEY_WOW64_64KEY or KEY_WOW64_32KEY to every open.
  RegistrySnapshot(HKEY root, const wchar_t* subkey, REGSAM view = 0);

  // The same subtree, read again now.
  RegistrySnapshot retake() const { return RegistrySnapshot(root_, subkey_.c_str(), view_); }

  bool exists() const { return exists_; }
  // Every key of the subtree, the snapshot's own key first, by upper-cased path.
  const std::map<std::wstring, Key>& keys() const { return keys_; }
  // Root and sub-key, e.g. L"HKEY_CURRENT_USER\\Software\\X".
  std::wstring where() const;

  // Same existence, same keys, and in every key the same values.
  bool operator==(const RegistrySnapshot& other) const {
    return exists_ == other.exists_ && keys_ == other.keys_;
  }

  // One line per difference between this snapshot (before) and `now`, in
  // the form "+ key X", "- value X\\Name REG_SZ \"text\"", "~ value ...";
  // empty when the two are equal.
  std::wstring describe_difference(const RegistrySnapshot& now) const;
  // Every key and value, one per line, for failure messages.
  std::wstring describe() const;

 private:
  void capture(HKEY key, const std::wstring& path, int depth);

  HKEY root_;
  std::wstring subkey_;
  REGSAM view_;
  bool exists_ = false;
  std::map<std::wstring, Key> keys_;
};

// Passes if the subtree captured in `before` reads back identically now; the
// failure message lists every difference.
::testing::AssertionResult Unchanged(const RegistrySnapshot& before);

// A value's type and data as text, e.g. REG_SZ "abc" (8 bytes).
std::wstring describe_value(DWORD type, const std::vector<BYTE>& data);

}  // namespace kxtest
