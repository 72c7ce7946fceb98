// Shared DLL reference counts, watched two ways: what Wine's registry really
// holds after each call, read back with the plain registry API; and, through
// the import-table recorder, what the registry cannot show: flags, byte
// counts, call order, and that every key is closed, injected failures too.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <tuple>
#include <vector>

#include "KX_Pellam.h"
#include "registry_read.h"
#include "registry_watch.h"
#include "support/guard_page.h"
#include "support/recorder.h"
#include "support/registry_snapshot.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const HKEY kRoot = HKEY_LOCAL_MACHINE;

using kxtest::Reg;

template <class C>
struct Api {
  static constexpr auto up = kxtest::pick<C>(KX_InstCountUpSharedDLLsW, KX_InstCountUpSharedDLLsA);
  static constexpr auto down = kxtest::pick<C>(KX_InstCountDownSharedDLLsW, KX_InstCountDownSharedDLLsA);
  static constexpr auto get = kxtest::pick<C>(KX_InstGetCountSharedDLLsW, KX_InstGetCountSharedDLLsA);
  static constexpr auto remove = kxtest::pick<C>(KX_InstDeleteSharedDLLsW, KX_InstDeleteSharedDLLsA);
};

// Leaves the stack below the caller full of a pattern, so that a count read
// into an uninitialised number would show it instead of a lucky zero.
__attribute__((noinline)) void dirty_stack() {
  volatile unsigned char junk[16384];
  for (std::size_t i = 0; i < sizeof junk; ++i) junk[i] = 0xA5;
}

template <class C>
class SharedDlls : public kxtest::WidthTest<C> {
 protected:
  using A = Api<C>;

  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    wname_ = L"C:\\KXTest\\SharedDlls\\" + std::wstring(test.begin(), test.end()) + L"_" + this->suffix() + L".dll";
    name_ = this->t(wname_);
    forget(wname_);
    // A fresh prefix has no SharedDLLs key; with it in place, a snapshot
    // shows values coming and going rather than the key's first creation.
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(kRoot, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
    RegCloseKey(k);
  }
  void TearDown() override {
    forget(wname_);
    for (const auto& n : extra_) forget(n);
  }
  static void forget(const std::wstring& n) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(kRoot, kKey, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, n.c_str());
    RegCloseKey(k);
  }

  const C* name() const { return name_.c_str(); }
  std::optional<kxtest::StoredValue> stored() const { return kxtest::read_value(kRoot, kKey, wname_.c_str()); }
  void store(DWORD type, const void* data, DWORD bytes) { kxtest::write_raw(kRoot, kKey, wname_.c_str(), type, data, bytes); }
  void store(DWORD count) { store(REG_DWORD, &count, sizeof count); }

  // The value is a REG_DWORD of 4 bytes holding count.
  ::testing::AssertionResult holds(DWORD count) const {
    const auto v = stored();
    if (!v) return ::testing::AssertionFailure() << "no value";
    if (v->type == REG_DWORD && v->bytes.size() == 4 && v->as_dword() == count) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << kxtest::describe_value(v->type, v->bytes).c_str() << ", wanted " << count;
  }

  std::wstring wname_;
  std::basic_string<C> name_;
  std::vector<std::wstring> extra_;
};

TYPED_TEST_SUITE(SharedDlls, kxtest::Widths, kxtest::WidthNames);

TYPED_TEST(SharedDlls, ACountLivesFromOneUpAndBackToGone) {
  using A = typename TestFixture::A;
  const kxtest::RegistrySnapshot before(kRoot, kKey);

  // Nothing counted yet: no count to read, lower or delete, and nothing made.
  EXPECT_EQ(A::get(this->name()), -1);
  EXPECT_EQ(A::down(this->name()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(A::remove(this->name()), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(this->stored());

  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(1));
  EXPECT_EQ(A::get(this->name()), 1);
  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(2));
  EXPECT_EQ(A::get(this->name()), 2);
  EXPECT_EQ(A::down(this->name()), 0);
  EXPECT_TRUE(this->holds(1));
  EXPECT_EQ(A::down(this->name()), 0);
  EXPECT_FALSE(this->stored());
  EXPECT_EQ(A::get(this->name()), -1);
  EXPECT_EQ(A::down(this->name()), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(this->stored());

  // Delete takes a count away whatever it stands at.
  this->store(3);
  EXPECT_EQ(A::get(this->name()), 3);
  EXPECT_EQ(A::remove(this->name()), 0);
  EXPECT_FALSE(this->stored());
  EXPECT_EQ(A::remove(this->name()), ERROR_FILE_NOT_FOUND);

  // And every other file's count is as it was.
  EXPECT_TRUE(kxtest::Unchanged(before));
}

// HKEY_LOCAL_MACHINE of this process, DLL included, mapped onto an empty key
// of its own for one test, so that what the shared prefix holds (other
// counts, a default value) cannot decide the outcome.
class EmptyMachine {
 public:
  EmptyMachine() {
    path_ = L"Software\\KXTest\\EmptyMachine" + std::to_wstring(GetCurrentProcessId());
    RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    ok_ = key_ != nullptr && RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_) == ERROR_SUCCESS;
  }
  ~EmptyMachine() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (key_ != nullptr) RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }
  bool ok() const { return ok_; }

 private:
  std::wstring path_;
  HKEY key_ = nullptr;
  bool ok_ = false;
};

