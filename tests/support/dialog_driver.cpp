#include "support/dialog_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

namespace kxtest {
namespace {

constexpr DWORD kPollMs = 50;
// After a forced close, how long the modal call gets to return before the
// process is ended.
constexpr DWORD kCloseGraceMs = 5000;

std::wstring class_of(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

std::wstring window_text(HWND window) {
  wchar_t text[1024] = {};
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

BOOL CALLBACK collect(HWND window, LPARAM out) {
  reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
  return TRUE;
}

std::vector<HWND> descendants(HWND parent) {
  std::vector<HWND> found;
  ::EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> thread_windows(DWORD thread) {
  std::vector<HWND> found;
  ::EnumThreadWindows(thread, collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace

HWND Dialog::control(int id) const {
  for (HWND child : descendants(window_)) {
    if (::GetDlgCtrlID(child) == id) return child;
  }
  return nullptr;
}

HWND Dialog::control_of_class(const wchar_t* class_name) const {
  for (HWND child : descendants(window_)) {
    if (class_of(child) == class_name) return child;
  }
  return nullptr;
}

void Dialog::missing(int id) const {
  std::ostringstream out;
  out << "no control " << id << " in the dialog:\n" << narrow(describe()) << "\n";
  *problems_ += out.str();
}

std::wstring Dialog::text(int id) const {
  HWND c = control(id);
  if (c == nullptr) {
    missing(id);
    return {};
  }
  return window_text(c);
}

std::wstring Dialog::text() const { return window_text(window_); }

void Dialog::set_text(int id, const std::wstring& text) const {
  HWND c = control(id);
  if (c == nullptr) {
    missing(id);
    return;
  }
  ::SendMessageW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Dialog::press(int id) const {
  ::PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control(id)));
}

std::wstring Dialog::describe() const {
  std::wostringstream out;
  for (HWND child : descendants(window_)) {
    out << class_of(child) << L" " << ::GetDlgCtrlID(child) << L" '" << window_text(child) << L"'\n";
  }
  return out.str();
}

bool wait_until(const std::function<bool()>& cond, DWORD timeout_ms) {
  const ULONGLONG end = ::GetTickCount64() + timeout_ms;
  while (!cond()) {
    if (::GetTickCount64() >= end) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

DialogDriver::DialogDriver(Script script, DWORD timeout_ms, const wchar_t* dialog_class)
    : script_(std::move(script)),
      timeout_ms_(timeout_ms),
      dialog_class_(dialog_class),
      thread_id_(::GetCurrentThreadId()),
      done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      watcher_([this] { watch(); }) {}

DialogDriver::~DialogDriver() {
  ::SetEvent(done_);
  watcher_.join();
  ::CloseHandle(done_);
  if (!problems_.empty()) ADD_FAILURE() << problems_;
}

HWND DialogDriver::find_dialog() const {
  for (HWND window : thread_windows(thread_id_)) {
    if (::IsWindowVisible(window) && class_of(window) == dialog_class_) return window;
  }
  return nullptr;
}

void DialogDriver::watch() {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms_;
  HWND dialog = nullptr;
  while (dialog == nullptr) {
    if (::WaitForSingleObject(done_, kPollMs) == WAIT_OBJECT_0) {
      problems_ += "the call returned without showing a dialog";
      return;
    }
    if (::GetTickCount64() >= deadline) break;
    dialog = find_dialog();
  }
  if (dialog != nullptr) {
    Dialog d(dialog, &problems_);
    script_(d);
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (::WaitForSingleObject(done_, left) == WAIT_OBJECT_0) return;
    problems_ += "the dialog was still open after " + std::to_string(timeout_ms_) + " ms";
  } else {
    problems_ += "no dialog appeared within " + std::to_string(timeout_ms_) + " ms";
  }

  // Unblock the modal call: cancel and close whatever the thread shows.
  for (int round = 0; round < 10; ++round) {
    for (HWND window : thread_windows(thread_id_)) {
      ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
      ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (::WaitForSingleObject(done_, kCloseGraceMs / 10) == WAIT_OBJECT_0) return;
  }
  std::fprintf(stderr, "dialog driver: %s; the modal call did not return after closing its windows: ending the run\n",
               problems_.c_str());
  std::fflush(stderr);
  ::TerminateProcess(::GetCurrentProcess(), 3);
}

}  // namespace kxtest
