#include "support/registry_snapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace kxtest {
namespace {

// Deeper than any tree the library writes; stops a runaway recursion through
// a key the platform links back to an ancestor.
constexpr int kMaxDepth = 64;

std::wstring upper(const std::wstring& text) {
  if (text.empty()) return text;
  std::wstring out(text.size(), L'\0');
  const int n = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                               out.data(), static_cast<int>(out.size()));
  if (n <= 0) return text;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::wstring join(const std::wstring& path, const std::wstring& name) {
  return path.empty() ? name : path + L"\\" + name;
}

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* put() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

const wchar_t* root_name(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return L"HKEY_CURRENT_CONFIG";
  return nullptr;
}

const wchar_t* type_name(DWORD type) {
  switch (type) {
    case REG_NONE: return L"REG_NONE";
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_BINARY: return L"REG_BINARY";
    case REG_DWORD: return L"REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return L"REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return L"REG_LINK";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_QWORD: return L"REG_QWORD";
    default: return nullptr;
  }
}

std::wstring quoted(const wchar_t* text, std::size_t max_chars, std::size_t* used) {
  std::wstring out = L"\"";
  std::size_t n = 0;
  while (n < max_chars && text[n] != L'\0') ++n;
  out.append(text, n);
  out += L'"';
  *used = n;
  return out;
}

std::wstring value_label(const std::wstring& key_path, const std::wstring& name) {
  std::wstring where = key_path.empty() ? L"" : key_path + L"\\";
  return where + (name.empty() ? L"(default)" : name);
}

}  // namespace

std::wstring describe_value(DWORD type, const std::vector<BYTE>& data) {
  std::wstring out;
  if (const wchar_t* name = type_name(type)) {
    out = name;
  } else {
    out = L"type " + std::to_wstring(type);
  }
  out += L' ';
  const auto* wide = reinterpret_cast<const wchar_t*>(data.data());
  const std::size_t chars = data.size() / sizeof(wchar_t);
  wchar_t hex[16];
  if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_LINK) && chars > 0) {
    std::size_t used = 0;
    out += quoted(wide, chars, &used);
    if (used == chars) out += L" unterminated";
  } else if (type == REG_MULTI_SZ && chars > 0) {
    out += L'[';
    std::size_t at = 0;
    while (at < chars && wide[at] != L'\0') {
      std::size_t used = 0;
      if (at != 0) out += L", ";
      out += quoted(wide + at, chars - at, &used);
      at += used + 1;
    }
    out += L']';
  } else if (type == REG_DWORD && data.size() == 4) {
    DWORD v = 0;
    std::memcpy(&v, data.data(), 4);
    std::swprintf(hex, 16, L"0x%08lx", static_cast<unsigned long>(v));
    out += hex;
  } else if (type == REG_QWORD && data.size() == 8) {
    unsigned long long v = 0;
    std::memcpy(&v, data.data(), 8);
    out += L"0x";
    for (int shift = 60; shift >= 0; shift -= 4) out += L"0123456789abcdef"[(v >> shift) & 0xF];
  } else {
    constexpr std::size_t kShown = 64;
    for (std::size_t i = 0; i < data.size() && i < kShown; ++i) {
      std::swprintf(hex, 16, i == 0 ? L"%02x" : L" %02x", data[i]);
      out += hex;
    }
    if (data.size() > kShown) out += L" ...";
  }
  out += L" (" + std::to_wstring(data.size()) + L" bytes)";
  return out;
}

RegistrySnapshot::RegistrySnapshot(HKEY root, const wchar_t* subkey, REGSAM view)
    : root_(root), subkey_(subkey != nullptr ? subkey : L""), view_(view) {
  KeyHandle key;
  const LONG status = ::RegOpenKeyExW(root_, subkey_.c_str(), 0, KEY_READ | view_, key.put());
  if (status == ERROR_FILE_NOT_FOUND) return;
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "RegistrySnapshot: cannot open " << where() << ", error " << status;
    return;
  }
  exists_ = true;
  capture(key.get(), L"", 0);
}