// Only counting up makes the key; the others find none and say so.
TYPED_TEST(SharedDlls, OnlyCountingUpCreatesTheKey) {
  using A = typename TestFixture::A;
  EmptyMachine machine;
  ASSERT_TRUE(machine.ok());
  ASSERT_FALSE(kxtest::key_exists(kRoot, kKey));

  EXPECT_EQ(A::get(this->name()), -1);
  EXPECT_EQ(A::down(this->name()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(A::remove(this->name()), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(kxtest::key_exists(kRoot, kKey));
  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(1));
}

// Eight threads counting one file up and down at once lose no change: each
// read-modify-write holds the library's lock. Without it, runs here ended
// near 2,600 of 4,000 with every call reporting success.
TYPED_TEST(SharedDlls, ConcurrentCountsLoseNoUpdate) {
  using A = typename TestFixture::A;
  std::atomic<int> failures{0};
  const auto run = [&](int(WINAPI * op)(const TypeParam*), int times) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < times; ++i) failures += op(this->name()) != 0;
      });
    }
    for (auto& thread : threads) thread.join();
  };
  run(A::up, 500);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(this->holds(4000));
  run(A::down, 400);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(this->holds(800));
  EXPECT_EQ(A::remove(this->name()), 0);
}

TYPED_TEST(SharedDlls, StoredValuesOfOtherShapes) {
  using A = typename TestFixture::A;
  this->store(0xFFFFFFFFu);
  EXPECT_EQ(A::get(this->name()), -1);

  // The reported type is not a count's business: four bytes are a count.
  const BYTE seven[] = {7, 0, 0, 0};
  this->store(REG_BINARY, seven, sizeof seven);
  EXPECT_EQ(A::get(this->name()), 7);
  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(8));

  // Anything longer is no count: counting up starts afresh, counting down
  // passes the refusal on and leaves the value alone.
  kxtest::write_string(kRoot, kKey, this->wname_.c_str(), L"C:\\Windows\\system32\\not-a-count.dll");
  EXPECT_EQ(A::down(this->name()), ERROR_MORE_DATA);
  ASSERT_TRUE(this->stored());
  EXPECT_EQ(this->stored()->as_wide(), L"C:\\Windows\\system32\\not-a-count.dll");
  EXPECT_EQ(A::get(this->name()), -1);
  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(1));

  // Shorter values: the bytes they lack are zero.
  const BYTE bytes[] = {0x34, 0x12, 0x01};
  const int want[] = {0, 0x34, 0x1234, 0x011234};
  for (DWORD n = 0; n <= 3; ++n) {
    this->store(REG_BINARY, bytes, n);
    dirty_stack();
    EXPECT_EQ(A::get(this->name()), want[n]) << n << " bytes";
    dirty_stack();
    EXPECT_EQ(A::up(this->name()), 0);
    EXPECT_TRUE(this->holds(static_cast<DWORD>(want[n]) + 1)) << n << " bytes";
  }
}

TYPED_TEST(SharedDlls, NeitherEndOfTheCountWraps) {
  using A = typename TestFixture::A;
  this->store(0xFFFFFFFEu);
  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(0xFFFFFFFFu));
  EXPECT_EQ(A::up(this->name()), 0);
  EXPECT_TRUE(this->holds(0xFFFFFFFFu)) << "a full count stays full";
  EXPECT_EQ(A::down(this->name()), 0);
  EXPECT_TRUE(this->holds(0xFFFFFFFEu));

  // A count of zero is gone on the next count-down, as a count of one is.
  this->store(0);
  EXPECT_EQ(A::down(this->name()), 0);
  EXPECT_FALSE(this->stored());
  this->store(REG_BINARY, "", 0);
  EXPECT_EQ(A::down(this->name()), 0);
  EXPECT_FALSE(this->stored());
}

