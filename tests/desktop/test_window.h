// A real top-level window of the test's own thread, hidden unless shown, for
// the desktop tests to act on; destroyed with its owner.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

namespace kxtest {

class TestWindow {
 public:
  explicit TestWindow(DWORD style = WS_OVERLAPPEDWINDOW) {
    static const ATOM kClass = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"KXTestDesktopWindow";
      return RegisterClassW(&wc);
    }();
    window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(kClass)), L"KX desktop test", style, 10, 10, 200, 120, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) ADD_FAILURE() << "CreateWindowExW failed, error " << GetLastError();
  }
  ~TestWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

}  // namespace kxtest
