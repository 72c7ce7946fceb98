// App Paths entries and application keys: what Wine's registry holds after
// each call (read back with the plain API), what the call recorder shows that
// the registry cannot (access, byte counts, order, every key closed, also on
// injected failures), and the shell starting a registered program.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "registry_read.h"
#include "registry_watch.h"
#include "support/guard_page.h"
#include "support/registry_snapshot.h"

namespace {

using kxtest::Reg;
using kxtest::text;

const HKEY kRoot = HKEY_LOCAL_MACHINE;
const std::wstring kList = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const std::wstring kPrefix = kList + L"\\";

template <class C>
struct Api {
  static constexpr auto regist_path = kxtest::pick<C>(KX_InstRegistAppPathW, KX_InstRegistAppPathA);
  static constexpr auto query_path = kxtest::pick<C>(KX_InstQueryAppPathW, KX_InstQueryAppPathA);
  static constexpr auto delete_path = kxtest::pick<C>(KX_InstDeleteAppPathW, KX_InstDeleteAppPathA);
  static constexpr auto regist_app = kxtest::pick<C>(KX_InstRegistAppW, KX_InstRegistAppA);
  static constexpr auto delete_app = kxtest::pick<C>(KX_InstDeleteAppW, KX_InstDeleteAppA);
};

template <class C>
class AppPaths : public kxtest::RegistryTest<C> {
 protected:
  using A = Api<C>;
  // Queries into a 260-character buffer that ends at a guard page.
  static int query(const std::wstring& name, std::basic_string<C>& out) {
    kxtest::GuardBuffer<C> buf(MAX_PATH);
    buf.fill_garbage();
    const int st = A::query_path(text<C>(name).c_str(), buf.data());
    EXPECT_TRUE(buf.terminated());
    out = buf.text();
    return st;
  }
};
TYPED_TEST_SUITE(AppPaths, kxtest::Widths, kxtest::WidthNames);

// The file name and directory have the lengths of the 13- and 21-character
// example: "Path" takes 13 characters, the default value 21.
TYPED_TEST(AppPaths, EntryIsWrittenReadBackAndDeleted) {
  using C = TypeParam;
  const std::wstring name = L"KX" + this->suffix() + L"t.exe", dir = L"C:\\Apps\\Tool\\";
  const std::wstring key = this->own(kRoot, kPrefix + name);
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(TestFixture::A::regist_path(this->t(name).c_str(), this->t(dir).c_str()), 0);
    EXPECT_EQ(w.rec.order(), kxtest::call_names<C>({Reg::create, Reg::set, Reg::set, Reg::close}));
    EXPECT_EQ(w.created_paths(), this->ts({key}));
    ASSERT_EQ(w.writes.size(), 2u);
    EXPECT_EQ(w.writes[0].name, this->t(L"Path"));
    EXPECT_EQ(w.writes[0].bytes, 13 * sizeof(C));
    EXPECT_EQ(w.writes[0].data, this->t(dir));
    EXPECT_EQ(w.writes[1].name, this->t(L""));
    EXPECT_EQ(w.writes[1].bytes, 21 * sizeof(C));
    EXPECT_EQ(w.writes[1].data, this->t(dir + name));
    for (const auto& wr : w.writes) EXPECT_EQ(wr.type, DWORD(REG_SZ));
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"Path")->as_wide(), dir);
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"")->type, DWORD(REG_SZ));
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"")->as_wide(), dir + name);

  // Overwriting replaces both values, keeps others; no separator is added.
  kxtest::write_string(kRoot, key, L"KXTest_Other", L"kept");
  EXPECT_EQ(TestFixture::A::regist_path(this->t(name).c_str(), this->t(L"C:\\Apps\\Tool").c_str()), 0);
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"")->as_wide(), L"C:\\Apps\\Tool" + name);
  EXPECT_EQ(kxtest::read_value(kRoot, key, L"KXTest_Other")->as_wide(), L"kept");

  typename TestFixture::Text out;
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(this->query(name, out), 0);
    EXPECT_EQ(out, this->t(L"C:\\Apps\\Tool"));
    EXPECT_EQ(w.rec.order(), kxtest::call_names<C>({Reg::open, Reg::query, Reg::close}));
    EXPECT_EQ(w.opened_paths(), this->ts({key}));
    ASSERT_EQ(w.reads.size(), 1u);
    EXPECT_EQ(w.reads[0].name, this->t(L"path"));
    EXPECT_EQ(w.reads[0].capacity, 260u * sizeof(C));
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(TestFixture::A::delete_path(this->t(name).c_str()), 0);
    EXPECT_EQ(w.rec.order(), kxtest::call_names<C>({Reg::open, Reg::delete_key, Reg::close}));
    EXPECT_EQ(w.opened_paths(), this->ts({kList}));
    EXPECT_EQ(w.deleted_names(), this->ts({name}));
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  EXPECT_FALSE(kxtest::key_exists(kRoot, key));
  EXPECT_EQ(TestFixture::A::delete_path(this->t(name).c_str()), 2);
  EXPECT_EQ(this->query(name, out), 2);
  EXPECT_EQ(out, this->t(L""));
}

