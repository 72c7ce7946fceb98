#include "support/guard_page.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using kxtest::GuardBuffer;

// Records the address of an access violation and lifts the protection of its
// page so that the faulting write completes and the test can go on.
class FaultCatcher {
 public:
  FaultCatcher() { handler_ = ::AddVectoredExceptionHandler(1, &FaultCatcher::on_exception); }
  ~FaultCatcher() { ::RemoveVectoredExceptionHandler(handler_); }
  FaultCatcher(const FaultCatcher&) = delete;
  FaultCatcher& operator=(const FaultCatcher&) = delete;

  static const void* fault_address() { return fault_; }
  static void reset() { fault_ = nullptr; }

 private:
  static LONG CALLBACK on_exception(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    void* address = reinterpret_cast<void*>(r->ExceptionInformation[1]);
    fault_ = address;
    DWORD old = 0;
    if (!::VirtualProtect(address, 1, PAGE_READWRITE, &old)) return EXCEPTION_CONTINUE_SEARCH;
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  static inline const void* volatile fault_ = nullptr;
  void* handler_;
};

template <class C>
void expect_guarded_layout(int capacity) {
  SCOPED_TRACE(::testing::Message() << "capacity " << capacity << ", " << sizeof(C) << "-byte characters");
  GuardBuffer<C> buf(capacity);
  ASSERT_EQ(buf.capacity(), capacity);
  const auto end = reinterpret_cast<std::uintptr_t>(buf.data() + capacity);
  EXPECT_EQ(end, reinterpret_cast<std::uintptr_t>(buf.guard()));
  EXPECT_EQ(end % kxtest::detail::page_size(), 0u) << "the buffer must end on a page boundary";

  MEMORY_BASIC_INFORMATION info;
  ASSERT_EQ(::VirtualQuery(buf.guard(), &info, sizeof info), sizeof info);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
  if (capacity > 0) {
    ASSERT_EQ(::VirtualQuery(buf.data(), &info, sizeof info), sizeof info);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
    buf.fill(C('x'));  // every character of the capacity is writable
    EXPECT_EQ(buf.text(), std::basic_string<C>(static_cast<std::size_t>(capacity), C('x')));
  }
}

TEST(GuardBuffer, EndsExactlyAtAnInaccessiblePage) {
  for (int capacity : {0, 1, 7, 2048, 2049, 5000}) {
    expect_guarded_layout<char>(capacity);
    expect_guarded_layout<wchar_t>(capacity);
  }
}

TEST(GuardBuffer, WriteOnePastTheCapacityFaultsAtTheGuardPage) {
  FaultCatcher catcher;
  GuardBuffer<wchar_t> buf(MAX_PATH);
  volatile wchar_t* p = buf.data();

  FaultCatcher::reset();
  p[MAX_PATH - 1] = L'\0';
  EXPECT_EQ(FaultCatcher::fault_address(), nullptr) << "the last character is inside the buffer";

  p[MAX_PATH] = L'\0';
  EXPECT_EQ(FaultCatcher::fault_address(), buf.guard());
}

TEST(Sentinels, DetectAnyWriteIncludingTheLastCharacter) {
  GuardBuffer<char> buf(20);
  buf.fill_garbage();
  EXPECT_TRUE(buf.still_garbage());
  EXPECT_FALSE(buf.terminated());
  EXPECT_EQ(buf.text(), "garbagegarbagegarbag");
  buf.data()[19] = '\0';
  EXPECT_FALSE(buf.still_garbage());
  EXPECT_TRUE(buf.terminated());

  wchar_t small[4];
  kxtest::put_garbage(small, 4);
  EXPECT_EQ(std::wstring(small, 4), L"garb") << "clipped to the capacity, without a terminator";
  wchar_t roomy[10];
  kxtest::put_garbage(roomy, 10);
  EXPECT_STREQ(roomy, L"garbage");
}

}  // namespace
