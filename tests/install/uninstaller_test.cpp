// Uninstall entries and their icon: what Wine's registry holds after each
// call (read back with the plain API), what the call recorder shows that the
// registry cannot (access, byte counts, order, status rules, every key
// closed, also on injected failures), and Wine's own uninstaller listing the
// entry.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "registry_read.h"
#include "registry_watch.h"
#include "support/registry_snapshot.h"

namespace {

using kxtest::Reg;
using kxtest::text;

const HKEY kRoot = HKEY_LOCAL_MACHINE;
const std::wstring kList = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kPrefix = kList + L"\\";
const wchar_t* const kValueNames[] = {L"DisplayName",    L"UninstallString", L"Publisher",   L"DisplayIcon",
                                      L"DisplayVersion", L"InstallLocation", L"URLInfoAbout"};

template <class C>
struct Api {
  static constexpr auto regist = kxtest::pick<C>(KX_InstRegistUninstallerW, KX_InstRegistUninstallerA);
  static constexpr auto remove = kxtest::pick<C>(KX_InstDeleteUninstallerW, KX_InstDeleteUninstallerA);
  static constexpr auto icon = kxtest::pick<C>(KX_InstMsiProductIconW, KX_InstMsiProductIconA);
};

template <class C>
class Uninstaller : public kxtest::RegistryTest<C> {
 protected:
  using A = Api<C>;
  using Text = std::basic_string<C>;
  std::wstring own(const std::wstring& entry) { return kxtest::RegistryTest<C>::own(kRoot, kPrefix + entry); }

  // The seven arguments after the entry name; a null optional stays null.
  struct Args {
    std::vector<Text> text;
    std::vector<bool> given;
    const C* at(size_t i) const { return given[i] ? text[i].c_str() : nullptr; }
  };
  static Args args(std::initializer_list<const wchar_t*> values) {
    Args a;
    for (const wchar_t* v : values) {
      a.text.push_back(v ? text<C>(v) : Text());
      a.given.push_back(v != nullptr);
    }
    return a;
  }
  static int regist(const std::wstring& entry, const Args& a) {
    return A::regist(text<C>(entry).c_str(), a.at(0), a.at(1), a.at(2), a.at(3), a.at(4), a.at(5), a.at(6));
  }
};
TYPED_TEST_SUITE(Uninstaller, kxtest::Widths, kxtest::WidthNames);

std::vector<std::wstring> value_names(const std::wstring& key) {
  std::vector<std::wstring> names;
  const kxtest::RegistrySnapshot snap(kRoot, key.c_str());
  if (!snap.exists()) return names;
  for (const auto& [upper, v] : snap.keys().begin()->second.values) names.push_back(v.name);
  return names;
}

TYPED_TEST(Uninstaller, WritesTheGivenValuesInOrderAndKeepsOthers) {
  using C = TypeParam;
  const std::wstring entry = L"KXTest_Uninst_Values" + this->suffix();
  const std::wstring key = this->own(entry);
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(this->regist(entry, this->args({L"KX Tool", L"C:\\KX\\remove.exe", nullptr, nullptr, nullptr,
                                              nullptr, nullptr})),
              0);
    EXPECT_EQ(w.created_paths(), std::vector<std::basic_string<C>>{this->t(key)});
    ASSERT_EQ(w.writes.size(), 2u);
    EXPECT_EQ(w.writes[1].bytes, 16 * sizeof(C));
    EXPECT_EQ(w.rec.order().back(), "RegCloseKey");
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  EXPECT_EQ(value_names(key), (std::vector<std::wstring>{L"DisplayName", L"UninstallString"}));

  kxtest::write_string(kRoot, key, L"KXTest_Keep", L"kept");
  const wchar_t* const all[] = {L"KX Tool 2", L"C:\\KX\\remove.exe /x", L"KX Makers", L"C:\\KX\\tool.exe,0",
                                L"2.0",       L"C:\\KX\\",              L"https://kx.example/"};
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(this->regist(entry, this->args({all[0], all[1], all[2], all[3], all[4], all[5], all[6]})), 0);
    ASSERT_EQ(w.writes.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(w.writes[i].name, this->t(kValueNames[i]));
      EXPECT_EQ(w.writes[i].type, DWORD(REG_SZ));
      EXPECT_EQ(w.writes[i].bytes, lstrlenW(all[i]) * sizeof(C)) << i;
      EXPECT_EQ(w.writes[i].data, this->t(all[i]));
    }
    EXPECT_TRUE(w.balanced());
  }
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(kxtest::read_value(kRoot, key, kValueNames[i])->as_wide(), all[i]);

