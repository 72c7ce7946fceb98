// File-type association against Wine's real HKEY_CLASSES_ROOT, read back with
// the plain registry API; the call recorder shows byte counts, flags, the
// shell notification and that every key is closed; ShellExecuteExW is the
// outside witness that an association really works.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "registry_read.h"
#include "registry_watch.h"
#include "support/guard_page.h"
#include "support/registry_snapshot.h"

namespace {

using kxtest::Arg;
using kxtest::class_default;
using kxtest::key_exists;
using kxtest::read_value;
using kxtest::Reg;
using kxtest::wide;

template <class C>
struct Api {
  static constexpr auto regist_ext = kxtest::pick<C>(KX_InstRegistExtW, KX_InstRegistExtA);
  static constexpr auto regist_action = kxtest::pick<C>(KX_InstRegistExtActionW, KX_InstRegistExtActionA);
  static constexpr auto unregist = kxtest::pick<C>(KX_InstUnregistExtW, KX_InstUnregistExtA);
  static constexpr auto query = kxtest::pick<C>(KX_InstQueryClassNameW, KX_InstQueryClassNameA);
};

template <class C>
class FileTypes : public kxtest::ClassKeysTest<C> {
 protected:
  using A = Api<C>;
  FileTypes() : kxtest::ClassKeysTest<C>("kxtft", "FileTypes") {}
  static int regist(Arg<C> e, Arg<C> d, Arg<C> c, Arg<C> i, int n) { return A::regist_ext(e.get(), d.get(), c.get(), i.get(), n); }
  static int action(Arg<C> c, Arg<C> v, Arg<C> a, Arg<C> s) { return A::regist_action(c.get(), v.get(), a.get(), s.get()); }
  static int unregist(Arg<C> e, Arg<C> c) { return A::unregist(e.get(), c.get()); }
};

TYPED_TEST_SUITE(FileTypes, kxtest::Widths, kxtest::WidthNames);

// The description may be empty or null: both give a REG_SZ of 0 bytes, handed
// over with a real (empty) string, never a null data pointer.
TYPED_TEST(FileTypes, RegistersExtensionClassAndIcon) {
  using C = TypeParam;
  for (const char* description : {"", static_cast<const char*>(nullptr)}) {
    kxtest::RegistryWatch<C> watch;
    ASSERT_EQ(this->regist(this->ext, description, this->cls, "C:\\Apps\\tool.exe", 0), 0);
    EXPECT_EQ(class_default("." + this->ext), wide(this->cls));
    EXPECT_EQ(class_default(this->cls), L"");
    EXPECT_EQ(class_default(this->cls + "\\DefaultIcon"), L"C:\\Apps\\tool.exe,0");

    ASSERT_EQ(watch.set.calls.size(), 3u);
    const std::basic_string<C> values[] = {this->t(this->cls), {}, this->t("C:\\Apps\\tool.exe,0")};
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& call = watch.set.calls[i];
      EXPECT_FALSE(std::get<1>(call).has_value()) << "default value has a null name";
      EXPECT_EQ(std::get<3>(call), static_cast<DWORD>(REG_SZ));
      EXPECT_NE(std::get<4>(call), nullptr);
      EXPECT_EQ(std::get<5>(call), values[i].size() * sizeof(C)) << "terminator never counted";
    }
    EXPECT_EQ(watch.create.count(), 3u);
    EXPECT_TRUE(watch.conventions(HKEY_CLASSES_ROOT));
    EXPECT_TRUE(watch.balanced());
    EXPECT_EQ(watch.notify.count(), 0u) << "registering the association itself does not notify";
  }
}

TYPED_TEST(FileTypes, IconIndexKeepsItsSign) {
  ASSERT_EQ(this->regist(this->ext, "d", this->cls, "C:\\Apps\\tool.exe", -101), 0);
  EXPECT_EQ(class_default(this->cls + "\\DefaultIcon"), L"C:\\Apps\\tool.exe,-101");
  ASSERT_EQ(this->regist(this->ext, "d", this->cls, "C:\\Apps\\tool.exe", INT_MIN), 0);
  EXPECT_EQ(class_default(this->cls + "\\DefaultIcon"), L"C:\\Apps\\tool.exe,-2147483648");
}