// A value name is never composed into a path, so every name the registry can
// hold is a count, up to 16,383 characters; anything else is refused before
// any registry call. Each name ends at a no-access page, the unterminated one
// too: its scan must stop at the limit.
TYPED_TEST(SharedDlls, EveryNameTheRegistryHoldsIsCountedAndNoOtherTouchesIt) {
  using A = typename TestFixture::A;
  using C = TypeParam;
  constexpr std::size_t kLimit = 16383;
  struct Case {
    std::size_t length;
    bool terminated = true, null = false;
  };
  const Case cases[] = {{300}, {kLimit}, {kLimit + 1}, {65536}, {kLimit + 1, false}, {0}, {0, true, true}};
  for (const Case& c : cases) {
    std::wstring wide;
    if (c.length != 0) {
      wide = this->wname_;
      wide.insert(wide.size() - 4, c.length - wide.size(), L'9');
      this->extra_.push_back(wide);
    }
    kxtest::GuardBuffer<C> buf(static_cast<int>(c.length + (c.terminated ? 1 : 0)));
    for (std::size_t i = 0; i < c.length; ++i) buf.data()[i] = static_cast<C>(wide[i]);
    if (c.terminated) buf.data()[c.length] = 0;
    const C* const name = c.null ? nullptr : buf.data();
    const std::string what = std::to_string(c.length) + (c.terminated ? "" : " unterminated") + (c.null ? " null" : "");
    const auto value = [&] { return kxtest::read_value(kRoot, kKey, wide.c_str()); };

    if (c.length != 0 && c.length <= kLimit) {
      EXPECT_EQ(A::up(name), 0) << what;
      EXPECT_EQ(A::up(name), 0) << what;
      EXPECT_EQ(value() ? value()->as_dword() : 0u, 2u) << what;
      EXPECT_EQ(A::get(name), 2) << what;
      EXPECT_EQ(A::down(name), 0) << what;
      EXPECT_EQ(value() ? value()->as_dword() : 0u, 1u) << what;
      EXPECT_EQ(A::remove(name), 0) << what;
      EXPECT_FALSE(value()) << what;
      continue;
    }
    const kxtest::RegistrySnapshot before(kRoot, kKey);
    {
      kxtest::RegistryWatch<C> w;
      EXPECT_EQ(A::up(name), 1) << what;
      EXPECT_EQ(A::down(name), 1) << what;
      EXPECT_EQ(A::remove(name), 1) << what;
      if (c.length != 0 || c.null) {
        EXPECT_EQ(A::get(name), -1) << what;  // an empty name reads the default value
      }
      EXPECT_TRUE(w.rec.order().empty()) << what << ": " << w.rec.order().size() << " registry calls";
    }
    EXPECT_TRUE(kxtest::Unchanged(before)) << what;
  }
}

