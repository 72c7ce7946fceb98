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
constexpr std::size_t kTextCapacity = 1024;

DWORD ms_until(ULONGLONG deadline) {
  const ULONGLONG now = ::GetTickCount64();
  return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

// Waits for the window's thread to answer, however long it is busy, until
// the deadline. Never SMTO_ABORTIFHUNG: Wine calls a thread hung once it has
// fetched no message for 5 s and is not waiting for one, which is just what
// a test thread is while it builds a dialog on a busy machine after seconds
// spent closing the last one; such a send fails at once, and a read of the
// dialog's caption and controls then came back empty.
bool send_by(ULONGLONG deadline, HWND to, UINT message, WPARAM w, LPARAM l, LRESULT* answer) {
  *answer = 0;
  // Wine waits without end for a time-out of 0.
  const DWORD left = ms_until(deadline);
  if (left == 0) return false;
  DWORD_PTR result = 0;
  const bool answered = ::SendMessageTimeoutW(to, message, w, l, SMTO_NORMAL, left, &result) != 0;
  *answer = answered ? static_cast<LRESULT>(result) : 0;
  return answered;
}

std::wstring class_of(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
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

LRESULT Dialog::send(HWND to, UINT message, WPARAM w, LPARAM l) const {
  LRESULT answer = 0;
  if (!send_by(deadline_, to, message, w, l, &answer)) {
    std::ostringstream out;
    out << "window of class '" << narrow(class_of(to)) << "' id " << ::GetDlgCtrlID(to) << " did not answer message 0x"
        << std::hex << message << " within the time limit\n";
    *problems_ += out.str();
  }
  return answer;
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
  wchar_t text[kTextCapacity] = {};
  send(c, WM_GETTEXT, kTextCapacity, reinterpret_cast<LPARAM>(text));
  return text;
}

std::wstring Dialog::text() const {
  wchar_t text[kTextCapacity] = {};
  send(window_, WM_GETTEXT, kTextCapacity, reinterpret_cast<LPARAM>(text));
  return text;
}

void Dialog::set_text(int id, const std::wstring& text) const {
  HWND c = control(id);
  if (c == nullptr) {
    missing(id);
    return;
  }
  send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Dialog::press(int id) const {
  if (!::PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control(id)))) {
    *problems_ += "could not post the press of " + std::to_string(id) + "\n";
  }
}

std::wstring Dialog::describe() const {
  std::wostringstream out;
  for (HWND child : descendants(window_)) {
    // A window that does not answer is shown without its text; the reads
    // that failed have been reported themselves.
    wchar_t text[kTextCapacity] = {};
    LRESULT ignored;
    send_by(deadline_, child, WM_GETTEXT, kTextCapacity, reinterpret_cast<LPARAM>(text), &ignored);
    out << class_of(child) << L" " << ::GetDlgCtrlID(child) << L" '" << text << L"'\n";
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

// A dialog is ready once it is shown, takes input and its thread answers a
// message sent after that. A thread answers only while it fetches messages,
// which a modal dialog's thread does once it has built the dialog, so what
// the script reads is what the dialog shows.
HWND DialogDriver::find_dialog(ULONGLONG deadline, bool* unanswered) {
  for (HWND window : thread_windows(thread_id_)) {
    if (!::IsWindowVisible(window) || !::IsWindowEnabled(window) || class_of(window) != dialog_class_) continue;
    LRESULT ignored;
    if (send_by(deadline, window, WM_NULL, 0, 0, &ignored)) {
      if (::IsWindowVisible(window)) return window;
    } else if (::IsWindow(window)) {
      *unanswered = true;
    }
  }
  return nullptr;
}

void DialogDriver::watch() {
  const std::string limit = std::to_string(timeout_ms_) + " ms";
  const ULONGLONG appear_by = ::GetTickCount64() + timeout_ms_;
  HWND dialog = nullptr;
  bool unanswered = false;
  while (dialog == nullptr) {
    if (::WaitForSingleObject(done_, kPollMs) == WAIT_OBJECT_0) {
      problems_ += "the call returned without showing a dialog";
      return;
    }
    if (::GetTickCount64() >= appear_by) break;
    dialog = find_dialog(appear_by, &unanswered);
  }
  if (dialog == nullptr) {
    problems_ += unanswered ? "a dialog appeared but its thread did not answer within " + limit
                            : "no dialog appeared within " + limit;
    close_everything();
    return;
  }
  // Each stage has the whole limit from its own start: a dialog that was
  // slow to appear on a busy machine leaves its script no less time, and a
  // long script leaves the dialog no less time to close (Wine's file dialogs
  // take seconds to return after their button is pressed).
  Dialog d(dialog, &problems_, ::GetTickCount64() + timeout_ms_);
  script_(d);
  if (::WaitForSingleObject(done_, timeout_ms_) == WAIT_OBJECT_0) return;
  problems_ += "the dialog was still open " + limit + " after the script ended";
  close_everything();
}

// Unblocks the modal call: cancels and closes whatever the thread shows.
void DialogDriver::close_everything() {
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