TYPED_TEST(FileTypes, ReRegisteringReplacesOnlyTheDefaultValues) {
  const std::wstring e = wide("." + this->ext), c = wide(this->cls);
  kxtest::write_string(HKEY_CLASSES_ROOT, e, L"Content Type", L"text/x-kx");
  kxtest::write_string(HKEY_CLASSES_ROOT, e + L"\\ShellNew", L"NullFile", L"");
  kxtest::write_string(HKEY_CLASSES_ROOT, c + L"\\shell\\open\\command", nullptr, L"old.exe %1");
  kxtest::write_string(HKEY_CLASSES_ROOT, c + L"\\DefaultIcon", L"Other", L"kept");
  ASSERT_EQ(this->regist(this->ext, "Old", "KXTest.Old", "old.ico", 1), 0);
  ASSERT_EQ(this->regist(this->ext, "New", this->cls, "new.ico", 2), 0);

  EXPECT_EQ(class_default("." + this->ext), c);
  EXPECT_EQ(class_default(this->cls), L"New");
  EXPECT_EQ(class_default(this->cls + "\\DefaultIcon"), L"new.ico,2");
  EXPECT_EQ(read_value(HKEY_CLASSES_ROOT, e, L"Content Type")->as_wide(), L"text/x-kx");
  EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, e + L"\\ShellNew"));
  EXPECT_EQ(class_default(this->cls + "\\shell\\open\\command"), L"old.exe %1");
  EXPECT_EQ(read_value(HKEY_CLASSES_ROOT, c + L"\\DefaultIcon", L"Other")->as_wide(), L"kept");
  kxtest::remove_tree(HKEY_CLASSES_ROOT, L"KXTest.Old");
}

TYPED_TEST(FileTypes, ActionWritesOnlyItsKeyAndNotifiesOnce) {
  using C = TypeParam;
  kxtest::RegistryWatch<C> watch;
  ASSERT_EQ(this->action(this->cls, "open", "command", "notepad.exe \"%1\""), 0);
  EXPECT_EQ(class_default(this->cls + "\\shell\\open\\command"), L"notepad.exe \"%1\"");
  EXPECT_EQ(class_default(this->cls + "\\shell\\open"), std::nullopt) << "the verb's menu text is not set";
  EXPECT_EQ(class_default(this->cls + "\\shell"), std::nullopt) << "the default verb is not set";
  ASSERT_EQ(watch.create.count(), 1u);
  EXPECT_EQ(std::get<1>(watch.create.calls[0]), this->t(this->cls + "\\shell\\open\\command"));
  EXPECT_TRUE(watch.conventions(HKEY_CLASSES_ROOT));
  EXPECT_TRUE(watch.balanced());
  ASSERT_EQ(watch.notify.count(), 1u);
  EXPECT_EQ(watch.notify.calls[0], std::make_tuple(LONG(0x08000000), UINT(0), LPCVOID(nullptr), LPCVOID(nullptr)));
  EXPECT_EQ(watch.rec.order().back(), "SHChangeNotify") << "notified after the key is written and closed";
}

