// Input method, input attachment and translucency, read back from Wine's own
// window, thread and IME state; the recorder only for the order of the
// transparency calls and their flags.
#include <windows.h>
#include <imm.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "desktop/test_window.h"
#include "support/recorder.h"

namespace {

using kxtest::TestWindow;

bool ime_open(HWND w) {
  const HIMC context = ImmGetContext(w);
  const bool open = ImmGetOpenStatus(context) != FALSE;
  ImmReleaseContext(w, context);
  return open;
}

TEST(Ime, EachExportLeavesTheStateItNamesAndAnswersZeroWithoutAContext) {
  TestWindow window;
  const HWND w = window.get();
  {
    const HIMC context = ImmGetContext(w);
    ASSERT_NE(context, nullptr) << "a fresh window of this thread has an input context";
    ImmSetOpenStatus(context, FALSE);
    ImmReleaseContext(w, context);
  }
  const struct {
    const char* what;
    int(WINAPI* call)(HWND);
    bool answers_state;  // IsOpen answers the state, the others the release
    bool open_after;
  } steps[] = {
      {"IsOpen while off", KX_ImeIsOpen, true, false}, {"Open", KX_ImeOpen, false, true},
      {"Open again", KX_ImeOpen, false, true},        {"IsOpen while on", KX_ImeIsOpen, true, true},
      {"Toggle", KX_ImeToggle, false, false},         {"Toggle back", KX_ImeToggle, false, true},
      {"Close", KX_ImeClose, false, false},           {"Close again", KX_ImeClose, false, false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    const int result = s.call(w);
    if (s.answers_state) {
      EXPECT_EQ(result != 0, s.open_after);
    } else {
      EXPECT_NE(result, 0);
    }
    EXPECT_EQ(ime_open(w), s.open_after);
  }

  TestWindow bare;
  const HIMC detached = ImmAssociateContext(bare.get(), nullptr);
  ASSERT_EQ(ImmGetContext(bare.get()), nullptr);
  for (const auto& s : steps) {
    EXPECT_EQ(s.call(bare.get()), 0) << s.what;
    EXPECT_EQ(s.call(nullptr), 0) << s.what;
  }
  ImmAssociateContext(bare.get(), detached);
}

// Waits for one of `handles` while handling what other threads send to this
// thread's windows: activating the other thread's window reaches the test's
// thread too (its IME window at least), and a plain wait would stall both.
template <std::size_t N>
void wait_pumping(const HANDLE (&handles)[N]) {
  while (MsgWaitForMultipleObjects(N, handles, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + N) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

// A window of another thread, in the foreground while the test runs.
class ForegroundThread {
 public:
  ForegroundThread() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &ForegroundThread::run, this, 0, &id_);
    wait_pumping({ready_, thread_});
  }
  ~ForegroundThread() {
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    wait_pumping({thread_});
    CloseHandle(thread_);
    CloseHandle(ready_);
  }
  HWND window() const { return window_; }
  DWORD id() const { return id_; }

 private:
  static DWORD WINAPI run(void* self) {
    auto* me = static_cast<ForegroundThread*>(self);
    TestWindow window;
    me->window_ = window.get();
    ShowWindow(me->window_, SW_SHOW);
    SetForegroundWindow(me->window_);
    SetEvent(me->ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
  }

  HANDLE ready_;
  HANDLE thread_;
  HWND window_ = nullptr;
  DWORD id_ = 0;
};

TEST(InputAttachment, TheRecordHoldsTheCallerFirstAndTheForegroundThreadSecond) {
  ForegroundThread other;
  ASSERT_EQ(GetForegroundWindow(), other.window());
  const DWORD me = GetCurrentThreadId();

  // Without a window nothing is brought forward: the other thread's stays.
  KX_INPUT_ATTACHMENT record = {0xDEADBEEF, 0xDEADBEEF};
  EXPECT_NE(KX_AttachInput(nullptr, &record), 0);
  EXPECT_EQ(record.attachingThread, me);
  EXPECT_EQ(record.foregroundThread, other.id());
  EXPECT_EQ(GetForegroundWindow(), other.window());
  EXPECT_NE(KX_DetachInput(&record), 0);

  // With the caller's own window in front, the pair is the caller twice,
  // which the system will not attach; the record is filled all the same.
  TestWindow mine;
  ShowWindow(mine.get(), SW_SHOW);
  record = {0xDEADBEEF, 0xDEADBEEF};
  EXPECT_EQ(KX_AttachInput(mine.get(), &record), 0);
  EXPECT_EQ(GetForegroundWindow(), mine.get());
  EXPECT_EQ(record.attachingThread, me);
  EXPECT_EQ(record.foregroundThread, me);

  EXPECT_EQ(KX_AttachInput(mine.get(), nullptr), 0);
  EXPECT_EQ(KX_DetachInput(nullptr), 0);
}

TEST(AlphaLayer, ThePercentageBecomesTheWindowsAlphaAndOneHundredEndsTheLayering) {
  TestWindow window;
  const HWND w = window.get();
  const struct {
    int percent;
    BYTE alpha;  // ignored for 100: the window is no longer layered
  } cases[] = {{0, 0}, {1, 2}, {50, 127}, {99, 252}, {100, 0}, {101, 1}, {-1, 254}, {100, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    const LONG before = GetWindowLongW(w, GWL_EXSTYLE);
    const int result = KX_SetAlphaLayer(w, c.percent);
    const LONG after = GetWindowLongW(w, GWL_EXSTYLE);
    COLORREF key = 1;
    BYTE alpha = 1;
    DWORD flags = 0;
    if (c.percent == 100) {
      EXPECT_EQ(result, before);  // the previous extended style
      EXPECT_EQ(after, before & ~WS_EX_LAYERED);
      EXPECT_FALSE(GetLayeredWindowAttributes(w, &key, &alpha, &flags));
    } else {
      EXPECT_NE(result, 0);
      EXPECT_EQ(after, before | WS_EX_LAYERED);
      ASSERT_TRUE(GetLayeredWindowAttributes(w, &key, &alpha, &flags));
      EXPECT_EQ(alpha, c.alpha);
      EXPECT_EQ(flags, DWORD{LWA_ALPHA});
      EXPECT_EQ(key, COLORREF{0});
    }
  }

  const HWND gone = [] {
    const HWND h = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(h);
    return h;
  }();
  EXPECT_EQ(KX_SetAlphaLayer(gone, 50), 0);
  EXPECT_EQ(KX_SetAlphaLayer(gone, 100), 0);
}

TEST(AlphaLayer, OpaqueIsDrawnBeforeTheLayeringEndsTranslucentAfterItBegins) {
  TestWindow window;
  const HWND w = window.get();
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& layered = rec.hook<decltype(SetLayeredWindowAttributes)>("user32.dll", "SetLayeredWindowAttributes");
  auto& redraw = rec.hook<decltype(RedrawWindow)>("user32.dll", "RedrawWindow");
  auto& get = rec.hook<decltype(GetWindowLongA)>("user32.dll", "GetWindowLongA");
  auto& set = rec.hook<decltype(SetWindowLongA)>("user32.dll", "SetWindowLongA");
  const std::vector<std::string> translucent = {"GetWindowLongA", "SetWindowLongA", "SetLayeredWindowAttributes",
                                                "RedrawWindow"};
  const std::vector<std::string> opaque = {"SetLayeredWindowAttributes", "RedrawWindow", "GetWindowLongA",
                                           "SetWindowLongA"};
  for (const int percent : {50, 100}) {
    SCOPED_TRACE(percent);
    rec.clear();
    KX_SetAlphaLayer(w, percent);
    EXPECT_EQ(rec.order(), percent == 100 ? opaque : translucent);
    ASSERT_EQ(layered.count(), 1u);
    EXPECT_EQ(layered.calls[0], std::make_tuple(w, COLORREF{0}, BYTE(percent == 100 ? 255 : 127), DWORD{LWA_ALPHA}));
    ASSERT_EQ(redraw.count(), 1u);
    EXPECT_EQ(redraw.calls[0], std::make_tuple(w, nullptr, nullptr, UINT{0x485}));
    ASSERT_EQ(get.count(), 1u);
    EXPECT_EQ(std::get<1>(get.calls[0]), GWL_EXSTYLE);
    ASSERT_EQ(set.count(), 1u);
    EXPECT_EQ(std::get<1>(set.calls[0]), GWL_EXSTYLE);
  }
}

}  // namespace
