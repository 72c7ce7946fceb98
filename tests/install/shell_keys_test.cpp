// Shell verb keys against Wine's real HKEY_CLASSES_ROOT, read back with the
// plain registry API; the call recorder shows the call order, byte counts,
// the root handle the removal deletes through, and that nothing notifies.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "KX_Pellam.h"
#include "registry_read.h"
#include "registry_watch.h"
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
  static constexpr auto regist = kxtest::pick<C>(KX_InstRegistShellKeyW, KX_InstRegistShellKeyA);
  static constexpr auto unregist = kxtest::pick<C>(KX_InstUnregistShellKeyW, KX_InstUnregistShellKeyA);
};

template <class C>
class ShellKeys : public kxtest::ClassKeysTest<C> {
 protected:
  using A = Api<C>;
  ShellKeys() : kxtest::ClassKeysTest<C>("kxtsk", "ShellKeys") {}
  const std::string path = this->cls + "\\shell\\open\\command";
  static int regist(Arg<C> e, Arg<C> d, Arg<C> p, Arg<C> v) { return A::regist(e.get(), d.get(), p.get(), v.get()); }
  static int unregist(Arg<C> e, Arg<C> p) { return A::unregist(e.get(), p.get()); }
};

TYPED_TEST_SUITE(ShellKeys, kxtest::Widths, kxtest::WidthNames);

TYPED_TEST(ShellKeys, RegistersExtensionClassAndKeyPath) {
  using C = TypeParam;
  kxtest::RegistryWatch<C> watch;
  ASSERT_EQ(this->regist(this->ext, "My document", this->path, "tool.exe \"%1\""), 0);
  EXPECT_EQ(class_default("." + this->ext), wide(this->cls));
  EXPECT_EQ(class_default(this->cls), L"My document");
  EXPECT_EQ(class_default(this->path), L"tool.exe \"%1\"");

  const std::vector<std::string> expected_order = {"RegCreateKeyEx", "RegSetValueEx", "RegCloseKey"};
  ASSERT_EQ(watch.rec.order().size(), 9u);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(watch.rec.order()[i].rfind(expected_order[i % 3], 0), 0u) << i;
  ASSERT_EQ(watch.set.count(), 3u);
  EXPECT_EQ(std::get<5>(watch.set.calls[0]), this->cls.size() * sizeof(C)) << "class name, terminator not counted";
  EXPECT_EQ(std::get<1>(watch.create.calls[2]), this->t(this->path));
  EXPECT_TRUE(watch.conventions(HKEY_CLASSES_ROOT));
  EXPECT_TRUE(watch.balanced());
  EXPECT_EQ(watch.notify.count(), 0u);
}

TYPED_TEST(ShellKeys, KeyPathWithoutBackslashGivesTheClassKeyTheValue) {
  ASSERT_EQ(this->regist(this->ext, "My document", this->cls, "value"), 0);
  EXPECT_EQ(class_default("." + this->ext), wide(this->cls));
  EXPECT_EQ(class_default(this->cls), L"value");
}

TYPED_TEST(ShellKeys, RemovalDeletesOnlyKeysWithoutSubKeys) {
  using C = TypeParam;
  ASSERT_EQ(this->regist(this->ext, "My document", this->path, "x"), 0);
  {
    kxtest::RegistryWatch<C> watch;
    EXPECT_EQ(this->unregist(this->ext, this->path), 0);
    ASSERT_EQ(watch.open.count(), 1u);
    const auto& open = watch.open.calls[0];
    EXPECT_EQ(std::get<1>(open), std::basic_string<C>(1, C('\\')));
    EXPECT_TRUE(watch.conventions(HKEY_CLASSES_ROOT)) << "the root is opened with full access";
    ASSERT_EQ(watch.delete_key.count(), 2u);
    ASSERT_EQ(watch.acquired.size(), 1u);
    for (const auto& call : watch.delete_key.calls) EXPECT_EQ(std::get<0>(call), watch.acquired[0]);
    EXPECT_EQ(watch.delete_tree.count(), 0u) << "never recursive";
    EXPECT_TRUE(watch.balanced());
    EXPECT_EQ(watch.notify.count(), 0u);
  }
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide("." + this->ext)));
  EXPECT_EQ(class_default(this->path), L"x") << "the class tree stays";
  EXPECT_EQ(class_default(this->cls), L"My document");

  EXPECT_EQ(this->unregist(this->ext, this->path), 0) << "nothing left to delete";

  kxtest::write_string(HKEY_CLASSES_ROOT, wide("." + this->ext + "\\ShellNew"), L"NullFile", L"");
  kxtest::remove_tree(HKEY_CLASSES_ROOT, wide(this->cls));
  kxtest::write_string(HKEY_CLASSES_ROOT, wide(this->cls), nullptr, L"leaf");
  EXPECT_EQ(this->unregist(this->ext, this->cls), 0);
  EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, wide("." + this->ext + "\\ShellNew"))) << "has a sub-key: stays";
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide(this->cls))) << "a class key without sub-keys goes";
}