TYPED_TEST(FileTypes, RemovalReportsEachMissingKey) {
  using C = TypeParam;
  ASSERT_EQ(this->regist(this->ext, "d", this->cls, "i.ico", 0), 0);
  ASSERT_EQ(this->action(this->cls, "open", "command", "x %1"), 0);
  {
    kxtest::RegistryWatch<C> watch;
    EXPECT_EQ(this->unregist(this->ext, this->cls), 0);
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide("." + this->ext)));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide(this->cls)));
    EXPECT_EQ(watch.delete_tree.count(), 2u);
    EXPECT_EQ(watch.notify.count(), 1u);
  }
  ASSERT_EQ(this->action(this->cls, "open", "command", "x %1"), 0);
  {
    kxtest::RegistryWatch<C> watch;
    EXPECT_EQ(this->unregist(this->ext, this->cls), 1) << "the extension key was missing";
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide(this->cls))) << "the class key goes all the same";
    EXPECT_EQ(watch.notify.count(), 1u);
    EXPECT_EQ(this->unregist(this->ext, this->cls), 1) << "neither key is there";
  }
}

// Calls refused before any registry call: a missing argument, a key name
// that starts at the root, or text that would not fit a 260-character buffer.
TYPED_TEST(FileTypes, RefusedCallsTouchNothing) {
  using C = TypeParam;
  const std::string& e = this->ext;
  const std::string& c = this->cls;
  const std::string root_class = "\\" + c;
  const std::string long_ext(259, 'x');                       // "." + 259 = 260
  const std::string long_class = c + std::string(260 - c.size(), 'c');
  const std::string icon_class = c + std::string(248 - c.size(), 'c');  // + "\DefaultIcon" = 260
  const std::string icon_255(255, 'i');                       // + ",-101" = 260
  const std::string icon_248(248, 'i');                       // + ",-2147483648" = 260
  const std::string verb(100, 'v');
  const std::string action_long(259 - c.size() - 7 - 100 - 1 + 1, 'a');  // one past the buffer

  const kxtest::ClassesRootBefore before(e, c);
  kxtest::RegistryWatch<C> watch;
  auto expect_refused = [&](const char* what, int result) {
    EXPECT_EQ(result, 1) << what;
    EXPECT_EQ(watch.registry_calls(), 0u) << what;
    EXPECT_EQ(watch.notify.count(), 0u) << what;
  };
  expect_refused("ext null", this->regist(nullptr, "d", c, "i", 0));
  expect_refused("ext empty", this->regist("", "d", c, "i", 0));
  expect_refused("class null", this->regist(e, "d", nullptr, "i", 0));
  expect_refused("class empty", this->regist(e, "d", "", "i", 0));
  expect_refused("icon null", this->regist(e, "d", c, nullptr, 0));
  expect_refused("icon empty", this->regist(e, "d", c, "", 0));
  expect_refused("class at root", this->regist(e, "d", root_class, "i", 0));
  expect_refused("ext too long", this->regist(long_ext, "d", c, "i", 0));
  expect_refused("class too long", this->regist(e, "d", long_class, "i", 0));
  expect_refused("icon key too long", this->regist(e, "d", icon_class, "i", 0));
  expect_refused("icon string too long", this->regist(e, "d", c, icon_255, -101));
  expect_refused("icon string INT_MIN", this->regist(e, "d", c, icon_248, INT_MIN));
  expect_refused("action class null", this->action(nullptr, "open", "command", "x"));
  expect_refused("action verb empty", this->action(c, "", "command", "x"));
  expect_refused("action key null", this->action(c, "open", nullptr, "x"));
  expect_refused("action string null", this->action(c, "open", "command", nullptr));
  expect_refused("action class at root", this->action("\\", "open", "command", "x"));
  expect_refused("action key too long", this->action(c, verb, action_long, "x"));
  expect_refused("unregist ext null", this->unregist(nullptr, c));
  expect_refused("unregist class null", this->unregist(e, nullptr));
  expect_refused("unregist class empty", this->unregist(e, ""));
  expect_refused("unregist class at root", this->unregist(e, "\\"));
  expect_refused("unregist ext too long", this->unregist(long_ext, c));

  EXPECT_TRUE(kxtest::Unchanged(before));
  EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"CLSID")) << "HKEY_CLASSES_ROOT is intact";
}