// Whatever is stored, the caller gets a string that ends within its 260
// characters, or ERROR_MORE_DATA with an empty string.
TYPED_TEST(AppPaths, QueryTerminatesWithinTheBufferOrReportsMoreData) {
  using C = TypeParam;
  const std::wstring name = L"KXTest_AppPaths_Query" + this->suffix() + L".exe";
  const std::wstring key = this->own(kRoot, kPrefix + name);
  struct Case {
    size_t chars;
    bool raw;  // REG_BINARY without terminator, else REG_SZ as Wine stores it
    int status;
  };
  const Case cases[] = {{3, true, 0},   {200, false, 0}, {259, false, 0},  {259, true, 0},
                        {260, true, 234}, {260, false, 234}, {300, true, 234}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.chars << (c.raw ? " raw" : " string"));
    std::wstring value;
    for (size_t i = 0; i < c.chars; ++i) value.push_back(L'a' + i % 26);
    const auto stored = this->t(value);
    if (c.raw) {
      kxtest::write_raw(kRoot, key, L"Path", REG_BINARY, stored.data(), DWORD(stored.size() * sizeof(C)));
    } else {
      kxtest::write_string(kRoot, key, L"Path", value);
    }
    typename TestFixture::Text out;
    EXPECT_EQ(this->query(name, out), c.status);
    EXPECT_EQ(out, c.status == 0 ? stored : this->t(L""));
  }
  typename TestFixture::Text out;
  {
    // The platform owes nothing past the bytes it reports: here it leaves
    // the rest of the buffer full of characters.
    kxtest::RegistryWatch<C> w;
    w.answer_query = [](LPBYTE data, LPDWORD bytes) {
      const DWORD capacity = *bytes / sizeof(C);
      for (DWORD i = 0; i < capacity; ++i) reinterpret_cast<C*>(data)[i] = C(i < 3 ? 'a' + i : 'q');
      *bytes = 3 * sizeof(C);
      return LONG(ERROR_SUCCESS);
    };
    EXPECT_EQ(this->query(name, out), 0);
    EXPECT_EQ(out, this->t(L"abc"));
  }
  ASSERT_TRUE(kxtest::remove_tree(kRoot, key));
  kxtest::write_string(kRoot, key, L"Other", L"x");
  EXPECT_EQ(this->query(name, out), 2) << "an entry without \"Path\"";
  EXPECT_EQ(out, this->t(L""));
}