TYPED_TEST(ShellKeys, RefusedCallsTouchNothing) {
  using C = TypeParam;
  const std::string& e = this->ext;
  const std::string& p = this->path;
  const std::string long_ext(259, 'x');
  const std::string long_path = p + "\\" + std::string(259 - p.size(), 'k');
  const std::string long_class = std::string(260, 'c') + "\\shell";
  const std::string long_value(260, 'v');

  const kxtest::ClassesRootBefore before(e, this->cls);
  kxtest::RegistryWatch<C> watch;
  auto expect_refused = [&](const char* what, int result) {
    EXPECT_EQ(result, 1) << what;
    EXPECT_EQ(watch.registry_calls(), 0u) << what;
  };
  expect_refused("ext null", this->regist(nullptr, "d", p, "v"));
  expect_refused("ext empty", this->regist("", "d", p, "v"));
  expect_refused("description null", this->regist(e, nullptr, p, "v"));
  expect_refused("description empty", this->regist(e, "", p, "v"));
  expect_refused("path null", this->regist(e, "d", nullptr, "v"));
  expect_refused("path empty", this->regist(e, "d", "", "v"));
  expect_refused("value null", this->regist(e, "d", p, nullptr));
  expect_refused("value empty", this->regist(e, "d", p, ""));
  expect_refused("path at root", this->regist(e, "d", "\\" + p, "v"));
  expect_refused("ext too long", this->regist(long_ext, "d", p, "v"));
  expect_refused("path too long", this->regist(e, "d", long_path, "v"));
  expect_refused("class too long", this->regist(e, "d", long_class, "v"));
  expect_refused("value too long", this->regist(e, "d", p, long_value));
  expect_refused("remove ext null", this->unregist(nullptr, p));
  expect_refused("remove ext empty", this->unregist("", p));
  expect_refused("remove path null", this->unregist(e, nullptr));
  expect_refused("remove path empty", this->unregist(e, ""));
  expect_refused("remove path at root", this->unregist(e, "\\"));
  expect_refused("remove class too long", this->unregist(e, long_class));
  expect_refused("remove ext too long", this->unregist(long_ext, p));
  EXPECT_EQ(watch.notify.count(), 0u);

  EXPECT_TRUE(kxtest::Unchanged(before));
}

TYPED_TEST(ShellKeys, TextThatJustFitsIsUsedWhole) {
  const std::string path = this->path + "\\" + std::string(259 - this->path.size() - 1, 'k');
  const std::string value(259, 'v');
  ASSERT_EQ(path.size(), 259u);
  ASSERT_EQ(this->regist(this->ext, "d", path, value), 0);
  EXPECT_EQ(class_default(path), wide(value));
}

TYPED_TEST(ShellKeys, OnlyTheLastStageAndTheRootOpenAreReported) {
  using C = TypeParam;
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::create][1] = ERROR_ACCESS_DENIED;
    watch.fail[Reg::create][2] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->regist(this->ext, "d", this->path, "v"), 0);
    EXPECT_EQ(watch.create.count(), 3u) << "every stage runs";
    EXPECT_EQ(watch.set.count(), 1u);
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::create][3] = ERROR_ACCESS_DENIED;
    watch.fail[Reg::set].always(ERROR_ACCESS_DENIED);
    EXPECT_EQ(this->regist(this->ext, "d", this->path, "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(watch.set.count(), 2u);
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::open][1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->unregist(this->ext, this->path), ERROR_ACCESS_DENIED);
    EXPECT_EQ(watch.delete_key.count(), 0u);
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::RegistryWatch<C> watch;
    watch.fail[Reg::delete_key].always(ERROR_ACCESS_DENIED);
    EXPECT_EQ(this->unregist(this->ext, this->path), 0) << "failed deletions are not reported";
    EXPECT_EQ(watch.delete_key.count(), 2u);
    EXPECT_TRUE(watch.balanced());
  }
}

// With a double-byte code page, a class whose character ends in byte 0x5C is
// filed under that character. CTest runs this suite alone, in a prefix of its
// own whose Wine session started with LANG=ja_JP.UTF-8 (code page 932).
TEST(CodePage932, DoubleByteClassNameStaysWhole) {
  ASSERT_EQ(GetACP(), 932u) << "this suite runs in the code-page-932 session only";
  const char* const cls = "KXTest.ShellKeys.\x95\x5C";  // U+8868 in code page 932
  ASSERT_EQ(KX_InstRegistShellKeyA("kxtskj", "d", "KXTest.ShellKeys.\x95\x5C\\shell\\open\\command", "x"), 0);
  EXPECT_EQ(class_default(".kxtskj").value_or(L"?"), L"KXTest.ShellKeys.\u8868");
  const auto description = read_value(HKEY_CLASSES_ROOT, L"KXTest.ShellKeys.\u8868", nullptr);
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->as_wide(), L"d");
  SHDeleteKeyA(HKEY_CLASSES_ROOT, ".kxtskj");
  SHDeleteKeyA(HKEY_CLASSES_ROOT, cls);
}

}  // namespace
