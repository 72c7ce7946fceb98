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

template <class C>  // the tests' texts are ASCII
std::basic_string<C> t(const std::wstring& s) { return std::basic_string<C>(s.begin(), s.end()); }

#define KX_WIDTH(Name, Char, w, target_ordinal, component_ordinal)  \
  struct Name {                                                     \
    using C = Char;                                                 \
    static constexpr auto create = KX_CreateShortcut##w;            \
    static constexpr auto resolve = KX_ResolveShortcut##w;          \
    using Target = decltype(MsiGetShortcutTarget##w);               \
    using Component = decltype(MsiGetComponentPath##w);             \
    static constexpr WORD kTarget = target_ordinal, kComponent = component_ordinal; \
  };
KX_WIDTH(Wide, wchar_t, W, 217, 173)
KX_WIDTH(Narrow, char, A, 216, 172)

std::wstring native(std::wstring path) { return std::replace(path.begin(), path.end(), L'/', L'\\'), path; }
bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// What Wine's own link object makes of a file (and of a save to save_to):
// the witness the library's results are compared with.
struct Reading {
  HRESULT load = E_FAIL, save = E_FAIL;
  std::wstring icon;
  int show = -1, icon_index = -1;
};
Reading wine_reads(const std::wstring& file, const std::wstring& save_to = L"") {
  Reading r;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
    if (!save_to.empty()) r.save = persist->Save(save_to.c_str(), TRUE);
    r.load = persist->Load(file.c_str(), STGM_READ);
    wchar_t buf[MAX_PATH] = {};
    link->GetShowCmd(&r.show);
    link->Resolve(nullptr, 0x101);
    link->GetIconLocation(buf, MAX_PATH, &r.icon_index), r.icon = buf;
  }
  for (IUnknown* p : {static_cast<IUnknown*>(persist), static_cast<IUnknown*>(link)}) if (p) p->Release();
  CoUninitialize();
  return r;
}

template <class T>
class Shortcuts : public ::testing::Test {
 protected:
  using C = typename T::C;
  const std::wstring suffix = sizeof(C) == 2 ? L"W" : L"A";
  const std::wstring dir = native(KX_LNKINFO_DIR) + L"\\";
  const std::wstring target = dir + L"app" + suffix + L".exe", link = dir + L"app" + suffix + L".lnk";
  const std::wstring nowhere = dir + L"NoSuchFolder\\x" + suffix + L".lnk";
  C out[MAX_PATH];
  void SetUp() override {
    CreateDirectoryW(KX_LNKINFO_DIR, nullptr);
    std::ofstream(target.c_str()) << "MZ";
    DeleteFileW(link.c_str());
  }
  HRESULT create(const std::wstring& file) {
    return T::create(t<C>(file).c_str(), t<C>(target).c_str(), nullptr, nullptr, nullptr, 0, SW_SHOWNORMAL);
  }
  HRESULT resolve_target(const std::wstring& file) {
    return T::resolve(t<C>(file).c_str(), out, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  struct All {  // every output of a resolve, each prefilled with a sentinel
    HRESULT result;
    C target[MAX_PATH], dir[MAX_PATH], desc[MAX_PATH], icon[MAX_PATH];
    WORD hotkey = 0xBEEF;
    int show = 0x5EED, icon_index = 0x5EED;
  };
  All resolve_all(const std::wstring& file) {
    All o;
    for (C* b : {o.target, o.dir, o.desc, o.icon}) std::fill_n(b, MAX_PATH, C('g'));
    o.result = T::resolve(t<C>(file).c_str(), o.target, o.dir, o.desc, &o.hotkey, &o.show, o.icon, &o.icon_index);
    return o;
  }
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(Shortcuts, Widths);

// Each file also stays for lnkinfo, which a CTest step of its own
// (shell_shortcuts_lnkinfo) compares with the .expected file beside it.
TYPED_TEST(Shortcuts, WhatIsCreatedIsWhatTheFileHoldsAndWhatResolveGives) {
  using C = typename TestFixture::C;
  struct Case {
    const wchar_t *args, *dir, *desc;
    WORD hotkey;
    int show;
  } const cases[] = {{L"--open \"a b\"", L"C:\\windows", L"Sample shortcut", 0x654B, SW_SHOWMINNOACTIVE},
                     {nullptr, nullptr, nullptr, 0, SW_SHOWMAXIMIZED}};
  for (const Case& c : cases) {
    const std::wstring file = this->dir + this->suffix + std::to_wstring(&c - cases);
    const auto wide = [](const wchar_t* s) { return std::wstring(s ? s : L""); };
    const auto args = t<C>(wide(c.args)), dir = t<C>(wide(c.dir)), desc = t<C>(wide(c.desc));
    const auto given = [](const std::basic_string<C>& s, const wchar_t* p) { return p ? s.c_str() : nullptr; };
    ASSERT_EQ(TypeParam::create(t<C>(file + L".lnk").c_str(), t<C>(this->target).c_str(), given(args, c.args),
                                given(dir, c.dir), given(desc, c.desc), c.hotkey, c.show),
              S_OK);
    std::ofstream((file + L".expected").c_str(), std::ios::binary)
        << t<char>(this->target + L"\n" + wide(c.args) + L"\n" + wide(c.dir) + L"\n" + wide(c.desc)) << "\n";
    std::ifstream in((file + L".lnk").c_str(), std::ios::binary);
    const std::vector<unsigned char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(b.size(), 0x4Cu);
    EXPECT_EQ(b[0x3C] | b[0x3D] << 8, c.show);  // the header's show-command and hotkey fields
    EXPECT_EQ(b[0x40] | b[0x41] << 8, c.hotkey);
    const Reading wine = wine_reads(file + L".lnk");
    const auto got = this->resolve_all(file + L".lnk");
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

// Refused before any COM work: a name that would be cut into another file's,
// a missing target, an icon path without its index.
TYPED_TEST(Shortcuts, RefusalsMakeNoComCallAndWriteNothing) {
  using C = typename TestFixture::C;
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& init = rec.hook<decltype(CoInitialize)>("ole32.dll", "CoInitialize");
  const std::wstring start = this->dir + L"long" + this->suffix;
  const std::wstring at259 = start + std::wstring(255 - start.size(), L'n') + L".lnk";
  const std::wstring at260 = start + std::wstring(256 - start.size(), L'n') + L".lnk";
  if (sizeof(C) == 1) {
    DeleteFileW(at259.c_str());
    EXPECT_EQ(this->create(at260), E_INVALIDARG);
    EXPECT_EQ(this->resolve_all(at260).result, E_INVALIDARG);
    EXPECT_FALSE(exists(at260.substr(0, 259)));
    EXPECT_EQ(init.count(), 0u);
    EXPECT_EQ(this->create(at259), S_OK);  // converts whole
    EXPECT_TRUE(exists(at259));
    rec.clear();
  }
  const auto link = t<C>(this->link);
  C* out = this->out;
  for (HRESULT refused : {TypeParam::create(nullptr, link.c_str(), nullptr, nullptr, nullptr, 0, 1),
                          TypeParam::create(link.c_str(), nullptr, nullptr, nullptr, nullptr, 0, 1),
                          TypeParam::resolve(link.c_str(), nullptr, out, out, nullptr, nullptr, nullptr, nullptr),
                          TypeParam::resolve(link.c_str(), out, nullptr, nullptr, nullptr, nullptr, out, nullptr)}) {
    EXPECT_EQ(refused, E_INVALIDARG);
  }
  EXPECT_EQ(init.count(), 0u);
  EXPECT_FALSE(exists(this->link));
}

TYPED_TEST(Shortcuts, AnInstalledAdvertisedComponentGivesTheInstallersPathElseTheShortcuts) {
  using C = typename TestFixture::C;
  ASSERT_EQ(this->create(this->link), S_OK);
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& query = rec.hook<typename TypeParam::Target>("msi.dll", TypeParam::kTarget, "target");
  auto& component = rec.hook<typename TypeParam::Component>("msi.dll", TypeParam::kComponent, "component");
  const auto installed = t<C>(L"C:\\Installed\\app.exe"), own = t<C>(this->target);
  DWORD count_on_entry = 0;
  INSTALLSTATE state = INSTALLSTATE_LOCAL;
  component.script = [&](const C*, const C*, C* path, DWORD* count) -> std::optional<INSTALLSTATE> {
    count_on_entry = *count;
    std::copy(installed.c_str(), installed.c_str() + installed.size() + 1, path);
    return state;
  };
  // Wine's Installer knows no such shortcut: the shortcut's own target.
  EXPECT_GE(this->resolve_target(this->link), 0);
  EXPECT_EQ(this->out, own);
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
    EXPECT_GE(this->resolve_target(this->link), 0);
    // GetPath, had it been called, would have overwritten the Installer's path.
    EXPECT_EQ(this->out, s == INSTALLSTATE_LOCAL ? installed : own);
    ASSERT_EQ(rec.order(), (std::vector<std::string>{"target", "component"}));
    EXPECT_EQ(std::get<0>(component.calls[0]), t<C>(L"P"));
    EXPECT_EQ(std::get<1>(component.calls[0]), t<C>(L"K"));
    EXPECT_EQ(count_on_entry, DWORD(MAX_PATH));
  }
}

// Failures pass on the failing step's HRESULT (Wine's own Save and Load of
// the same names), with every resolve output at its starting value.
TYPED_TEST(Shortcuts, FailuresAndSuccessesMatchEveryComStartExceptOnACallersMtaThread) {
  using C = typename TestFixture::C;
  const Reading wine = wine_reads(this->nowhere, this->nowhere);
  ASSERT_LT(wine.save, 0);
  ASSERT_LT(wine.load, 0);
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& init = rec.hook<decltype(CoInitialize)>("ole32.dll", "CoInitialize");
  auto& uninit = rec.hook<decltype(CoUninitialize)>("ole32.dll", "CoUninitialize");
  for (bool mta : {false, true}) {
    SCOPED_TRACE(mta ? "caller's MTA thread" : "plain thread");
    rec.clear();
    HRESULT created = E_FAIL, resolved = E_FAIL, still_mta = E_FAIL, failed_save = S_OK;
    typename TestFixture::All failed{};
    std::thread([&] {
      if (mta) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      created = this->create(this->link);
      resolved = this->resolve_target(this->link);
      failed_save = this->create(this->nowhere);
      failed = this->resolve_all(this->nowhere);
      if (mta) {
        still_mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_FALSE: the caller's COM is still up
        CoUninitialize();
        CoUninitialize();
      }
    }).join();
    EXPECT_EQ(created, S_OK);
    EXPECT_GE(resolved, 0);
    EXPECT_EQ(this->out, t<C>(this->target));
    EXPECT_EQ(failed_save, wine.save);
    EXPECT_FALSE(exists(this->nowhere));
    EXPECT_EQ(failed.result, wine.load);
    for (const C* s : {failed.target, failed.dir, failed.desc, failed.icon}) EXPECT_EQ(s[0], C(0));
    EXPECT_EQ(failed.hotkey | failed.icon_index << 16, 0);
    EXPECT_EQ(failed.show, SW_SHOWNORMAL);
    EXPECT_EQ(init.count(), 4u);
    EXPECT_EQ(uninit.count(), mta ? 0u : 4u);
    EXPECT_EQ(still_mta, mta ? S_FALSE : E_FAIL);
  }
}

}  // namespace
