// Buffers that end exactly where an inaccessible page begins, so that any
// write (or read) at or past the capacity an export was given faults at once
// instead of silently corrupting the test's memory.
//
//   kxtest::GuardBuffer<wchar_t> out(MAX_PATH);
//   out.fill_garbage();
//   KX_GetSomethingW(out.data(), out.capacity());
//   EXPECT_EQ(out.text(), L"...");
//
// Sentinels: fill_garbage() writes "garbagegarbag..." over every character
// (no terminator), so a test can tell whether an export wrote, terminated or
// left the buffer alone.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace kxtest {

template <class C>
inline constexpr C kGarbage[] = {C('g'), C('a'), C('r'), C('b'), C('a'), C('g'), C('e'), C(0)};
inline constexpr std::size_t kGarbageLength = 7;

// Writes the repeating sentinel "garbage" into all `count` characters of
// buf, without a terminator.
template <class C>
void fill_garbage(C* buf, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) buf[i] = kGarbage<C>[i % kGarbageLength];
}

// True if all `count` characters still hold what fill_garbage wrote.
template <class C>
bool still_garbage(const C* buf, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (buf[i] != kGarbage<C>[i % kGarbageLength]) return false;
  }
  return true;
}

// Writes "garbage" plus its terminator (clipped to `count`), the classic
// sentinel for "was this output touched at all".
template <class C>
void put_garbage(C* buf, std::size_t count) {
  std::size_t i = 0;
  for (; i < count && i < kGarbageLength; ++i) buf[i] = kGarbage<C>[i];
  if (i < count) buf[i] = C(0);
}

namespace detail {
std::size_t page_size();
}  // namespace detail

template <class C>
class GuardBuffer {
 public:
  explicit GuardBuffer(int capacity) : capacity_(capacity < 0 ? 0 : capacity) {
    const std::size_t page = detail::page_size();
    const std::size_t bytes = static_cast<std::size_t>(capacity_) * sizeof(C);
    const std::size_t usable = (bytes + page - 1) / page * page;
    size_ = usable + page;
    base_ = static_cast<BYTE*>(::VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base_ == nullptr) {
      ADD_FAILURE() << "GuardBuffer: VirtualAlloc of " << size_ << " bytes failed, error " << ::GetLastError();
      return;
    }
    DWORD old = 0;
    if (!::VirtualProtect(base_ + usable, page, PAGE_NOACCESS, &old)) {
      ADD_FAILURE() << "GuardBuffer: VirtualProtect(PAGE_NOACCESS) failed, error " << ::GetLastError();
    }
    data_ = reinterpret_cast<C*>(base_ + usable - bytes);
  }
  ~GuardBuffer() {
    if (base_ != nullptr) ::VirtualFree(base_, 0, MEM_RELEASE);
  }
  GuardBuffer(const GuardBuffer&) = delete;
  GuardBuffer& operator=(const GuardBuffer&) = delete;

  // data() + capacity() is the first byte of the inaccessible page.
  C* data() { return data_; }
  const C* data() const { return data_; }
  int capacity() const { return capacity_; }
  // Start of the inaccessible page, for checks on the layout.
  const void* guard() const { return data_ + capacity_; }

  void fill(C sentinel) {
    for (int i = 0; i < capacity_; ++i) data_[i] = sentinel;
  }
  void fill_garbage() { kxtest::fill_garbage(data_, static_cast<std::size_t>(capacity_)); }
  bool still_garbage() const { return kxtest::still_garbage(data_, static_cast<std::size_t>(capacity_)); }

  // Copies text in with its terminator; fails the test if it does not fit.
  void set(const std::basic_string<C>& text) {
    if (text.size() + 1 > static_cast<std::size_t>(capacity_)) {
      ADD_FAILURE() << "GuardBuffer::set: " << text.size() << " characters do not fit in " << capacity_;
      return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) data_[i] = text[i];
    data_[text.size()] = C(0);
  }

  // The contents up to the first terminator, or all of it if there is none.
  std::basic_string<C> text() const {
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(capacity_) && data_[n] != C(0)) ++n;
    return std::basic_string<C>(data_, n);
  }
  // True if a terminator lies within the capacity.
  bool terminated() const {
    for (int i = 0; i < capacity_; ++i) {
      if (data_[i] == C(0)) return true;
    }
    return false;
  }

 private:
  int capacity_;
  std::size_t size_ = 0;
  BYTE* base_ = nullptr;
  C* data_ = nullptr;
};

}  // namespace kxtest