  // Null optionals keep what the entry holds; empty ones become empty values.
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(this->regist(entry, this->args({L"KX Tool 3", L"u", L"", nullptr, nullptr, L"", nullptr})), 0);
    ASSERT_EQ(w.writes.size(), 4u);
    EXPECT_EQ(w.writes[2].bytes, 0u);
    EXPECT_EQ(w.writes[3].name, this->t(L"InstallLocation"));
    EXPECT_EQ(w.writes[3].bytes, 0u);
  }
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"Publisher")->as_wide(), L"");
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"InstallLocation")->as_wide(), L"");
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"DisplayVersion")->as_wide(), L"2.0");
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"KXTest_Keep")->as_wide(), L"kept");
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"DisplayName")->as_wide(), L"KX Tool 3");
}

// The result is the first failed write's status, and a failure stops none of
// the writes after it: a failed "DisplayName" followed by a good
// "UninstallString" leaves no listed entry and must not report 0.
TYPED_TEST(Uninstaller, StatusIsTheFirstFailedWrite) {
  using C = TypeParam;
  const std::wstring entry = L"KXTest_Uninst_Status" + this->suffix();
  this->own(entry);
  struct Case {
    bool optionals[5];
    size_t failing;  // 1-based write
    int result;
    size_t writes;
  };
  const Case cases[] = {
      {{false, false, false, false, false}, 2, 5, 2}, {{false, false, false, false, false}, 1, 5, 2},
      {{true, true, true, true, true}, 7, 5, 7},      {{true, true, true, true, true}, 3, 5, 7},
      {{true, false, true, false, false}, 4, 5, 4},   {{true, false, true, false, false}, 3, 5, 4},
      {{true, true, true, true, true}, 9, 0, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "write " << c.failing << " of " << c.writes);
    auto a = this->args({L"D", L"U", L"p", L"i", L"v", L"l", L"u"});
    for (size_t i = 0; i < 5; ++i) a.given[2 + i] = c.optionals[i];
    kxtest::RegistryWatch<C> w;
    w.fail[Reg::set][c.failing] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->regist(entry, a), c.result);
    EXPECT_EQ(w.set.count(), c.writes);
    EXPECT_TRUE(w.balanced());
  }
  kxtest::RegistryWatch<C> w;
  w.fail[Reg::create][1] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(this->regist(entry, this->args({L"D", L"U", L"p", L"i", L"v", L"l", L"u"})), 5);
  EXPECT_EQ(w.set.count(), 0u);
  EXPECT_TRUE(w.balanced());
}