TYPED_TEST(AppPaths, RefusedCallsTouchNeitherRegistryNorBuffer) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const auto name = this->t(L"KXTest_AppPaths_Refused.exe"), dir = this->t(L"C:\\Apps\\"), empty = this->t(L"");
  const auto slash = this->t(L"\\");
  const kxtest::RegistrySnapshot before(kRoot, kList.c_str());
  kxtest::GuardBuffer<C> buf(MAX_PATH);
  buf.fill_garbage();
  kxtest::RegistryWatch<C> w;
  for (const C* bad : {static_cast<const C*>(nullptr), empty.c_str(), slash.c_str()}) {
    EXPECT_EQ(A::regist_path(bad, dir.c_str()), 1);
    EXPECT_EQ(A::query_path(bad, buf.data()), 1);
    EXPECT_EQ(A::delete_path(bad), 1);
    EXPECT_EQ(A::regist_app(bad, name.c_str(), name.c_str()), 1);
    EXPECT_EQ(A::regist_app(name.c_str(), bad, name.c_str()), 1);
    EXPECT_EQ(A::regist_app(name.c_str(), name.c_str(), bad), 1);
    EXPECT_EQ(A::delete_app(bad, name.c_str(), name.c_str()), 1);
    EXPECT_EQ(A::delete_app(name.c_str(), bad, name.c_str()), 1);
    EXPECT_EQ(A::delete_app(name.c_str(), name.c_str(), bad), 1);
  }
  EXPECT_EQ(A::regist_path(name.c_str(), nullptr), 1);
  EXPECT_EQ(A::regist_path(name.c_str(), empty.c_str()), 1);
  EXPECT_EQ(A::query_path(name.c_str(), nullptr), 1);
  EXPECT_EQ(w.registry_calls(), 0u);
  EXPECT_TRUE(buf.still_garbage());
  EXPECT_TRUE(kxtest::Unchanged(before));
}

// 259 characters are used whole; at 260 the call is refused before the
// registry sees anything.
TYPED_TEST(AppPaths, PathsOf259AreUsedWholeAnd260Refused) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const std::wstring stem = L"KXTest_AppPaths_Long" + this->suffix();
  const std::wstring name259 = stem + std::wstring(259 - kPrefix.size() - stem.size(), L'n');
  const std::wstring key = this->own(kRoot, kPrefix + name259);
  ASSERT_EQ(key.size(), 259u);
  const std::wstring dir = L"C:\\" + std::wstring(259 - 3 - name259.size(), L'd') + L"\\";
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::regist_path(this->t(name259).c_str(), this->t(dir.substr(0, dir.size() - 1)).c_str()), 0);
    EXPECT_EQ(w.created_paths(), this->ts({key}));
    ASSERT_EQ(w.writes.size(), 2u);
    EXPECT_EQ(w.writes[1].data.size(), 259u);
  }
  typename TestFixture::Text out;
  EXPECT_EQ(this->query(name259, out), 0);
  EXPECT_EQ(out, this->t(dir.substr(0, dir.size() - 1)));

  const kxtest::RegistrySnapshot before(kRoot, kList.c_str());
  kxtest::GuardBuffer<C> buf(MAX_PATH);
  buf.fill_garbage();
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::regist_path(this->t(name259).c_str(), this->t(dir).c_str()), 1) << "default value of 260";
    EXPECT_EQ(A::regist_path(this->t(name259 + L"x").c_str(), this->t(L"C:\\").c_str()), 1);
    EXPECT_EQ(A::query_path(this->t(name259 + L"x").c_str(), buf.data()), 1);
    const std::wstring long_name(260, L'n');
    EXPECT_EQ(A::delete_path(this->t(long_name).c_str()), 1);
    EXPECT_EQ(w.registry_calls(), 0u);
    A::delete_path(this->t(long_name.substr(1)).c_str());
    EXPECT_EQ(w.deleted_names(), this->ts({long_name.substr(1)}));
  }
  EXPECT_TRUE(buf.still_garbage());
  EXPECT_TRUE(kxtest::Unchanged(before));
  EXPECT_EQ(A::delete_path(this->t(name259).c_str()), 0);

  // The application key: SOFTWARE\first\second\third of 259 and of 260.
  const std::wstring first = L"KXTest_AppKey_Long" + this->suffix(), second(100, L's');
  const std::wstring third(259 - 9 - first.size() - 1 - second.size() - 1, L't');
  const std::wstring app = this->own(kRoot, L"SOFTWARE\\" + first);
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::regist_app(this->t(first).c_str(), this->t(second).c_str(), this->t(third).c_str()), 0);
    EXPECT_EQ(w.created_paths(), this->ts({app + L"\\" + second + L"\\" + third}));
    EXPECT_EQ(w.created_paths()[0].size(), 259u);
    const kxtest::RegistrySnapshot app_before(kRoot, app.c_str());
    EXPECT_EQ(A::regist_app(this->t(first).c_str(), this->t(second).c_str(), this->t(third + L"t").c_str()), 1);
    EXPECT_EQ(A::delete_app(this->t(first).c_str(), this->t(second).c_str(), this->t(third + L"t").c_str()), 1);
    EXPECT_EQ(w.create.count(), 1u);
    EXPECT_EQ(w.open.count(), 0u);
    EXPECT_TRUE(kxtest::Unchanged(app_before));
    EXPECT_EQ(A::delete_app(this->t(first).c_str(), this->t(second).c_str(), this->t(third).c_str()), 0);
    EXPECT_EQ(w.deleted_names(), this->ts({third, second, first}));
  }
  EXPECT_FALSE(kxtest::key_exists(kRoot, app));
}

