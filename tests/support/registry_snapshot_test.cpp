#include "support/registry_snapshot.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kxtest::RegistrySnapshot;
using kxtest::Unchanged;

// Each test works under its own key, named after the process and the test,
// and removes it again.
class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = L"Software\\KX_Test\\support_snapshot_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            utf16(::testing::UnitTest::GetInstance()->current_test_info()->name());
    remove();
  }
  void TearDown() override { remove(); }

  static std::wstring utf16(const char* ascii) {
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
  }

  void remove() { ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str()); }

  std::wstring path(const wchar_t* below = nullptr) const { return below ? base_ + L"\\" + below : base_; }

  void set_string(const wchar_t* below, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path(below).c_str(), name, type, text.c_str(), bytes),
              ERROR_SUCCESS);
  }
  void set_dword(const wchar_t* below, const wchar_t* name, DWORD value) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path(below).c_str(), name, REG_DWORD, &value, sizeof value),
              ERROR_SUCCESS);
  }
  void create(const wchar_t* below = nullptr) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path(below).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  // A small tree: two values and a default on the top key, one nested key.
  void populate() {
    set_string(nullptr, L"Name", L"first");
    set_dword(nullptr, L"Count", 3);
    set_string(nullptr, nullptr, L"default text");
    set_string(L"Child\\Grandchild", L"Deep", L"%TEMP%", REG_EXPAND_SZ);
  }
  RegistrySnapshot take() const { return RegistrySnapshot(HKEY_CURRENT_USER, base_.c_str()); }

  std::wstring base_;
};

TEST_F(Snapshot, CapturesEveryKeyAndValueAndReadsBackEqual) {
  populate();
  const RegistrySnapshot before = take();
  ASSERT_TRUE(before.exists());
  ASSERT_EQ(before.keys().size(), 3u) << ::testing::Message() << before.describe();
  const auto& top = before.keys().at(L"");
  EXPECT_EQ(top.values.size(), 3u) << "Name, Count and the default value";
  ASSERT_EQ(top.values.count(L""), 1u);
  EXPECT_EQ(top.values.at(L"").type, static_cast<DWORD>(REG_SZ));
  const auto& deep = before.keys().at(L"CHILD\\GRANDCHILD");
  EXPECT_EQ(deep.path, L"Child\\Grandchild");
  ASSERT_EQ(deep.values.count(L"DEEP"), 1u);
  EXPECT_EQ(deep.values.at(L"DEEP").type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_TRUE(Unchanged(before));
}

TEST_F(Snapshot, DetectsAddedChangedAndRetypedValues) {
  populate();
  {
    const RegistrySnapshot before = take();
    set_string(L"Child", L"Added", L"new");
    const auto result = Unchanged(before);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("+ value Child\\Added REG_SZ \"new\""), std::string::npos)
        << result.message();
  }
  {
    const RegistrySnapshot before = take();
    set_string(nullptr, L"Name", L"firsT");
    const auto result = Unchanged(before);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("~ value Name: REG_SZ \"first\""), std::string::npos)
        << result.message();
  }
  {
    const RegistrySnapshot before = take();
    set_string(nullptr, nullptr, L"default text", REG_EXPAND_SZ);  // same bytes, other type
    EXPECT_FALSE(Unchanged(before));
  }
}

TEST_F(Snapshot, DetectsAddedAndRemovedKeys) {
  populate();
  {
    const RegistrySnapshot before = take();
    create(L"Child\\Grandchild\\Empty");  // no values at all: only the key tells
    const auto result = Unchanged(before);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("+ key Child\\Grandchild\\Empty"), std::string::npos)
        << result.message();
  }
  {
    const RegistrySnapshot before = take();
    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, path(L"Child").c_str()), ERROR_SUCCESS);
    const auto result = Unchanged(before);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("- key Child\\Grandchild"), std::string::npos)
        << result.message();
  }
}

TEST_F(Snapshot, MissingKeyIsDistinctFromAnEmptyOne) {
  const RegistrySnapshot missing = take();
  EXPECT_FALSE(missing.exists());
  EXPECT_TRUE(missing.keys().empty());
  EXPECT_TRUE(Unchanged(missing));

  create();
  const RegistrySnapshot empty = take();
  EXPECT_TRUE(empty.exists());
  EXPECT_FALSE(missing == empty);
  const auto result = Unchanged(missing);
  EXPECT_FALSE(result);
  EXPECT_NE(std::string(result.message()).find("was missing, now exists"), std::string::npos) << result.message();

  remove();
  EXPECT_FALSE(Unchanged(empty));
}

TEST(SnapshotOfClassesRoot, SeesAVerbAddedAndRemovedUnderAProgId) {
  const std::wstring prog_id = L"kx_support_snapshot_" + std::to_wstring(::GetCurrentProcessId());
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, prog_id.c_str());
  const RegistrySnapshot before(HKEY_CLASSES_ROOT, prog_id.c_str());
  EXPECT_FALSE(before.exists());

  const std::wstring text = L"opened";
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, (prog_id + L"\\shell\\open\\command").c_str(), nullptr, REG_SZ,
                              text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  const auto result = Unchanged(before);
  EXPECT_FALSE(result);
  EXPECT_NE(std::string(result.message()).find("+ value shell\\open\\command\\(default) REG_SZ \"opened\""),
            std::string::npos)
      << result.message();
  EXPECT_EQ(::RegDeleteTreeW(HKEY_CLASSES_ROOT, prog_id.c_str()), ERROR_SUCCESS);
  EXPECT_TRUE(Unchanged(before));
}

TEST(SnapshotOfSystemKeys, AppPathsIsReadWholeAndStable) {
  const RegistrySnapshot app_paths(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths");
  EXPECT_TRUE(app_paths.exists());
  EXPECT_GE(app_paths.keys().size(), 1u);
  EXPECT_TRUE(Unchanged(app_paths));
}

}  // namespace