TYPED_TEST(Uninstaller, RefusedCallsTouchNothing) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const auto name = this->t(L"KXTest_Uninst_Refused"), empty = this->t(L""), slash = this->t(L"\\");
  const kxtest::RegistrySnapshot before(kRoot, kList.c_str());
  kxtest::RegistryWatch<C> w;
  for (const C* bad : {static_cast<const C*>(nullptr), empty.c_str()}) {
    EXPECT_EQ(A::regist(bad, name.c_str(), name.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(A::regist(name.c_str(), bad, name.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(A::regist(name.c_str(), name.c_str(), bad, name.c_str(), nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(A::remove(bad), 1);
    EXPECT_EQ(A::icon(nullptr, bad), 0) << "would name the list itself";
  }
  EXPECT_EQ(A::regist(slash.c_str(), name.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(A::remove(slash.c_str()), 1);
  EXPECT_EQ(A::icon(nullptr, slash.c_str()), 0);

  // An entry path of 259 characters is used whole, one of 260 refused.
  const std::wstring stem = L"KXTest_Uninst_Long" + this->suffix();
  const std::wstring entry259 = stem + std::wstring(259 - kPrefix.size() - stem.size(), L'n');
  const auto e260 = this->t(entry259 + L"x");
  EXPECT_EQ(A::regist(e260.c_str(), name.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(A::icon(nullptr, e260.c_str()), 0);
  EXPECT_EQ(A::remove(this->t(std::wstring(260, L'n')).c_str()), 1);
  EXPECT_EQ(w.registry_calls(), 0u);
  EXPECT_TRUE(kxtest::Unchanged(before));

  const std::wstring key = this->own(entry259);
  const auto e259 = this->t(entry259);
  EXPECT_EQ(A::regist(e259.c_str(), name.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(A::icon(nullptr, e259.c_str()), 0) << "no DisplayIcon value";
  EXPECT_EQ(A::remove(e259.c_str()), 0);
  EXPECT_EQ(w.created_paths(), std::vector<std::basic_string<C>>{this->t(key)});
  EXPECT_EQ(w.opened_paths(), (std::vector<std::basic_string<C>>{this->t(key), this->t(kList)}));
  EXPECT_EQ(w.deleted_names(), std::vector<std::basic_string<C>>{e259});
  EXPECT_FALSE(kxtest::key_exists(kRoot, key));
}

TYPED_TEST(Uninstaller, DeleteReportsOnlyAnEntryThatStays) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const std::wstring entry = L"KXTest_Uninst_Delete" + this->suffix();
  const std::wstring key = this->own(entry);
  const auto e = this->t(entry);
  kxtest::write_string(kRoot, key, L"DisplayName", L"x");
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::remove(e.c_str()), 0);
    EXPECT_EQ(w.rec.order(), kxtest::call_names<C>({Reg::open, Reg::delete_key, Reg::close}));
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  EXPECT_FALSE(kxtest::key_exists(kRoot, key));
  EXPECT_EQ(A::remove(e.c_str()), 0) << "already gone";

  kxtest::write_string(kRoot, key + L"\\Sub", L"x", L"x");
  EXPECT_EQ(A::remove(e.c_str()), ERROR_ACCESS_DENIED) << "an entry with sub-keys stays";
  EXPECT_TRUE(kxtest::key_exists(kRoot, key));
  kxtest::RegistryWatch<C> w;
  w.fail[Reg::open][1] = ERROR_ACCESS_DENIED;
  w.fail[Reg::delete_key][1] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(A::remove(e.c_str()), 5);
  EXPECT_EQ(A::remove(e.c_str()), 5);
  EXPECT_TRUE(w.balanced());
}

TYPED_TEST(Uninstaller, IconFillsOnlyAnEmptyDisplayIcon) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const std::wstring entry = L"KXTest_Uninst_Icon" + this->suffix();
  const std::wstring key = this->own(entry);
  const auto e = this->t(entry);
  const HMODULE dll = GetModuleHandleW(L"KX_Pellam.dll");
  for (HMODULE module : {static_cast<HMODULE>(nullptr), dll}) {
    wchar_t expected[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, expected, MAX_PATH);
    kxtest::write_string(kRoot, key, L"DisplayIcon", L"");
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::icon(module, e.c_str()), 1);
    EXPECT_EQ(w.rec.order(),
              kxtest::call_names<C>({Reg::open, Reg::query, Reg::module_path, Reg::set, Reg::close}));
    ASSERT_EQ(w.reads.size(), 1u);
    EXPECT_EQ(w.reads[0].name, this->t(L"DisplayIcon"));
    EXPECT_EQ(w.reads[0].type_preset, DWORD(REG_SZ));
    EXPECT_EQ(w.reads[0].capacity, 260u * sizeof(C));
    ASSERT_EQ(w.writes.size(), 1u);
    EXPECT_EQ(w.writes[0].bytes, length * sizeof(C));
    EXPECT_EQ(w.writes[0].type, DWORD(REG_SZ));
    EXPECT_EQ(kxtest::read_value(kRoot, key, L"DisplayIcon")->as_wide(), expected);
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  // Filled already: left alone, and no module path is even asked for.
  const kxtest::RegistrySnapshot filled(kRoot, key.c_str());
  kxtest::RegistryWatch<C> w;
  auto& path = w.module_path;
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0);
  EXPECT_TRUE(kxtest::Unchanged(filled));
  EXPECT_EQ(path.count(), 0u);

  // Too long for the buffer, missing value, missing entry: nothing written.
  kxtest::write_string(kRoot, key, L"DisplayIcon", std::wstring(300, L'i'));
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0);
  RegDeleteKeyValueW(kRoot, key.c_str(), L"DisplayIcon");
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0);
  EXPECT_FALSE(kxtest::read_value(kRoot, key, L"DisplayIcon"));
  const auto missing = this->t(L"KXTest_Uninst_NoSuchEntry");
  EXPECT_EQ(A::icon(nullptr, missing.c_str()), 0);
  EXPECT_FALSE(kxtest::key_exists(kRoot, kPrefix + L"KXTest_Uninst_NoSuchEntry"));
  EXPECT_EQ(w.set.count(), 0u);

  // No path for the module, or one cut at 260 characters: nothing written.
  kxtest::write_string(kRoot, key, L"DisplayIcon", L"");
  EXPECT_EQ(A::icon(reinterpret_cast<HMODULE>(0x10000), e.c_str()), 0);
  path.script = [](HMODULE, C* out, DWORD size) -> std::optional<DWORD> {
    for (DWORD i = 0; i < size; ++i) out[i] = C('x');
    return size;
  };
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0);
  EXPECT_EQ(w.set.count(), 0u);
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"DisplayIcon")->as_wide(), L"");
  path.script = nullptr;

  // A value of 0 bytes reads as empty; failed steps give 0 and close the key.
  w.answer_query = [](LPBYTE, LPDWORD bytes) {
    *bytes = 0;
    return LONG(ERROR_SUCCESS);
  };
  const size_t queries = w.query.count();
  w.fail[Reg::open][w.open.count() + 1] = ERROR_ACCESS_DENIED;
  w.fail[Reg::query][queries + 1] = ERROR_MORE_DATA;
  w.fail[Reg::set][1] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0) << "open fails";
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0) << "query fails";
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 0) << "write fails";
  EXPECT_EQ(A::icon(nullptr, e.c_str()), 1) << "0-byte value";
  EXPECT_EQ(w.set.count(), 2u);
  EXPECT_TRUE(w.balanced());
}

