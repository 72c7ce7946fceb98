// KX_Pellam.dll's registry calls for one character width, watched through its
// import table: what it created, opened, wrote, queried, deleted and closed,
// with failures injected on chosen calls, and the rules every key it acquires
// must follow. With it, the installation tests' fixtures that own the test's
// keys.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "registry_read.h"
#include "support/recorder.h"
#include "support/registry_snapshot.h"
#include "support/width.h"

namespace kxtest {

// The functions a RegistryWatch hooks. The ones that answer with a registry
// status, and so can be made to fail, come first.
struct Reg {
  enum Call : std::size_t {
    create, open, set, query, delete_key, delete_value, delete_tree,
    close, notify, module_path
  };
  static constexpr std::size_t kFailable = close;
};

// The name a call of width C has in Recorder::order().
template <class C>
std::string call_name(Reg::Call call) {
  static const char* const stems[] = {"RegCreateKeyEx", "RegOpenKeyEx",  "RegSetValueEx", "RegQueryValueEx",
                                      "RegDeleteKey",   "RegDeleteValue", "SHDeleteKey",   "RegCloseKey",
                                      "SHChangeNotify", "GetModuleFileName"};
  const bool has_width = call != Reg::close && call != Reg::notify;
  return std::string(stems[call]) + (has_width ? width_suffix<C>() : "");
}

template <class C>
std::vector<std::string> call_names(std::initializer_list<Reg::Call> calls) {
  std::vector<std::string> out;
  for (Reg::Call c : calls) out.push_back(call_name<C>(c));
  return out;
}

// The statuses one hooked function answers with instead of reaching the
// registry: by 1-based call number, or on every call.
class Failures {
 public:
  LONG& operator[](std::size_t call) { return by_call_[call]; }
  void always(LONG status) { always_ = status; }
  std::optional<LONG> at(std::size_t call) const {
    if (always_) return always_;
    const auto it = by_call_.find(call);
    if (it == by_call_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::size_t, LONG> by_call_;
  std::optional<LONG> always_;
};

template <class C>
class RegistryWatch {
  template <class W, class A>
  using Fn = Pick<C, W, A>;

 public:
  using Text = std::basic_string<C>;
  struct Write {
    Text name;  // "" for the default value
    DWORD type;
    DWORD bytes;
    Text data;    // the bytes handed over, as characters
    DWORD dword;  // the bytes as a number; 0xDEADBEEF unless there were 4
  };
  struct Read {
    Text name;
    DWORD type_preset;  // 0xDEAD without a type pointer
    DWORD capacity;     // 0xDEAD without a size pointer
    bool has_buffer;
  };

  RegistryWatch()
      : rec(::GetModuleHandleW(L"KX_Pellam.dll")),
        create(hook<Fn<decltype(::RegCreateKeyExW), decltype(::RegCreateKeyExA)>>(Reg::create)),
        open(hook<Fn<decltype(::RegOpenKeyExW), decltype(::RegOpenKeyExA)>>(Reg::open)),
        set(hook<Fn<decltype(::RegSetValueExW), decltype(::RegSetValueExA)>>(Reg::set)),
        query(hook<Fn<decltype(::RegQueryValueExW), decltype(::RegQueryValueExA)>>(Reg::query)),
        delete_key(hook<Fn<decltype(::RegDeleteKeyW), decltype(::RegDeleteKeyA)>>(Reg::delete_key)),
        delete_value(hook<Fn<decltype(::RegDeleteValueW), decltype(::RegDeleteValueA)>>(Reg::delete_value)),
        delete_tree(hook<Fn<decltype(::SHDeleteKeyW), decltype(::SHDeleteKeyA)>>(Reg::delete_tree)),
        close(hook<decltype(::RegCloseKey)>(Reg::close)),
        notify(hook<decltype(::SHChangeNotify)>(Reg::notify)),
        module_path(hook<Fn<decltype(::GetModuleFileNameW), decltype(::GetModuleFileNameA)>>(Reg::module_path)) {
    create.script = [this](auto... a) -> std::optional<LONG> {
      if (auto f = fail[Reg::create].at(create.count())) return f;
      const LONG st = create.call_real(a...);
      if (st == ERROR_SUCCESS) acquired.push_back(*std::get<7>(std::tie(a...)));
      return st;
    };
    open.script = [this](auto... a) -> std::optional<LONG> {
      if (auto f = fail[Reg::open].at(open.count())) return f;
      const LONG st = open.call_real(a...);
      if (st == ERROR_SUCCESS) acquired.push_back(*std::get<4>(std::tie(a...)));
      return st;
    };
    set.observe = [this](HKEY, const C* name, DWORD, DWORD type, const BYTE* data, DWORD bytes) {
      const C* chars = reinterpret_cast<const C*>(data);
      DWORD number = 0xDEADBEEF;
      if (data != nullptr && bytes == sizeof number) std::memcpy(&number, data, sizeof number);
      writes.push_back({name ? Text(name) : Text(), type, bytes,
                        data ? Text(chars, chars + bytes / sizeof(C)) : Text(), number});
    };
    set.script = [this](auto...) { return fail[Reg::set].at(set.count()); };
    query.observe = [this](HKEY, const C* name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD bytes) {
      reads.push_back({name ? Text(name) : Text(), type ? *type : 0xDEADu, bytes ? *bytes : 0xDEADu, data != nullptr});
    };
    query.script = [this](HKEY key, const C* name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD bytes) -> std::optional<LONG> {
      if (auto f = fail[Reg::query].at(query.count())) return f;
      if (answer_query) return answer_query(data, bytes);
      return query.call_real(key, name, reserved, type, data, bytes);
    };
    delete_key.script = [this](auto...) { return fail[Reg::delete_key].at(delete_key.count()); };
    delete_value.script = [this](auto...) { return fail[Reg::delete_value].at(delete_value.count()); };
    delete_tree.script = [this](auto...) { return fail[Reg::delete_tree].at(delete_tree.count()); };
    close.observe = [this](HKEY key) { released.push_back(key); };
  }

  // A refused call reaches the registry not at all, not even to close a key.
  std::size_t registry_calls() const {
    return create.count() + open.count() + set.count() + query.count() + delete_key.count() +
           delete_value.count() + delete_tree.count() + close.count();
  }

  // Forgets the calls, writes and reads so far, and with them the call
  // numbers failures count; the key ledger stays, so balance spans the watch.
  void clear() {
    rec.clear();
    writes.clear();
    reads.clear();
  }

  // Every key acquired was closed exactly once, and nothing else was closed.
  ::testing::AssertionResult balanced() const {
    std::vector<HKEY> a = acquired, r = released;
    std::sort(a.begin(), a.end());
    std::sort(r.begin(), r.end());
    if (a == r) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a.size() << " keys acquired, " << r.size() << " closed";
  }

  // Every create and open below root with full access and reserved 0, and no
  // registry-view flag (0xF003F exactly) so that each build stays in the view
  // of its own bitness; creates with class "", options 0, no security.
  ::testing::AssertionResult conventions(HKEY root) const {
    for (std::size_t i = 0; i < create.calls.size(); ++i) {
      const auto& c = create.calls[i];
      const auto& cls = std::get<3>(c);
      if (std::get<0>(c) != root || std::get<2>(c) != 0 || !cls || !cls->empty() || std::get<4>(c) != 0 ||
          std::get<5>(c) != 0xF003F || std::get<6>(c) != nullptr) {
        return ::testing::AssertionFailure()
               << "create #" << i + 1 << ": root " << std::get<0>(c) << ", reserved " << std::get<2>(c) << ", "
               << (cls ? (cls->empty() ? "empty class" : "a class") : "null class") << ", options "
               << std::get<4>(c) << ", access 0x" << std::hex << std::get<5>(c) << ", security "
               << std::get<6>(c);
      }
    }
    for (std::size_t i = 0; i < open.calls.size(); ++i) {
      const auto& c = open.calls[i];
      if (std::get<0>(c) != root || std::get<2>(c) != 0 || std::get<3>(c) != 0xF003F) {
        return ::testing::AssertionFailure() << "open #" << i + 1 << ": root " << std::get<0>(c) << ", options "
                                             << std::get<2>(c) << ", access 0x" << std::hex << std::get<3>(c);
      }
    }
    return ::testing::AssertionSuccess();
  }

  std::vector<Text> created_paths() const { return column<1>(create.calls); }
  std::vector<Text> opened_paths() const { return column<1>(open.calls); }
  std::vector<Text> deleted_names() const { return column<1>(delete_key.calls); }
  std::vector<DWORD> written_dwords() const {
    std::vector<DWORD> out;
    for (const Write& w : writes) out.push_back(w.dword);
    return out;
  }

  Recorder rec;
  Hook<Fn<decltype(::RegCreateKeyExW), decltype(::RegCreateKeyExA)>>& create;
  Hook<Fn<decltype(::RegOpenKeyExW), decltype(::RegOpenKeyExA)>>& open;
  Hook<Fn<decltype(::RegSetValueExW), decltype(::RegSetValueExA)>>& set;
  Hook<Fn<decltype(::RegQueryValueExW), decltype(::RegQueryValueExA)>>& query;
  Hook<Fn<decltype(::RegDeleteKeyW), decltype(::RegDeleteKeyA)>>& delete_key;
  Hook<Fn<decltype(::RegDeleteValueW), decltype(::RegDeleteValueA)>>& delete_value;
  Hook<Fn<decltype(::SHDeleteKeyW), decltype(::SHDeleteKeyA)>>& delete_tree;
  Hook<decltype(::RegCloseKey)>& close;
  Hook<decltype(::SHChangeNotify)>& notify;
  Hook<Fn<decltype(::GetModuleFileNameW), decltype(::GetModuleFileNameA)>>& module_path;
  std::array<Failures, Reg::kFailable> fail;
  // Stands in for every query that does not fail: fills data and bytes itself.
  std::function<LONG(LPBYTE data, LPDWORD bytes)> answer_query;
  std::vector<HKEY> acquired, released;
  std::vector<Write> writes;
  std::vector<Read> reads;

 private:
  template <class F>
  Hook<F>& hook(Reg::Call call) {
    return rec.hook<F>(nullptr, call_name<C>(call).c_str());
  }
  template <std::size_t I, class Calls>
  static std::vector<Text> column(const Calls& calls) {
    std::vector<Text> out;
    for (const auto& c : calls) out.push_back(std::get<I>(c).value_or(Text()));
    return out;
  }
};

// A fixture over width C that owns registry keys: those owned by then are
// gone before the test (so that a run cut short leaves nothing in the way)
// and after it.
template <class C>
class RegistryTest : public WidthTest<C> {
 protected:
  std::wstring own(HKEY root, const std::wstring& key) {
    owned_.emplace_back(root, key);
    return key;
  }
  void clean() const {
    for (const auto& [root, key] : owned_) remove_tree(root, key);
  }
  void SetUp() override { clean(); }
  void TearDown() override { clean(); }

 private:
  std::vector<std::pair<HKEY, std::wstring>> owned_;
};

// An extension and a class of the test's own below HKEY_CLASSES_ROOT, named
// after the test family and the width so that families run side by side.
template <class C>
class ClassKeysTest : public RegistryTest<C> {
 protected:
  ClassKeysTest(const std::string& ext_stem, const std::string& family)
      : ext(ext_stem + width_suffix<C>()), cls("KXTest." + family + "." + width_suffix<C>() + ".Doc") {
    this->own(HKEY_CLASSES_ROOT, wide("." + ext));
    this->own(HKEY_CLASSES_ROOT, wide(cls));
  }
  const std::string ext, cls;
};

// What a refused call leaves as it was below HKEY_CLASSES_ROOT: the test's
// extension and class keys, the key ".", and the root's own default value.
struct ClassesRootBefore {
  ClassesRootBefore(const std::string& extension, const std::string& class_name);
  RegistrySnapshot ext, cls, dot;
  std::optional<StoredValue> root_default;
};

// Passes if all of it reads back the same; the message names every change.
::testing::AssertionResult Unchanged(const ClassesRootBefore& before);

}  // namespace kxtest