TYPED_TEST(AppPaths, ApplicationKeyComesAndGoesWithItsEmptyParents) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const std::wstring first = L"KXTest_AppKey_" + this->suffix();
  const std::wstring app = this->own(kRoot, L"SOFTWARE\\" + first);
  const auto f = this->t(first), one = this->t(L"ProductOne"), two = this->t(L"ProductTwo"), comp = this->t(L"Comp");
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::regist_app(f.c_str(), one.c_str(), comp.c_str()), 0);
    EXPECT_EQ(w.rec.order(), kxtest::call_names<C>({Reg::create, Reg::close}));
    EXPECT_EQ(w.created_paths(), this->ts({app + L"\\ProductOne\\Comp"}));
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  const kxtest::RegistrySnapshot created(kRoot, app.c_str());
  ASSERT_TRUE(created.exists());
  for (const auto& [path, k] : created.keys()) EXPECT_TRUE(k.values.empty()) << std::string(path.begin(), path.end());
  EXPECT_EQ(A::regist_app(f.c_str(), one.c_str(), comp.c_str()), 0);
  EXPECT_TRUE(kxtest::Unchanged(created));

  // A second product under the same first level, and values that do not
  // stand in the way of removal.
  EXPECT_EQ(A::regist_app(f.c_str(), two.c_str(), comp.c_str()), 0);
  kxtest::write_string(kRoot, app + L"\\ProductOne\\Comp", L"Version", L"1");
  kxtest::write_string(kRoot, app + L"\\ProductOne", L"Vendor", L"KX");
  {
    kxtest::RegistryWatch<C> w;
    EXPECT_EQ(A::delete_app(f.c_str(), one.c_str(), comp.c_str()), 0);
    EXPECT_EQ(w.rec.order(), kxtest::call_names<C>({Reg::open, Reg::delete_key, Reg::close, Reg::open,
                                                     Reg::delete_key, Reg::close, Reg::open, Reg::delete_key,
                                                     Reg::close}));
    EXPECT_EQ(w.opened_paths(), this->ts({app + L"\\ProductOne", app, L"SOFTWARE\\"}));
    EXPECT_EQ(w.deleted_names(), this->ts({L"Comp", L"ProductOne", first}));
    EXPECT_TRUE(w.conventions(kRoot));
    EXPECT_TRUE(w.balanced());
  }
  EXPECT_FALSE(kxtest::key_exists(kRoot, app + L"\\ProductOne"));
  EXPECT_TRUE(kxtest::key_exists(kRoot, app + L"\\ProductTwo\\Comp"));
  EXPECT_EQ(A::delete_app(f.c_str(), two.c_str(), comp.c_str()), 0);
  EXPECT_FALSE(kxtest::key_exists(kRoot, app));
  EXPECT_EQ(A::delete_app(f.c_str(), two.c_str(), comp.c_str()), 0) << "nothing left to delete";
}