// The lines `wine uninstaller --list` prints, run from a shell as a user
// runs it. Wine 8 writes the list to the program's standard output; Wine 10
// writes it through Wine's own debug output, the Unix stderr of the process,
// which no handle a Windows parent gives its child redirects (a pipe or a
// console got nothing). So a Unix shell runs it, both streams into one file.
std::vector<std::string> list_installed_programs() {
  using Spawn = LONG(CDECL*)(char* const*, int);
  const auto spawn = reinterpret_cast<Spawn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
  EXPECT_NE(spawn, nullptr) << "not Wine: no Unix shell to run the uninstaller from";
  if (spawn == nullptr) return {};
  const std::string file = "/tmp/kx-uninstaller-list-" + std::to_string(GetCurrentProcessId()) + ".txt";
  std::string sh = "/bin/sh", c = "-c", command = "wine uninstaller --list </dev/null >\"$0\" 2>&1", at = file;
  char* const argv[] = {sh.data(), c.data(), command.data(), at.data(), nullptr};
  EXPECT_EQ(spawn(argv, 1), 0) << "the shell did not run";
  std::vector<std::string> lines;
  const std::wstring path = L"Z:" + std::wstring(file.begin(), file.end());
  std::ifstream in(path.c_str());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  in.close();
  DeleteFileW(path.c_str());
  return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

TEST(UninstallerWitness, WineUninstallerListsTheEntryUntilItIsDeleted) {
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  const std::wstring entry = L"KXTest_Uninst_Witness" + pid, control = L"KXTest_Uninst_Control" + pid;
  const std::string name(entry.begin(), entry.end()), line = name + "|||KX Witness Product";
  const std::string control_line = std::string(control.begin(), control.end()) + "|||KX Witness Control";
  // Written with the plain API, not the library: every reading must show it,
  // so a reading that shows nothing fails instead of proving an entry gone.
  kxtest::write_string(kRoot, kPrefix + control, L"DisplayName", L"KX Witness Control");
  kxtest::write_string(kRoot, kPrefix + control, L"UninstallString", L"C:\\KX\\control.exe");
  ASSERT_EQ(KX_InstRegistUninstallerW(entry.c_str(), L"KX Witness Product", L"C:\\KX\\remove.exe", nullptr,
                                      L"", nullptr, nullptr, nullptr),
            0);
  std::vector<std::string> listed = list_installed_programs();
  EXPECT_TRUE(has_line(listed, control_line)) << joined(listed);
  EXPECT_TRUE(has_line(listed, line)) << "the whole display name ends the line\n" << joined(listed);

  EXPECT_EQ(KX_InstDeleteUninstallerW(entry.c_str()), 0);
  listed = list_installed_programs();
  EXPECT_TRUE(has_line(listed, control_line)) << joined(listed);
  EXPECT_EQ(joined(listed).find(name), std::string::npos) << joined(listed);
  kxtest::remove_tree(kRoot, kPrefix + entry);
  kxtest::remove_tree(kRoot, kPrefix + control);
}

}  // namespace
