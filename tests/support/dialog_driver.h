// Dialog driver: clicks through a modal dialog that the test's own thread
// shows, so dialog exports can be tested without a person.
//
//   {
//     kxtest::DialogDriver driver([](kxtest::Dialog& d) {
//       d.set_text(0x480, L"C:\\x.txt");
//       d.press(IDOK);
//     });
//     result = KX_GetSaveFileNameW(...);   // modal: runs until the driver presses OK
//   }                                       // joins; fails the test if no dialog came
//
// A watcher thread looks for a visible, enabled top-level window of the
// constructing thread with the dialog class (#32770 unless told otherwise),
// waits until that thread answers a message sent to it (the dialog has been
// built and its thread is taking messages), and runs the script on it.
// Presses are posted, never sent, so a message box that a press opens cannot
// block the watcher. Scripts should only read and act; the test asserts on
// what they read once the call has returned. Every read and write waits for
// the dialog's answer as long as the time limit allows and reports a dialog
// that never answers, so nothing reads as empty by mistake. The time limit
// applies three times over: to the dialog's appearing and answering, to the
// script, and to the call's return after the script. If one runs out, the
// test fails and the watcher closes every window of the thread, so that the
// modal call returns; a call that still does not return is ended with the
// whole process, failing the run instead of hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace kxtest {

// One found dialog, as the script sees it. Control lookups search the whole
// window tree, since some dialogs nest their controls in child dialogs.
class Dialog {
 public:
  Dialog(HWND window, std::string* problems, ULONGLONG deadline)
      : window_(window), problems_(problems), deadline_(deadline) {}
  HWND window() const { return window_; }

  // The first descendant with this control id, or null.
  HWND control(int id) const;
  // The first descendant of this window class, or null.
  HWND control_of_class(const wchar_t* class_name) const;
  std::wstring text(int id) const;
  std::wstring text() const;  // the dialog's own caption
  void set_text(int id, const std::wstring& text) const;
  // Posts a click of the button with this id (IDOK, IDCANCEL or any other).
  void press(int id) const;
  // Sends a message to a window of the dialog and returns its answer; a
  // window that does not answer before the time limit is reported, and 0
  // returned.
  LRESULT send(HWND to, UINT message, WPARAM w, LPARAM l) const;
  // Every descendant as "class id 'text'" lines, for failure messages.
  std::wstring describe() const;

 private:
  void missing(int id) const;

  HWND window_;
  std::string* problems_;  // reported by the driver on the test's own thread
  ULONGLONG deadline_;     // GetTickCount64() by which the script must be done
};

// Waits until cond() holds or the time runs out; true if it held. For the
// script, to wait for a dialog's own asynchronous work (a tree filling in).
bool wait_until(const std::function<bool()>& cond, DWORD timeout_ms = 5000);

class DialogDriver {
 public:
  using Script = std::function<void(Dialog&)>;

  explicit DialogDriver(Script script, DWORD timeout_ms = 15000, const wchar_t* dialog_class = L"#32770");
  ~DialogDriver();
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

 private:
  void watch();
  HWND find_dialog(ULONGLONG deadline, bool* unanswered);
  void close_everything();

  Script script_;
  DWORD timeout_ms_;
  std::wstring dialog_class_;
  DWORD thread_id_;
  HANDLE done_;  // set by the destructor: the modal call has returned
  // Failures seen on the watcher thread, reported by the destructor: the
  // test framework is built without thread support here.
  std::string problems_;
  std::thread watcher_;
};

}  // namespace kxtest
