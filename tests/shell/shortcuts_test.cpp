// Shortcut files, both widths: what the file holds (its bytes, Wine's own link
// object, lnkinfo on the Linux side), refusals, and through the call recorder
// the Installer's two paths and the COM start-up pairing.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KX_Pellam.h"
#include "support/recorder.h"

namespace {

template <class C>
std::basic_string<C> t(const std::wstring& s) {
  return std::basic_string<C>(s.begin(), s.end());  // the tests' texts are ASCII
}

struct Wide {
  using C = wchar_t;
  static constexpr auto create = KX_CreateShortcutW;
  static constexpr auto resolve = KX_ResolveShortcutW;
  using Target = decltype(MsiGetShortcutTargetW);
  using Component = decltype(MsiGetComponentPathW);
  static constexpr WORD kTarget = 217, kComponent = 173;
};
struct Narrow {
  using C = char;
  static constexpr auto create = KX_CreateShortcutA;
  static constexpr auto resolve = KX_ResolveShortcutA;
  using Target = decltype(MsiGetShortcutTargetA);
  using Component = decltype(MsiGetComponentPathA);
  static constexpr WORD kTarget = 216, kComponent = 172;
};

std::wstring folder() {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  const std::wstring dir = std::wstring(tmp) + L"KXTest_Shortcuts\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<unsigned char> bytes_of(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What Wine's own link object reads from a file: the witness the library's
// resolve is compared with.
struct Reading {
  HRESULT load = E_FAIL, save = E_FAIL;
  std::wstring path, arguments, icon;
  int show = -1, icon_index = -1;
};
Reading wine_reads(const std::wstring& file, const wchar_t* save_to = nullptr) {
  Reading r;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
    if (save_to != nullptr) r.save = persist->Save(save_to, TRUE);
    r.load = persist->Load(file.c_str(), STGM_READ);
    wchar_t buf[MAX_PATH] = {};
    link->GetArguments(buf, MAX_PATH), r.arguments = buf;
    link->GetShowCmd(&r.show);
    link->Resolve(nullptr, 0x101);
    link->GetPath(buf, MAX_PATH, nullptr, 0), r.path = buf;
    link->GetIconLocation(buf, MAX_PATH, &r.icon_index), r.icon = buf;
  }
  if (persist) persist->Release();
  if (link) link->Release();
  CoUninitialize();
  return r;
}

template <class T>
class Shortcuts : public ::testing::Test {
 protected:
  using C = typename T::C;
  using Text = std::basic_string<C>;
  const std::wstring dir = folder();
  const std::wstring suffix = sizeof(C) == 2 ? L"W" : L"A";
  const std::wstring target = dir + L"app" + suffix + L".exe";
  const std::wstring link = dir + L"app" + suffix + L".lnk";
  void SetUp() override {
    std::ofstream(target.c_str()) << "MZ";
    DeleteFileW(link.c_str());
  }
  HRESULT create(const std::wstring& file, const std::wstring& to, const C* args = nullptr) {
    return T::create(t<C>(file).c_str(), t<C>(to).c_str(), args, nullptr, nullptr, 0, SW_SHOWNORMAL);
  }
  // Resolves with every output, each prefilled with a sentinel.
  struct Out {
    HRESULT result;
    C target[MAX_PATH], dir[MAX_PATH], desc[MAX_PATH], icon[MAX_PATH];
    WORD hotkey = 0xBEEF;
    int show = 0x5EED, icon_index = 0x5EED;
  };
  Out resolve(const std::wstring& file) {
    Out o;
    for (C* b : {o.target, o.dir, o.desc, o.icon}) std::fill_n(b, MAX_PATH, C('g'));
    o.result = T::resolve(t<C>(file).c_str(), o.target, o.dir, o.desc, &o.hotkey, &o.show, o.icon, &o.icon_index);
    return o;
  }
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(Shortcuts, Widths);

TYPED_TEST(Shortcuts, WhatIsCreatedIsWhatTheFileHoldsAndWhatResolveGives) {
  using C = typename TestFixture::C;
  struct Case {
    const wchar_t *args, *dir, *desc;
    WORD hotkey;
    int show;
  };
  const Case cases[] = {{L"--open \"a b\"", L"C:\\windows", L"Sample shortcut", MAKEWORD('K', HOTKEYF_CONTROL | HOTKEYF_ALT),
                         SW_SHOWMINNOACTIVE},
                        {nullptr, nullptr, nullptr, 0, SW_SHOWMAXIMIZED}};
  for (const Case& c : cases) {
    const auto opt = [](const wchar_t* s) { return s ? t<C>(s) : std::basic_string<C>(); };
    const auto arg = [](const std::basic_string<C>& s, const wchar_t* given) { return given ? s.c_str() : nullptr; };
    const auto args = opt(c.args), dir = opt(c.dir), desc = opt(c.desc);
    ASSERT_EQ(TypeParam::create(t<C>(this->link).c_str(), t<C>(this->target).c_str(), arg(args, c.args),
                                arg(dir, c.dir), arg(desc, c.desc), c.hotkey, c.show),
              S_OK);
    const auto file = bytes_of(this->link);
    ASSERT_GE(file.size(), 0x4Cu);
    EXPECT_EQ(file[0x3C] | file[0x3D] << 8, c.show);
    EXPECT_EQ(file[0x40] | file[0x41] << 8, c.hotkey);
    const Reading wine = wine_reads(this->link);
    EXPECT_EQ(wine.arguments, c.args ? c.args : L"");

    const auto got = this->resolve(this->link);
    EXPECT_GE(got.result, 0);
    EXPECT_EQ(got.target, t<C>(this->target));
    EXPECT_EQ(got.dir, dir);
    EXPECT_EQ(got.desc, desc);
    EXPECT_EQ(got.hotkey, c.hotkey);
    // Wine reports SW_SHOWNORMAL and the target as icon after a load,
    // whatever the file holds: the library passes on what the object says.
    EXPECT_EQ(got.show, wine.show);
    EXPECT_EQ(got.icon, t<C>(wine.icon));
    EXPECT_EQ(got.icon_index, wine.icon_index);
  }
}

TYPED_TEST(Shortcuts, FailuresAreTheFailingStepsHresultWithOutputsAtTheirStart) {
  using C = typename TestFixture::C;
  const std::wstring missing_dir = this->dir + L"NoSuchFolder\\x" + this->suffix + L".lnk";
  const Reading wine = wine_reads(this->dir + L"missing.lnk", missing_dir.c_str());
  ASSERT_LT(wine.save, 0);
  ASSERT_LT(wine.load, 0);
  EXPECT_EQ(this->create(missing_dir, this->target), wine.save);
  EXPECT_FALSE(exists(missing_dir));

  const auto got = this->resolve(this->dir + L"missing.lnk");
  EXPECT_EQ(got.result, wine.load);
  for (const C* s : {got.target, got.dir, got.desc, got.icon}) EXPECT_EQ(s[0], C(0));
  EXPECT_EQ(got.hotkey, 0);
  EXPECT_EQ(got.show, SW_SHOWNORMAL);
  EXPECT_EQ(got.icon_index, 0);
}

// Refused before any COM work: a name that would be cut into another file's,
// a missing target, an icon path without its index.
TYPED_TEST(Shortcuts, RefusalsMakeNoComCallAndWriteNothing) {
  using C = typename TestFixture::C;
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& init = rec.hook<decltype(CoInitialize)>("ole32.dll", "CoInitialize");
  const std::wstring fill = this->dir + L"long" + this->suffix;
  const std::wstring at259 = fill + std::wstring(259 - fill.size() - 4, L'n') + L".lnk";
  const std::wstring at260 = fill + std::wstring(260 - fill.size() - 4, L'n') + L".lnk";
  if (sizeof(C) == 1) {
    DeleteFileW(at259.c_str());
    EXPECT_EQ(this->create(at260, this->target), E_INVALIDARG);
    EXPECT_EQ(this->resolve(at260).result, E_INVALIDARG);
    EXPECT_FALSE(exists(at260.substr(0, 259)));
    EXPECT_EQ(init.count(), 0u);
    EXPECT_EQ(this->create(at259, this->target), S_OK);  // converts whole
    EXPECT_TRUE(exists(at259));
    rec.clear();
  }
  C out[MAX_PATH];
  EXPECT_EQ(TypeParam::create(nullptr, t<C>(this->target).c_str(), nullptr, nullptr, nullptr, 0, 1), E_INVALIDARG);
  EXPECT_EQ(TypeParam::create(t<C>(this->link).c_str(), nullptr, nullptr, nullptr, nullptr, 0, 1), E_INVALIDARG);
  EXPECT_EQ(TypeParam::resolve(t<C>(this->link).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(TypeParam::resolve(t<C>(this->link).c_str(), out, nullptr, nullptr, nullptr, nullptr, out, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(init.count(), 0u);
  EXPECT_FALSE(exists(this->link));
}

TYPED_TEST(Shortcuts, AnInstalledAdvertisedComponentGivesTheInstallersPathElseTheShortcuts) {
  using C = typename TestFixture::C;
  ASSERT_EQ(this->create(this->link, this->target), S_OK);
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& query = rec.hook<typename TypeParam::Target>("msi.dll", TypeParam::kTarget, "target");
  auto& component = rec.hook<typename TypeParam::Component>("msi.dll", TypeParam::kComponent, "component");
  const auto installed = t<C>(L"C:\\Installed\\app.exe");
  DWORD count_on_entry = 0;
  INSTALLSTATE state = INSTALLSTATE_LOCAL;
  component.script = [&](const C*, const C*, C* path, DWORD* count) -> std::optional<INSTALLSTATE> {
    count_on_entry = *count;
    std::copy(installed.c_str(), installed.c_str() + installed.size() + 1, path);
    return state;
  };
  C out[MAX_PATH];
  // Wine's Installer knows no such shortcut: the shortcut's own target.
  EXPECT_GE(TypeParam::resolve(t<C>(this->link).c_str(), out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(out, t<C>(this->target));
  ASSERT_EQ(rec.order(), std::vector<std::string>{"target"});
  EXPECT_EQ(std::get<0>(query.calls[0]), t<C>(this->link));

  query.script = [](const C*, C* product, C* feature, C* comp) -> std::optional<UINT> {
    product[0] = C('P'), feature[0] = C('F'), comp[0] = C('K');
    product[1] = feature[1] = comp[1] = 0;
    return ERROR_SUCCESS;
  };
  for (INSTALLSTATE s : {INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT, INSTALLSTATE_SOURCE}) {
    rec.clear();
    state = s;
    EXPECT_GE(TypeParam::resolve(t<C>(this->link).c_str(), out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              0);
    // GetPath, had it been called, would have overwritten the Installer's path.
    EXPECT_EQ(out, s == INSTALLSTATE_LOCAL ? installed : t<C>(this->target));
    ASSERT_EQ(rec.order(), (std::vector<std::string>{"target", "component"}));
    EXPECT_EQ(std::get<0>(component.calls[0]), t<C>(L"P"));
    EXPECT_EQ(std::get<1>(component.calls[0]), t<C>(L"K"));
    EXPECT_EQ(count_on_entry, DWORD(MAX_PATH));
  }
}

TYPED_TEST(Shortcuts, EveryComStartIsMatchedExceptOnACallersMultithreadedThread) {
  using C = typename TestFixture::C;
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& init = rec.hook<decltype(CoInitialize)>("ole32.dll", "CoInitialize");
  auto& uninit = rec.hook<decltype(CoUninitialize)>("ole32.dll", "CoUninitialize");
  const std::wstring nowhere = this->dir + L"NoSuchFolder\\x.lnk";
  C out[MAX_PATH];
  for (int round = 0; round < 2; ++round) {  // on this thread, then on a caller's MTA thread
    rec.clear();
    HRESULT created = E_FAIL, resolved = E_FAIL, still_mta = E_FAIL;
    std::thread([&] {
      if (round == 1) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      created = this->create(this->link, this->target);
      resolved = TypeParam::resolve(t<C>(this->link).c_str(), out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
      this->create(nowhere, this->target);
      this->resolve(nowhere);
      if (round == 1) {
        still_mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_FALSE: the caller's COM is still up
        CoUninitialize();
        CoUninitialize();
      }
    }).join();
    SCOPED_TRACE(round);
    EXPECT_EQ(created, S_OK);
    EXPECT_GE(resolved, 0);
    EXPECT_EQ(out, t<C>(this->target));
    EXPECT_EQ(init.count(), 4u);
    EXPECT_EQ(uninit.count(), round == 0 ? 4u : 0u);
    if (round == 1) {
      EXPECT_EQ(still_mta, S_FALSE);
    }
  }
}

// The Linux side reads the file back with lnkinfo in a CTest step of its own
// (shell_shortcuts_lnkinfo), which compares it with the .expected file.
TYPED_TEST(Shortcuts, WritesAFileForTheOutsideParser) {
  using C = typename TestFixture::C;
  const std::wstring out = std::wstring(KX_LNKINFO_DIR) + L"\\" + this->suffix;
  CreateDirectoryW(KX_LNKINFO_DIR, nullptr);
  for (const wchar_t* ext : {L".lnk", L".expected"}) DeleteFileW((out + ext).c_str());
  const std::wstring args = L"--from " + this->suffix, desc = L"Read by lnkinfo " + this->suffix;
  ASSERT_EQ(TypeParam::create(t<C>(out + L".lnk").c_str(), t<C>(this->target).c_str(), t<C>(args).c_str(),
                              t<C>(this->dir).c_str(), t<C>(desc).c_str(), 0, SW_SHOWNORMAL),
            S_OK);
  std::ofstream((out + L".expected").c_str(), std::ios::binary) << t<char>(this->target + L"\n" + args + L"\n" + this->dir + L"\n" + desc) << "\n";
}

}  // namespace