// One character less than each refused case above fits and is written whole.
TYPED_TEST(FileTypes, TextThatJustFitsIsUsedWhole) {
  const std::string& c = this->cls;
  const std::string icon_class = c + std::string(247 - c.size(), 'c');  // key of 259 characters
  const std::string icon_254(254, 'i');
  ASSERT_EQ(this->regist(this->ext, "d", icon_class, icon_254, -101), 0);
  EXPECT_EQ(class_default(icon_class + "\\DefaultIcon"), wide(icon_254 + ",-101"));
  kxtest::remove_tree(HKEY_CLASSES_ROOT, wide(icon_class));

  const std::string verb(100, 'v');
  const std::string action(259 - c.size() - 7 - 100 - 1, 'a');
  ASSERT_EQ(this->action(c, verb, action, "x"), 0);
  EXPECT_EQ(class_default(c + "\\shell\\" + verb + "\\" + action), L"x");
}

TYPED_TEST(FileTypes, FailuresStillCloseEveryKey) {
  using C = TypeParam;
  for (std::size_t failing = 1; failing <= 3; ++failing) {
    this->clean();
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::create][failing] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->regist(this->ext, "d", this->cls, "i.ico", 0), 1) << failing;
    EXPECT_EQ(watch.create.count(), failing) << "no step after the failing one";
    EXPECT_EQ(watch.set.count(), failing - 1);
    EXPECT_TRUE(watch.balanced()) << failing;
    EXPECT_EQ(key_exists(HKEY_CLASSES_ROOT, wide("." + this->ext)), failing > 1)
        << "earlier steps stay";
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::set][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->regist(this->ext, "d", this->cls, "i.ico", 0), 1) << "an extension that names no class";
    EXPECT_EQ(watch.set.count(), 1u) << "no step after the failing write";
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::set][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->action(this->cls, "open", "command", "x"), ERROR_ACCESS_DENIED) << "a verb without a command";
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::create][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->action(this->cls, "open", "command", "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(watch.set.count(), 0u);
    EXPECT_EQ(watch.notify.count(), 1u) << "notified whether or not the key was created";
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::delete_tree].always(ERROR_ACCESS_DENIED);
    EXPECT_EQ(this->unregist(this->ext, this->cls), 1);
    EXPECT_EQ(watch.delete_tree.count(), 2u) << "the class key is tried after the extension key failed";
    EXPECT_EQ(watch.notify.count(), 1u);
  }
}

// ---------------------------------------------------------------------------
// The class name, written into a buffer that ends at an inaccessible page.

template <class C>
class ClassName : public kxtest::WidthTest<C> {
 protected:
  using A = Api<C>;
  std::basic_string<C> query(const std::optional<std::string>& path) {
    kxtest::GuardBuffer<C> out(MAX_PATH);
    out.fill_garbage();
    const std::basic_string<C> p = path ? this->t(*path) : std::basic_string<C>();
    A::query(path ? p.c_str() : nullptr, out.data());
    EXPECT_TRUE(out.terminated());
    return out.text();
  }
};
TYPED_TEST_SUITE(ClassName, kxtest::Widths, kxtest::WidthNames);

TYPED_TEST(ClassName, IsTheFirstComponentBoundedAt260) {
  EXPECT_EQ(this->query("MyType.Doc\\shell\\open\\command"), this->t("MyType.Doc"));
  EXPECT_EQ(this->query("MyType.Doc"), this->t("MyType.Doc"));
  EXPECT_EQ(this->query(""), this->t(""));
  EXPECT_EQ(this->query(std::nullopt), this->t(""));
  EXPECT_EQ(this->query("\\MyType.Doc\\shell"), this->t(""));
  const std::string fits(259, 'k');
  EXPECT_EQ(this->query(fits + "\\shell"), this->t(fits));
  EXPECT_EQ(this->query(fits), this->t(fits));
  EXPECT_EQ(this->query(std::string(260, 'k') + "\\shell"), this->t("")) << "never cut";
  EXPECT_EQ(this->query(std::string(5000, 'k')), this->t(""));
  TestFixture::A::query(this->t("x").c_str(), nullptr);  // no buffer: nothing to write
}

