// Shell verb keys against Wine's real HKEY_CLASSES_ROOT, read back with the
// plain registry API; the call recorder shows the call order, byte counts,
// the root handle the removal deletes through, and that nothing notifies.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "KX_Pellam.h"
#include "registry_read.h"
#include "support/registry_snapshot.h"

namespace {

using kxtest::key_exists;
using kxtest::read_value;

struct Wide {
  using Char = wchar_t;
  static constexpr auto regist = KX_InstRegistShellKeyW;
  static constexpr auto unregist = KX_InstUnregistShellKeyW;
  static constexpr const char* kTag = "W";
};
struct Narrow {
  using Char = char;
  static constexpr auto regist = KX_InstRegistShellKeyA;
  static constexpr auto unregist = KX_InstUnregistShellKeyA;
  static constexpr const char* kTag = "A";
};

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::optional<std::wstring> default_of(const std::string& key) {
  auto v = read_value(HKEY_CLASSES_ROOT, wide(key), nullptr);
  if (!v) return std::nullopt;
  return v->as_wide();
}

template <class C>
class Arg {
 public:
  Arg(const char* s) : null_(s == nullptr) {  // NOLINT: implicit on purpose
    for (const char* q = s; q != nullptr && *q != 0; ++q) text_.push_back(static_cast<C>(*q));
  }
  Arg(const std::string& s) : text_(s.begin(), s.end()) {}  // NOLINT
  const C* get() const { return null_ ? nullptr : text_.c_str(); }

 private:
  std::basic_string<C> text_;
  bool null_ = false;
};

template <class T>
class ShellKeys : public ::testing::Test {
 protected:
  using C = typename T::Char;
  const std::string ext = std::string("kxtsk") + T::kTag;
  const std::string cls = std::string("KXTest.ShellKeys.") + T::kTag + ".Doc";
  const std::string path = cls + "\\shell\\open\\command";

  void SetUp() override { clean(); }
  void TearDown() override { clean(); }
  void clean() {
    kxtest::remove_tree(HKEY_CLASSES_ROOT, wide("." + ext));
    kxtest::remove_tree(HKEY_CLASSES_ROOT, wide(cls));
  }
  static int regist(Arg<C> e, Arg<C> d, Arg<C> p, Arg<C> v) { return T::regist(e.get(), d.get(), p.get(), v.get()); }
  static int unregist(Arg<C> e, Arg<C> p) { return T::unregist(e.get(), p.get()); }
};

using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(ShellKeys, Widths);

TYPED_TEST(ShellKeys, RegistersExtensionClassAndKeyPath) {
  using C = typename TestFixture::C;
  kxtest::KeyWatch<C> watch;
  ASSERT_EQ(this->regist(this->ext, "My document", this->path, "tool.exe \"%1\""), 0);
  EXPECT_EQ(default_of("." + this->ext), wide(this->cls));
  EXPECT_EQ(default_of(this->cls), L"My document");
  EXPECT_EQ(default_of(this->path), L"tool.exe \"%1\"");

  const std::vector<std::string> expected_order = {"RegCreateKeyEx", "RegSetValueEx", "RegCloseKey"};
  ASSERT_EQ(watch.rec.order().size(), 9u);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(watch.rec.order()[i].rfind(expected_order[i % 3], 0), 0u) << i;
  ASSERT_EQ(watch.set.count(), 3u);
  EXPECT_EQ(std::get<5>(watch.set.calls[0]), this->cls.size() * sizeof(C)) << "class name, terminator not counted";
  EXPECT_EQ(std::get<1>(watch.create.calls[2]), std::basic_string<C>(this->path.begin(), this->path.end()));
  EXPECT_TRUE(watch.creates_follow_conventions());
  EXPECT_TRUE(watch.balanced());
  EXPECT_EQ(watch.notify.count(), 0u);
}

TYPED_TEST(ShellKeys, KeyPathWithoutBackslashGivesTheClassKeyTheValue) {
  ASSERT_EQ(this->regist(this->ext, "My document", this->cls, "value"), 0);
  EXPECT_EQ(default_of("." + this->ext), wide(this->cls));
  EXPECT_EQ(default_of(this->cls), L"value");
}

TYPED_TEST(ShellKeys, RemovalDeletesOnlyKeysWithoutSubKeys) {
  using C = typename TestFixture::C;
  ASSERT_EQ(this->regist(this->ext, "My document", this->path, "x"), 0);
  {
    kxtest::KeyWatch<C> watch;
    EXPECT_EQ(this->unregist(this->ext, this->path), 0);
    ASSERT_EQ(watch.open.count(), 1u);
    const auto& open = watch.open.calls[0];
    EXPECT_EQ(std::get<0>(open), HKEY_CLASSES_ROOT);
    EXPECT_EQ(std::get<1>(open), std::basic_string<C>(1, C('\\')));
    EXPECT_EQ(std::get<2>(open), 0u);
    EXPECT_EQ(std::get<3>(open), static_cast<REGSAM>(KEY_ALL_ACCESS));
    ASSERT_EQ(watch.delete_key.count(), 2u);
    ASSERT_EQ(watch.acquired.size(), 1u);
    for (const auto& call : watch.delete_key.calls) EXPECT_EQ(std::get<0>(call), watch.acquired[0]);
    EXPECT_EQ(watch.delete_tree.count(), 0u) << "never recursive";
    EXPECT_TRUE(watch.balanced());
    EXPECT_EQ(watch.notify.count(), 0u);
  }
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide("." + this->ext)));
  EXPECT_EQ(default_of(this->path), L"x") << "the class tree stays";
  EXPECT_EQ(default_of(this->cls), L"My document");

  EXPECT_EQ(this->unregist(this->ext, this->path), 0) << "nothing left to delete";

  kxtest::write_string(HKEY_CLASSES_ROOT, wide("." + this->ext + "\\ShellNew"), L"NullFile", L"");
  kxtest::remove_tree(HKEY_CLASSES_ROOT, wide(this->cls));
  kxtest::write_string(HKEY_CLASSES_ROOT, wide(this->cls), nullptr, L"leaf");
  EXPECT_EQ(this->unregist(this->ext, this->cls), 0);
  EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, wide("." + this->ext + "\\ShellNew"))) << "has a sub-key: stays";
  EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, wide(this->cls))) << "a class key without sub-keys goes";
}