void RegistrySnapshot::capture(HKEY key, const std::wstring& path, int depth) {
  Key& entry = keys_[upper(path)];
  entry.path = path;

  DWORD subkeys = 0, max_subkey = 0, values = 0, max_name = 0, max_data = 0;
  entry.status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr, &values,
                                    &max_name, &max_data, nullptr, nullptr);
  if (entry.status != ERROR_SUCCESS) return;

  std::vector<wchar_t> name(max_name + 2);
  std::vector<BYTE> data(max_data + 2);
  for (DWORD i = 0;; ++i) {
    DWORD name_len = static_cast<DWORD>(name.size());
    DWORD data_len = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LONG r = ::RegEnumValueW(key, i, name.data(), &name_len, nullptr, &type, data.data(), &data_len);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_MORE_DATA) {
      // Grown since the query; retry this index with room to spare.
      name.resize(name.size() * 2 + 256);
      data.resize(std::max<std::size_t>(data.size() * 2, data_len + 2));
      --i;
      continue;
    }
    if (r != ERROR_SUCCESS) {
      entry.status = r;
      break;
    }
    Value v;
    v.name.assign(name.data(), name_len);
    v.type = type;
    v.data.assign(data.begin(), data.begin() + data_len);
    entry.values[upper(v.name)] = std::move(v);
  }

  std::vector<std::wstring> children;
  std::vector<wchar_t> child(std::max<DWORD>(max_subkey, 255) + 2);
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(child.size());
    const LONG r = ::RegEnumKeyExW(key, i, child.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_MORE_DATA) {
      child.resize(child.size() * 2);
      --i;
      continue;
    }
    if (r != ERROR_SUCCESS) {
      entry.status = r;
      break;
    }
    children.emplace_back(child.data(), len);
  }
  if (depth >= kMaxDepth) {
    if (!children.empty()) ADD_FAILURE() << "RegistrySnapshot: " << where() << " is deeper than " << kMaxDepth;
    return;
  }
  for (const std::wstring& c : children) {
    const std::wstring child_path = join(path, c);
    KeyHandle sub;
    const LONG r = ::RegOpenKeyExW(key, c.c_str(), 0, KEY_READ | view_, sub.put());
    if (r != ERROR_SUCCESS) {
      Key& failed = keys_[upper(child_path)];
      failed.path = child_path;
      failed.status = r;
      continue;
    }
    capture(sub.get(), child_path, depth + 1);
  }
}

std::wstring RegistrySnapshot::where() const {
  std::wstring out;
  if (const wchar_t* name = root_name(root_)) {
    out = name;
  } else {
    wchar_t buf[32];
    std::swprintf(buf, 32, L"HKEY(%p)", static_cast<void*>(root_));
    out = buf;
  }
  if (!subkey_.empty()) out += L"\\" + subkey_;
  return out;
}

std::wstring RegistrySnapshot::describe() const {
  if (!exists_) return where() + L": missing\n";
  std::wstring out = where() + L":\n";
  for (const auto& [upper_path, key] : keys_) {
    out += L"  key " + (key.path.empty() ? std::wstring(L"(self)") : key.path);
    if (key.status != ERROR_SUCCESS) out += L" (error " + std::to_wstring(key.status) + L")";
    out += L'\n';
    for (const auto& [upper_name, value] : key.values) {
      out += L"    value " + value_label(L"", value.name) + L" " + describe_value(value.type, value.data) + L"\n";
    }
  }
  return out;
}

std::wstring RegistrySnapshot::describe_difference(const RegistrySnapshot& now) const {
  if (*this == now) return L"";
  std::wstring out;
  if (exists_ != now.exists_) {
    out += where() + (exists_ ? L": existed, now missing\n" : L": was missing, now exists\n");
  }
  std::set<std::wstring> paths;
  for (const auto& k : keys_) paths.insert(k.first);
  for (const auto& k : now.keys_) paths.insert(k.first);
  for (const std::wstring& p : paths) {
    const auto was = keys_.find(p);
    const auto is = now.keys_.find(p);
    if (was == keys_.end()) {
      out += L"+ key " + is->second.path + L"\n";
      for (const auto& [n, v] : is->second.values) {
        out += L"+ value " + value_label(is->second.path, v.name) + L" " + describe_value(v.type, v.data) + L"\n";
      }
      continue;
    }
    if (is == now.keys_.end()) {
      out += L"- key " + (was->second.path.empty() ? std::wstring(L"(self)") : was->second.path) + L"\n";
      continue;
    }
    const Key& a = was->second;
    const Key& b = is->second;
    if (a.status != b.status) {
      out += L"~ key " + a.path + L": status " + std::to_wstring(a.status) + L" -> " + std::to_wstring(b.status) +
             L"\n";
    }
    std::set<std::wstring> names;
    for (const auto& v : a.values) names.insert(v.first);
    for (const auto& v : b.values) names.insert(v.first);
    for (const std::wstring& n : names) {
      const auto va = a.values.find(n);
      const auto vb = b.values.find(n);
      if (va == a.values.end()) {
        out += L"+ value " + value_label(a.path, vb->second.name) + L" " +
               describe_value(vb->second.type, vb->second.data) + L"\n";
      } else if (vb == b.values.end()) {
        out += L"- value " + value_label(a.path, va->second.name) + L" " +
               describe_value(va->second.type, va->second.data) + L"\n";
      } else if (!(va->second == vb->second)) {
        out += L"~ value " + value_label(a.path, va->second.name) + L": " +
               describe_value(va->second.type, va->second.data) + L" -> " +
               describe_value(vb->second.type, vb->second.data) + L"\n";
      }
    }
  }
  return out;
}

::testing::AssertionResult Unchanged(const RegistrySnapshot& before) {
  const RegistrySnapshot now = before.retake();
  if (before == now) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << before.where() << L" changed:\n" << before.describe_difference(now);
}

}  // namespace kxtest