// A double-byte code page, stood in for through IsDBCSLeadByte: 0x95 0x5C is
// one character (U+8868 in code page 932), not a name ending at its 0x5C.
TEST(NarrowClassName, KeepsDoubleByteCharactersWhole) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& lead = rec.hook<decltype(IsDBCSLeadByte)>(nullptr, "IsDBCSLeadByte");
  lead.script = [](BYTE b) -> std::optional<BOOL> { return b >= 0x81 && b <= 0x9F; };
  kxtest::GuardBuffer<char> out(MAX_PATH);
  KX_InstQueryClassNameA("\x95\x5CX\\shell\\open", out.data());
  EXPECT_EQ(out.text(), "\x95\x5CX");
  KX_InstQueryClassNameA("A\x95", out.data());
  EXPECT_EQ(out.text(), "A\x95") << "a lead byte at the end stands alone";
  const std::string fits(257, 'k');
  KX_InstQueryClassNameA((fits + "\x95\x5C").c_str(), out.data());
  EXPECT_EQ(out.text(), fits + "\x95\x5C");
  KX_InstQueryClassNameA((fits + "k\x95\x5C").c_str(), out.data());
  EXPECT_EQ(out.text(), "") << "a character is never split at the bound";
}

// The real code page. CTest runs this suite alone, in a prefix of its own
// whose Wine session started with LANG=ja_JP.UTF-8 (code page 932).
TEST(CodePage932, RealDoubleByteCodePage) {
  ASSERT_EQ(GetACP(), 932u) << "this suite runs in the code-page-932 session only";
  char out[MAX_PATH];
  KX_InstQueryClassNameA("\x95\x5C\\shell\\open", out);
  EXPECT_STREQ(out, "\x95\x5C");
}

// ---------------------------------------------------------------------------
// The shell itself opens a document through the association.

class Witness : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    dir_ = std::wstring(temp) + L"KXTest_FileTypes_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir_.c_str(), nullptr);
    doc_ = dir_ + L"\\sample.kxtftx";
    marker_ = dir_ + L"\\marker.txt";
    std::ofstream(doc_.c_str()) << "sample\n";
  }
  void TearDown() override {
    KX_InstUnregistExtW(L"kxtftx", kClass);
    DeleteFileW(marker_.c_str());
    DeleteFileW(doc_.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  bool open_document() {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = doc_.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) return false;
    if (info.hProcess != nullptr) {
      EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
      CloseHandle(info.hProcess);
    }
    return true;
  }
  std::string marker() {
    std::ifstream in(marker_.c_str());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static constexpr const wchar_t* kClass = L"KXTest.FileTypes.Witness";
  std::wstring dir_, doc_, marker_;
};

TEST_F(Witness, ShellOpensTheDocumentUntilTheAssociationIsRemoved) {
  ASSERT_EQ(KX_InstRegistExtW(L"kxtftx", L"KX witness document", kClass, L"C:\\windows\\system32\\shell32.dll", 0),
            0);
  const std::wstring command = L"cmd /c echo %1 > \"" + marker_ + L"\"";
  ASSERT_EQ(KX_InstRegistExtActionW(kClass, L"open", L"command", command.c_str()), 0);
  ASSERT_TRUE(open_document()) << "ShellExecuteExW error " << GetLastError();
  EXPECT_NE(marker().find("sample.kxtftx"), std::string::npos) << "marker: " << marker();

  ASSERT_TRUE(DeleteFileW(marker_.c_str()));
  ASSERT_EQ(KX_InstUnregistExtW(L"kxtftx", kClass), 0);
  EXPECT_FALSE(open_document()) << "no association is left";
  EXPECT_EQ(GetFileAttributesW(marker_.c_str()), INVALID_FILE_ATTRIBUTES) << "the verb no longer runs";
}

}  // namespace
