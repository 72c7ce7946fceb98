// The registry calls of KX_Pellam.dll for the App Paths, application-key and
// uninstall-entry tests, watched through its import table: what it created,
// opened, wrote, queried, deleted and closed, with failures injected on
// chosen calls, for both widths.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "support/recorder.h"

namespace kxtest {

template <class C>
struct Width;
template <>
struct Width<wchar_t> {
  using Create = decltype(::RegCreateKeyExW);
  using Open = decltype(::RegOpenKeyExW);
  using Set = decltype(::RegSetValueExW);
  using Query = decltype(::RegQueryValueExW);
  using DeleteKey = decltype(::RegDeleteKeyW);
  using ModulePath = decltype(::GetModuleFileNameW);
  static constexpr const char* kSuffix = "W";
};
template <>
struct Width<char> {
  using Create = decltype(::RegCreateKeyExA);
  using Open = decltype(::RegOpenKeyExA);
  using Set = decltype(::RegSetValueExA);
  using Query = decltype(::RegQueryValueExA);
  using DeleteKey = decltype(::RegDeleteKeyA);
  using ModulePath = decltype(::GetModuleFileNameA);
  static constexpr const char* kSuffix = "A";
};

// The tests' texts are ASCII, so both widths are spelled once, wide.
template <class C>
std::basic_string<C> text(const std::wstring& s) {
  return std::basic_string<C>(s.begin(), s.end());
}

template <class C>
std::string named(const char* base) {
  return std::string(base) + Width<C>::kSuffix;
}

template <class C>
class InstallWatch {
  using W = Width<C>;
  using Text = std::basic_string<C>;

 public:
  struct Write {
    Text name;
    DWORD type;
    DWORD bytes;
    Text data;  // the bytes handed over, as characters
  };
  struct Read {
    Text name;
    DWORD type_preset;  // 0xDEAD without a type pointer
    DWORD capacity;
  };

  InstallWatch()
      : rec(::GetModuleHandleW(L"KX_Pellam.dll")),
        create(rec.hook<typename W::Create>(nullptr, named<C>("RegCreateKeyEx").c_str())),
        open(rec.hook<typename W::Open>(nullptr, named<C>("RegOpenKeyEx").c_str())),
        set(rec.hook<typename W::Set>(nullptr, named<C>("RegSetValueEx").c_str())),
        query(rec.hook<typename W::Query>(nullptr, named<C>("RegQueryValueEx").c_str())),
        delete_key(rec.hook<typename W::DeleteKey>(nullptr, named<C>("RegDeleteKey").c_str())),
        close(rec.hook<decltype(::RegCloseKey)>(nullptr, "RegCloseKey")) {
    create.script = [this](auto... a) -> std::optional<LONG> {
      if (auto f = failure(fail_create, create.calls.size())) return f;
      const LONG st = create.call_real(a...);
      if (st == ERROR_SUCCESS) acquired.push_back(*std::get<7>(std::tie(a...)));
      return st;
    };
    open.script = [this](auto... a) -> std::optional<LONG> {
      if (auto f = failure(fail_open, open.calls.size())) return f;
      const LONG st = open.call_real(a...);
      if (st == ERROR_SUCCESS) acquired.push_back(*std::get<4>(std::tie(a...)));
      return st;
    };
    set.observe = [this](HKEY, const C* name, DWORD, DWORD type, const BYTE* data, DWORD bytes) {
      const C* chars = reinterpret_cast<const C*>(data);
      writes.push_back({name ? Text(name) : Text(), type, bytes, Text(chars, chars + bytes / sizeof(C))});
    };
    set.script = [this](auto...) { return failure(fail_set, set.calls.size()); };
    query.observe = [this](HKEY, const C* name, LPDWORD, LPDWORD type, LPBYTE, LPDWORD bytes) {
      reads.push_back({name ? Text(name) : Text(), type ? *type : 0xDEADu, bytes ? *bytes : 0xDEADu});
    };
    query.script = [this](HKEY key, const C* name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD bytes) -> std::optional<LONG> {
      if (auto f = failure(fail_query, query.calls.size())) return f;
      if (answer_query) return answer_query(data, bytes);
      return query.call_real(key, name, reserved, type, data, bytes);
    };
    delete_key.script = [this](auto...) { return failure(fail_delete, delete_key.calls.size()); };
    close.observe = [this](HKEY key) { released.push_back(key); };
  }

  std::size_t registry_calls() const {
    return create.count() + open.count() + set.count() + query.count() + delete_key.count() + close.count();
  }

  // Every key handed out was closed exactly once, and nothing else was.
  ::testing::AssertionResult balanced() const {
    std::vector<HKEY> a = acquired, r = released;
    std::sort(a.begin(), a.end());
    std::sort(r.begin(), r.end());
    if (a == r) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a.size() << " keys acquired, " << r.size() << " closed";
  }

  // Every create and open below HKEY_LOCAL_MACHINE with full access and no
  // view flag; creates with reserved 0, class "", options 0, no security.
  ::testing::AssertionResult conventions() const {
    for (const auto& c : create.calls) {
      const auto& cls = std::get<3>(c);
      if (std::get<0>(c) != HKEY_LOCAL_MACHINE || std::get<2>(c) != 0 || !cls || !cls->empty() ||
          std::get<4>(c) != 0 || std::get<5>(c) != 0xF003F || std::get<6>(c) != nullptr) {
        return ::testing::AssertionFailure() << "a create breaks the conventions";
      }
    }
    for (const auto& c : open.calls) {
      if (std::get<0>(c) != HKEY_LOCAL_MACHINE || std::get<2>(c) != 0 || std::get<3>(c) != 0xF003F) {
        return ::testing::AssertionFailure() << "an open breaks the conventions";
      }
    }
    return ::testing::AssertionSuccess();
  }

  std::vector<Text> created_paths() const { return column<1>(create.calls); }
  std::vector<Text> opened_paths() const { return column<1>(open.calls); }
  std::vector<Text> deleted_names() const { return column<1>(delete_key.calls); }

  Recorder rec;
  Hook<typename W::Create>& create;
  Hook<typename W::Open>& open;
  Hook<typename W::Set>& set;
  Hook<typename W::Query>& query;
  Hook<typename W::DeleteKey>& delete_key;
  Hook<decltype(::RegCloseKey)>& close;
  // By 1-based call number: the status that call fails with instead.
  std::map<std::size_t, LONG> fail_create, fail_open, fail_set, fail_query, fail_delete;
  // Stands in for every query that does not fail: fills data and bytes itself.
  std::function<LONG(LPBYTE data, LPDWORD bytes)> answer_query;
  std::vector<HKEY> acquired, released;
  std::vector<Write> writes;
  std::vector<Read> reads;

 private:
  static std::optional<LONG> failure(const std::map<std::size_t, LONG>& plan, std::size_t call) {
    const auto it = plan.find(call);
    if (it == plan.end()) return std::nullopt;
    return it->second;
  }
  template <std::size_t I, class Calls>
  static std::vector<Text> column(const Calls& calls) {
    std::vector<Text> out;
    for (const auto& c : calls) out.push_back(std::get<I>(c).value_or(Text()));
    return out;
  }
};

}  // namespace kxtest