TYPED_TEST(ShellKeys, RefusedCallsTouchNothing) {
  using C = typename TestFixture::C;
  const std::string& e = this->ext;
  const std::string& p = this->path;
  const std::string long_ext(259, 'x');
  const std::string long_path = p + "\\" + std::string(259 - p.size(), 'k');
  const std::string long_class = std::string(260, 'c') + "\\shell";
  const std::string long_value(260, 'v');

  const kxtest::RegistrySnapshot before_ext(HKEY_CLASSES_ROOT, wide("." + e).c_str());
  const kxtest::RegistrySnapshot before_class(HKEY_CLASSES_ROOT, wide(this->cls).c_str());
  const kxtest::RegistrySnapshot before_dot(HKEY_CLASSES_ROOT, L".");
  const auto root_default = read_value(HKEY_CLASSES_ROOT, L"", nullptr);
  kxtest::KeyWatch<C> watch;
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

  EXPECT_TRUE(kxtest::Unchanged(before_ext));
  EXPECT_TRUE(kxtest::Unchanged(before_class));
  EXPECT_TRUE(kxtest::Unchanged(before_dot));
  const auto root_now = read_value(HKEY_CLASSES_ROOT, L"", nullptr);
  EXPECT_EQ(root_now.has_value(), root_default.has_value()) << "HKEY_CLASSES_ROOT's own default value";
}

TYPED_TEST(ShellKeys, TextThatJustFitsIsUsedWhole) {
  const std::string path = this->path + "\\" + std::string(259 - this->path.size() - 1, 'k');
  const std::string value(259, 'v');
  ASSERT_EQ(path.size(), 259u);
  ASSERT_EQ(this->regist(this->ext, "d", path, value), 0);
  EXPECT_EQ(default_of(path), wide(value));
}

TYPED_TEST(ShellKeys, OnlyTheLastStageAndTheRootOpenAreReported) {
  using C = typename TestFixture::C;
  {
    kxtest::KeyWatch<C> watch;
    watch.fail_create[1] = ERROR_ACCESS_DENIED;
    watch.fail_create[2] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->regist(this->ext, "d", this->path, "v"), 0);
    EXPECT_EQ(watch.create.count(), 3u) << "every stage runs";
    EXPECT_EQ(watch.set.count(), 1u);
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::KeyWatch<C> watch;
    watch.fail_create[3] = ERROR_ACCESS_DENIED;
    watch.set.script = [](auto...) -> std::optional<LONG> { return ERROR_ACCESS_DENIED; };
    EXPECT_EQ(this->regist(this->ext, "d", this->path, "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(watch.set.count(), 2u);
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::KeyWatch<C> watch;
    watch.fail_open[1] = ERROR_ACCESS_DENIED;
    EXPECT_EQ(this->unregist(this->ext, this->path), ERROR_ACCESS_DENIED);
    EXPECT_EQ(watch.delete_key.count(), 0u);
    EXPECT_TRUE(watch.balanced());
  }
  {
    kxtest::KeyWatch<C> watch;
    watch.delete_key.script = [](auto...) -> std::optional<LONG> { return ERROR_ACCESS_DENIED; };
    EXPECT_EQ(this->unregist(this->ext, this->path), 0) << "failed deletions are not reported";
    EXPECT_EQ(watch.delete_key.count(), 2u);
    EXPECT_TRUE(watch.balanced());
  }
}

// With a double-byte code page (LANG=ja_JP.UTF-8 gives 932 under Wine), a
// class whose character ends in byte 0x5C is filed under that character.
TEST(NarrowShellKeys, DoubleByteClassNameStaysWhole) {
  if (GetACP() != 932) GTEST_SKIP() << "code page " << GetACP() << "; run with LANG=ja_JP.UTF-8 for 932";
  const char* const cls = "KXTest.ShellKeys.\x95\x5C";  // U+8868 in code page 932
  ASSERT_EQ(KX_InstRegistShellKeyA("kxtskj", "d", "KXTest.ShellKeys.\x95\x5C\\shell\\open\\command", "x"), 0);
  EXPECT_EQ(default_of(".kxtskj").value_or(L"?"), L"KXTest.ShellKeys.\u8868");
  const auto description = read_value(HKEY_CLASSES_ROOT, L"KXTest.ShellKeys.\u8868", nullptr);
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->as_wide(), L"d");
  SHDeleteKeyA(HKEY_CLASSES_ROOT, ".kxtskj");
  SHDeleteKeyA(HKEY_CLASSES_ROOT, cls);
}

}  // namespace