// The count lock is one object for every caller. A caller of another account
// may be refused CreateMutex on the global object (it asks for full access),
// which Wine never does, so the recorder answers for it: the global object is
// then opened with only the rights a lock needs, and the session's own is
// taken only when that fails too.
TYPED_TEST(SharedDlls, TheGlobalLockIsOpenedWhenItCannotBeCreated) {
  using A = typename TestFixture::A;
  using C = TypeParam;
  using Create = kxtest::Pick<C, decltype(CreateMutexW), decltype(CreateMutexA)>;
  using Open = kxtest::Pick<C, decltype(OpenMutexW), decltype(OpenMutexA)>;
  const auto global = this->t(L"Global\\KX_Pellam.SharedDLLs"), local = this->t(L"Local\\KX_Pellam.SharedDLLs");
  // Held so that the global object exists for the real OpenMutex.
  const std::unique_ptr<void, decltype(&CloseHandle)> held(
      CreateMutexW(nullptr, FALSE, L"Global\\KX_Pellam.SharedDLLs"), &CloseHandle);
  ASSERT_TRUE(held.get());
  struct Case {
    bool create_fails, open_fails;
    std::vector<std::basic_string<C>> created;  // names given to CreateMutex, in order
    std::size_t opens;
  };
  const Case cases[] = {{false, false, {global}, 0}, {true, false, {global}, 1}, {true, true, {global, local}, 1}};
  for (const Case& c : cases) {
    const std::string what = std::string(c.create_fails ? "create fails" : "create works") +
                             (c.open_fails ? ", open fails" : "");
    kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
    auto& create = rec.hook<Create>("kernel32.dll", kxtest::kWide<C> ? "CreateMutexW" : "CreateMutexA");
    auto& open = rec.hook<Open>("kernel32.dll", kxtest::kWide<C> ? "OpenMutexW" : "OpenMutexA");
    create.script = [&](LPSECURITY_ATTRIBUTES, BOOL, const C* name) -> std::optional<HANDLE> {
      if (!c.create_fails || name == nullptr || global != name) return std::nullopt;
      SetLastError(ERROR_ACCESS_DENIED);
      return HANDLE{};
    };
    open.script = [&](DWORD, BOOL, const C*) -> std::optional<HANDLE> {
      if (!c.open_fails) return std::nullopt;
      SetLastError(ERROR_ACCESS_DENIED);
      return HANDLE{};
    };
    EXPECT_EQ(A::up(this->name()), 0) << what;
    EXPECT_TRUE(this->holds(1)) << what;
    std::vector<std::basic_string<C>> created;
    for (const auto& call : create.calls) created.push_back(std::get<2>(call).value_or(std::basic_string<C>()));
    EXPECT_EQ(created, c.created) << what;
    ASSERT_EQ(open.count(), c.opens) << what;
    for (const auto& call : open.calls) {
      EXPECT_EQ(std::get<0>(call), static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE)) << what;
      EXPECT_EQ(std::get<2>(call), global) << what;
    }
    EXPECT_EQ(A::down(this->name()), 0) << what;
    EXPECT_FALSE(this->stored()) << what;
  }
}