TYPED_TEST(AppPaths, InjectedFailuresArePassedOnAndEveryKeyIsClosed) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  const std::wstring wname = L"KXTest_AppPaths_Fail" + this->suffix() + L".exe";
  const std::wstring key = this->own(kRoot, kPrefix + wname);
  const auto name = this->t(wname), dir = this->t(L"C:\\F\\");
  const auto f = this->t(L"KXTest_AppKey_Fail" + this->suffix()), s = this->t(L"S"), th = this->t(L"T");
  this->own(kRoot, L"SOFTWARE\\KXTest_AppKey_Fail" + this->suffix());
  auto check = [](kxtest::RegistryWatch<C>& w, const char* what) {
    EXPECT_TRUE(w.balanced()) << what;
    EXPECT_TRUE(w.conventions(kRoot)) << what;
  };
  {
    kxtest::RegistryWatch<C> w;
    w.fail[Reg::create][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(A::regist_path(name.c_str(), dir.c_str()), 5);
    EXPECT_EQ(A::regist_app(f.c_str(), s.c_str(), th.c_str()), 0) << "only the first create fails";
    EXPECT_EQ(w.set.count(), 0u);
    check(w, "create");
  }
  for (size_t failing : {1, 2}) {  // each write reported, the other still made
    kxtest::RegistryWatch<C> w;
    w.fail[Reg::set][failing] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(A::regist_path(name.c_str(), dir.c_str()), 5) << failing;
    EXPECT_EQ(w.set.count(), 2u);
    check(w, "set");
  }
  kxtest::GuardBuffer<C> buf(MAX_PATH);
  {
    kxtest::RegistryWatch<C> w;
    w.fail[Reg::open][1] = ERROR_ACCESS_DENIED;
    w.fail[Reg::query][2] = ERROR_INVALID_DATA;
    buf.fill_garbage();
    EXPECT_EQ(A::query_path(name.c_str(), buf.data()), 5);
    EXPECT_EQ(buf.text(), this->t(L""));
    buf.fill_garbage();
    EXPECT_EQ(A::query_path(name.c_str(), buf.data()), 0);
    buf.fill_garbage();
    EXPECT_EQ(A::query_path(name.c_str(), buf.data()), ERROR_INVALID_DATA);
    EXPECT_EQ(buf.text(), this->t(L""));
    w.fail[Reg::open][4] = ERROR_ACCESS_DENIED;
    w.fail[Reg::delete_key][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(A::delete_path(name.c_str()), 5) << "list not opened";
    EXPECT_EQ(A::delete_path(name.c_str()), 5) << "deletion refused";
    EXPECT_TRUE(kxtest::key_exists(kRoot, key));
    EXPECT_EQ(w.delete_key.count(), 1u);
    check(w, "open, query, delete");
  }
  {
    // A stage whose open fails skips only its own deletion; the result is
    // the last stage's open.
    kxtest::RegistryWatch<C> w;
    w.fail[Reg::open][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(A::delete_app(f.c_str(), s.c_str(), th.c_str()), 0);
    EXPECT_EQ(w.deleted_names(), this->ts({L"S", L"KXTest_AppKey_Fail" + this->suffix()}));
    w.fail[Reg::open][6] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(A::delete_app(f.c_str(), s.c_str(), th.c_str()), 5);
    EXPECT_EQ(w.open.count(), 6u);
    check(w, "stages");
  }
}

// The shell itself starts a program by its bare file name through the entry.
TEST(AppPathsWitness, ShellExecuteFindsTheRegisteredProgram) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring tag = L"KXTest_AppPaths_Shell" + std::to_wstring(GetCurrentProcessId());
  const std::wstring dir = std::wstring(temp) + tag + L"\\", exe = tag + L".exe";
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  ASSERT_TRUE(CopyFileW(L"C:\\windows\\system32\\hostname.exe", (dir + exe).c_str(), FALSE));
  auto start = [&](HANDLE* process) {
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.lpFile = exe.c_str();
    sei.nShow = SW_HIDE;
    const BOOL ok = ShellExecuteExW(&sei);
    *process = sei.hProcess;
    return ok;
  };
  HANDLE process = nullptr;
  EXPECT_FALSE(start(&process)) << "found without an entry";

  ASSERT_EQ(KX_InstRegistAppPathW(exe.c_str(), dir.c_str()), 0);
  ASSERT_TRUE(start(&process));
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
  DWORD code = 99;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, 0u);
  wchar_t image[MAX_PATH];
  DWORD size = MAX_PATH;
  EXPECT_TRUE(QueryFullProcessImageNameW(process, 0, image, &size));
  EXPECT_EQ(lstrcmpiW(image, (dir + exe).c_str()), 0) << image;
  CloseHandle(process);

  EXPECT_EQ(KX_InstDeleteAppPathW(exe.c_str()), 0);
  EXPECT_FALSE(start(&process)) << "still found after the entry was deleted";
  DeleteFileW((dir + exe).c_str());
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