TYPED_TEST(SharedDlls, AnEmptyNameReadsTheDefaultValue) {
  using A = typename TestFixture::A;
  EmptyMachine machine;
  ASSERT_TRUE(machine.ok());
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(kRoot, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegCloseKey(k);
  kxtest::RegistryWatch<TypeParam> w;
  const typename TestFixture::Text empty;
  EXPECT_EQ(A::get(empty.c_str()), -1);
  EXPECT_EQ(w.rec.order(), kxtest::call_names<TypeParam>({Reg::open, Reg::query, Reg::close}));
  ASSERT_EQ(w.query.count(), 1u);
  EXPECT_EQ(std::get<1>(w.query.calls[0]), empty);
  EXPECT_TRUE(w.balanced());
}

TYPED_TEST(SharedDlls, EveryCallFlagsBytesAndOrder) {
  using A = typename TestFixture::A;
  kxtest::RegistryWatch<TypeParam> w;
  // Each call's arguments: one root, one path, full access with no
  // registry-view flag, creation with an empty class, no options and no
  // security record, and counts written as 4-byte REG_DWORDs.
  const auto check_arguments = [&](const char* what) {
    EXPECT_TRUE(w.conventions(kRoot)) << what;
    for (const auto& path : w.created_paths()) EXPECT_EQ(path, this->t(kKey)) << what;
    for (const auto& path : w.opened_paths()) EXPECT_EQ(path, this->t(kKey)) << what;
    for (const auto& c : w.query.calls) EXPECT_EQ(std::get<1>(c), this->name_) << what;
    for (const auto& r : w.reads) {
      EXPECT_EQ(r.type_preset, static_cast<DWORD>(REG_DWORD)) << what;
      EXPECT_EQ(r.capacity, 4u) << what;
      EXPECT_TRUE(r.has_buffer) << what;
    }
    for (const auto& c : w.set.calls) {
      EXPECT_EQ(std::get<1>(c), this->name_) << what;
      EXPECT_EQ(std::get<2>(c), 0u) << what;
      EXPECT_EQ(std::get<3>(c), static_cast<DWORD>(REG_DWORD)) << what;
      EXPECT_EQ(std::get<5>(c), 4u) << what;
    }
    for (const auto& c : w.delete_value.calls) EXPECT_EQ(std::get<1>(c), this->name_) << what;
  };
  const auto step = [&](int result, int want, std::initializer_list<Reg::Call> calls, std::vector<DWORD> written,
                        const char* what) {
    EXPECT_EQ(result, want) << what;
    EXPECT_EQ(w.rec.order(), kxtest::call_names<TypeParam>(calls)) << what;
    EXPECT_EQ(w.written_dwords(), written) << what;
    check_arguments(what);
    w.clear();
  };
  step(A::up(this->name()), 0, {Reg::create, Reg::query, Reg::set, Reg::close}, {1}, "first count-up");
  step(A::up(this->name()), 0, {Reg::create, Reg::query, Reg::set, Reg::close}, {2}, "second count-up");
  step(A::down(this->name()), 0, {Reg::open, Reg::query, Reg::set, Reg::close}, {1}, "count-down of 2");
  step(A::get(this->name()), 1, {Reg::open, Reg::query, Reg::close}, {}, "get");
  step(A::down(this->name()), 0, {Reg::open, Reg::query, Reg::delete_value, Reg::close}, {}, "count-down of 1");
  step(A::remove(this->name()), ERROR_FILE_NOT_FOUND, {Reg::open, Reg::delete_value, Reg::close}, {},
       "delete of nothing");
  EXPECT_EQ(w.acquired.size(), 6u);
  EXPECT_TRUE(w.balanced());
  EXPECT_FALSE(this->stored());
}

enum Op { kUp, kDown, kGet, kDel };

TYPED_TEST(SharedDlls, AFailingCallIsPassedOnAndEveryKeyIsClosed) {
  using A = typename TestFixture::A;
  struct Case {
    Op op;
    Reg::Call fails;
    LONG code;
    DWORD stored;
    int want;
    std::initializer_list<Reg::Call> calls;
  };
  const Case cases[] = {
      {kUp, Reg::create, ERROR_ACCESS_DENIED, 3, ERROR_ACCESS_DENIED, {Reg::create}},
      // A count that cannot be read is not reset to 1.
      {kUp, Reg::query, ERROR_NOT_ENOUGH_MEMORY, 3, ERROR_NOT_ENOUGH_MEMORY, {Reg::create, Reg::query, Reg::close}},
      {kUp, Reg::set, ERROR_ACCESS_DENIED, 3, ERROR_ACCESS_DENIED, {Reg::create, Reg::query, Reg::set, Reg::close}},
      {kDown, Reg::open, ERROR_ACCESS_DENIED, 3, ERROR_ACCESS_DENIED, {Reg::open}},
      {kDown, Reg::query, ERROR_NOT_ENOUGH_MEMORY, 3, ERROR_NOT_ENOUGH_MEMORY, {Reg::open, Reg::query, Reg::close}},
      // A count-down that did not happen is not reported as done.
      {kDown, Reg::set, ERROR_ACCESS_DENIED, 3, ERROR_ACCESS_DENIED, {Reg::open, Reg::query, Reg::set, Reg::close}},
      {kDown, Reg::delete_value, ERROR_ACCESS_DENIED, 1, ERROR_ACCESS_DENIED,
       {Reg::open, Reg::query, Reg::delete_value, Reg::close}},
      {kGet, Reg::open, ERROR_FILE_NOT_FOUND, 3, -1, {Reg::open}},
      {kGet, Reg::query, ERROR_NOT_ENOUGH_MEMORY, 3, -1, {Reg::open, Reg::query, Reg::close}},
      {kDel, Reg::open, ERROR_FILE_NOT_FOUND, 3, ERROR_FILE_NOT_FOUND, {Reg::open}},
      {kDel, Reg::delete_value, ERROR_ACCESS_DENIED, 3, ERROR_ACCESS_DENIED,
       {Reg::open, Reg::delete_value, Reg::close}},
  };
  for (const Case& c : cases) {
    const std::string what =
        std::string("op ") + "UDGR"[c.op] + ", failing " + kxtest::call_name<TypeParam>(c.fails);
    this->store(c.stored);
    kxtest::RegistryWatch<TypeParam> w;
    w.fail[c.fails].always(c.code);
    using Op = int WINAPI(const TypeParam*);
    Op* const ops[] = {A::up, A::down, A::get, A::remove};
    EXPECT_EQ(ops[c.op](this->name()), c.want) << what;
    EXPECT_EQ(w.rec.order(), kxtest::call_names<TypeParam>(c.calls)) << what;
    EXPECT_TRUE(w.balanced()) << what;
    EXPECT_TRUE(this->holds(c.stored)) << what;
  }
}

}  // namespace
