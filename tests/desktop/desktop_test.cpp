// Tray icons, IME, input attachment and translucency read back from Wine's own
// shell, IME, thread and window state; the recorder for the exact tray
// records, the order of the transparency calls and the ghosting lookup.
#include <windows.h>
#include <imm.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KX_Pellam.h"
#include "support/recorder.h"

namespace {

using Window = std::unique_ptr<HWND__, decltype(&DestroyWindow)>;
Window make_window() {  // a real top-level window of this thread, hidden until shown
  return Window(CreateWindowExW(0, L"STATIC", L"KX", WS_OVERLAPPEDWINDOW, 9, 9, 99, 99, 0, 0, 0, 0), &DestroyWindow);
}
HMODULE pellam() { return GetModuleHandleW(L"KX_Pellam.dll"); }

#define KX_WIDTH(Name, Char, X, size64, size32)                                                      \
  struct Name {                                                                                      \
    using C = Char;                                                                                  \
    using Record = NOTIFYICONDATA##X;                                                                \
    using Notify = decltype(Shell_NotifyIcon##X);                                                    \
    using Load = decltype(LoadLibrary##X);                                                           \
    static constexpr const char *kNotify = "Shell_NotifyIcon" #X, *kLoad = "LoadLibrary" #X;         \
    static constexpr DWORD kSize = sizeof(void*) == 8 ? size64 : size32;                             \
    static constexpr auto add = KX_TaskBarAddIcon##X, modify = KX_TaskBarModifyIcon##X;              \
    static constexpr auto tip = KX_TaskBarModifyTip##X, remove = KX_TaskBarDeleteIcon##X;            \
    static constexpr auto disable_ghosting = KX_DisableGhostWindow##X;                               \
  };
KX_WIDTH(Wide, wchar_t, W, 976, 956)
KX_WIDTH(Narrow, char, A, 528, 508)
#undef KX_WIDTH

HICON fresh_icon() { return CopyIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512))); }  // IDI_APPLICATION
bool alive(HICON icon) {  // DestroyIcon makes GetIconInfo fail
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return true;
}

template <class T>
void tray_lifecycle(HWND w, UINT id) {
  const std::basic_string<typename T::C> t127(127, 't'), t128(128, 't'), none;
  const HICON icons[] = {fresh_icon(), fresh_icon(), fresh_icon(), fresh_icon(), fresh_icon()};
  EXPECT_EQ(T::add(w, id, icons[0], nullptr, WM_APP) | T::add(w, id, icons[0], t128.c_str(), WM_APP), 0);
  EXPECT_EQ(T::add(w, id, nullptr, none.c_str(), WM_APP), 0);
  EXPECT_TRUE(alive(icons[0]));    // a refused add leaves the icon to the caller
  EXPECT_EQ(T::remove(w, id), 0);  // and added nothing
  EXPECT_NE(T::add(w, id, icons[0], t127.c_str(), WM_APP), 0);
  EXPECT_NE(T::modify(w, id, icons[1], none.c_str()), 0);
  EXPECT_NE(T::modify(w, id, icons[2], nullptr), 0);
  EXPECT_NE(T::tip(w, id, t127.c_str()), 0);
  EXPECT_EQ(T::modify(w, id, icons[3], t128.c_str()), 0);  // refused, yet taken over
  EXPECT_NE(T::remove(w, id), 0);
  EXPECT_EQ(T::remove(w, id), 0);  // the shell's own answer
  EXPECT_EQ(T::modify(w, id, icons[4], nullptr), 0);
  for (HICON icon : icons) EXPECT_FALSE(alive(icon));
}

// One record per call holding only its own fields, then the handed icon
// destroyed; a refused call (message ~0) calls nothing at all.
template <class T>
void tray_records(HWND w, UINT id) {
  using C = typename T::C;
  const std::basic_string<C> t127(127, 't'), t128(128, 't'), none;
  kxtest::Recorder rec(pellam());
  auto& notify = rec.hook<typename T::Notify>("shell32.dll", T::kNotify);
  rec.hook<decltype(DestroyIcon)>("user32.dll", "DestroyIcon");
  typename T::Record sent, want;
  notify.observe = [&](DWORD, typename T::Record* r) { std::memcpy(&sent, r, sizeof sent); };
  const auto expect = [&](auto call, DWORD message, UINT flags, UINT callback, bool takes_icon, const C* tip) {
    rec.clear();
    const HICON icon = fresh_icon();
    const int result = call(icon);
    EXPECT_EQ(result != 0, message != ~0u);
    if (!takes_icon) DestroyIcon(icon);
    if (message == ~0u) {
      EXPECT_TRUE(rec.order().empty());
      return;
    }
    std::memset(&want, 0, sizeof want);
    want.cbSize = T::kSize, want.hWnd = w, want.uID = id, want.uFlags = flags, want.uCallbackMessage = callback;
    want.hIcon = takes_icon ? icon : nullptr;
    if (tip) std::memcpy(want.szTip, tip, (std::char_traits<C>::length(tip) + 1) * sizeof(C));
    ASSERT_EQ(notify.count(), 1u);
    EXPECT_EQ(std::get<0>(notify.calls[0]), message);
    EXPECT_EQ(std::memcmp(&sent, &want, sizeof want), 0) << "cbSize " << sent.cbSize << " flags " << sent.uFlags;
    using Names = std::vector<std::string>;  // the icon goes only once the shell has seen it
    EXPECT_EQ(rec.order(), (takes_icon ? Names{T::kNotify, "DestroyIcon"} : Names{T::kNotify}));
  };
  const C *full = t127.c_str(), *over = t128.c_str();
  expect([&](HICON i) { return T::add(w, id, i, full, WM_APP + 3); }, NIM_ADD, 7, WM_APP + 3, true, full);
  expect([&](HICON i) { return T::modify(w, id, i, none.c_str()); }, NIM_MODIFY, 6, 0, true, none.c_str());
  expect([&](HICON i) { return T::modify(w, id, i, nullptr); }, NIM_MODIFY, 2, 0, true, nullptr);
  expect([&](HICON) { return T::tip(w, id, full); }, NIM_MODIFY, 4, 0, false, full);
  expect([&](HICON) { return T::remove(w, id); }, NIM_DELETE, 0, 0, false, nullptr);
  expect([&](HICON) { return T::tip(w, id, nullptr) | T::tip(w, id, over); }, ~0u, 0, 0, false, nullptr);
  expect([&](HICON i) { return T::add(w, id, i, nullptr, 0) | T::add(w, id, i, over, 0); }, ~0u, 0, 0, false, nullptr);
}

TEST(Tray, ShellAnswersPassThroughAndHandedIconsAreDestroyed) {
  const auto window = make_window();
  tray_lifecycle<Wide>(window.get(), 1), tray_lifecycle<Narrow>(window.get(), 2);
  tray_records<Wide>(window.get(), 3), tray_records<Narrow>(window.get(), 4);
}

TEST(Ime, EachCallLeavesItsStateAndAnswersZeroWithoutAContext) {
  const auto window = make_window(), bare = make_window();
  const HIMC context = ImmGetContext(window.get());
  ASSERT_NE(context, nullptr);
  ImmSetOpenStatus(context, FALSE);
  ImmAssociateContext(bare.get(), nullptr);
  const struct { int(WINAPI* call)(HWND); bool open_after; } steps[] = {
      {KX_ImeIsOpen, false}, {KX_ImeOpen, true},   {KX_ImeOpen, true},   {KX_ImeIsOpen, true},
      {KX_ImeToggle, false}, {KX_ImeToggle, true}, {KX_ImeClose, false}, {KX_ImeClose, false}};
  for (const auto& s : steps) {
    const int result = s.call(window.get());
    EXPECT_EQ(ImmGetOpenStatus(context) != FALSE, s.open_after);
    EXPECT_EQ(result != 0, s.call == KX_ImeIsOpen ? s.open_after : true);  // else the release's answer
    EXPECT_EQ(s.call(bare.get()) | s.call(nullptr), 0);
  }
  ImmReleaseContext(window.get(), context);
}

// Handles this thread's messages until done(): activating the other thread's
// window reaches this thread too, and a blocking wait would stall both.
template <class Done>
void pump_until(Done done) {
  for (int i = 0; i < 2000 && !done(); ++i, Sleep(5)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

TEST(InputAttachment, TheRecordHoldsTheCallerThenTheForegroundThread) {
  std::atomic<HWND> other{nullptr};
  std::atomic<int> stage{0};  // 1: other window in front, 2: let it go, 3: gone
  std::thread foreground([&] {
    auto window = make_window();
    ShowWindow(window.get(), SW_SHOW);
    SetForegroundWindow(window.get());
    other = window.get(), stage = 1;
    pump_until([&] { return stage == 2; });
    window.reset(), stage = 3;
  });
  pump_until([&] { return stage == 1; });
  ASSERT_EQ(GetForegroundWindow(), other.load());
  KX_INPUT_ATTACHMENT record = {0xDEADBEEF, 0xDEADBEEF};
  EXPECT_NE(KX_AttachInput(nullptr, &record), 0);
  EXPECT_EQ(record.attachingThread, GetCurrentThreadId());
  EXPECT_EQ(record.foregroundThread, GetWindowThreadProcessId(other, nullptr));
  EXPECT_EQ(GetForegroundWindow(), other.load());  // nothing of the caller's came forward
  EXPECT_NE(KX_DetachInput(&record), 0);
  // The caller's own window in front: the caller twice, which the system
  // will not attach; the record is filled all the same.
  const auto mine = make_window();
  ShowWindow(mine.get(), SW_SHOW);
  EXPECT_EQ(KX_AttachInput(mine.get(), &record), 0);
  EXPECT_EQ(GetForegroundWindow(), mine.get());
  EXPECT_EQ(record.foregroundThread, GetCurrentThreadId());
  EXPECT_EQ(KX_AttachInput(mine.get(), nullptr) | KX_DetachInput(nullptr), 0);
  stage = 2;
  pump_until([&] { return stage == 3; });
  foreground.join();
}

TEST(AlphaLayer, PercentBecomesAlphaAndOneHundredEndsTheLayering) {
  const auto window = make_window();
  const HWND w = window.get();
  const std::pair<int, int> cases[] = {{0, 0}, {1, 2}, {50, 127}, {99, 252}, {100, 0}, {101, 1}, {-1, 254}, {100, 0}};
  for (const auto& [percent, want] : cases) {
    const LONG before = GetWindowLongW(w, GWL_EXSTYLE);
    const int result = KX_SetAlphaLayer(w, percent);
    BYTE alpha = 0;
    DWORD flags = 0;
    const bool layered = GetLayeredWindowAttributes(w, nullptr, &alpha, &flags);
    EXPECT_EQ(GetWindowLongW(w, GWL_EXSTYLE), percent == 100 ? before & ~WS_EX_LAYERED : before | WS_EX_LAYERED);
    EXPECT_EQ(layered, percent != 100) << percent;
    if (layered) {
      EXPECT_EQ(std::pair(int{alpha}, flags), std::pair(want, DWORD{LWA_ALPHA})) << percent;
    }
    EXPECT_TRUE(percent == 100 ? result == before : result != 0) << percent;  // 100: the old style
  }
  const HWND gone = make_window().get();
  EXPECT_EQ(KX_SetAlphaLayer(gone, 50) | KX_SetAlphaLayer(gone, 100), 0);

  kxtest::Recorder rec(pellam());
  auto& layer = rec.hook<decltype(SetLayeredWindowAttributes)>("user32.dll", "SetLayeredWindowAttributes");
  auto& redraw = rec.hook<decltype(RedrawWindow)>("user32.dll", "RedrawWindow");
  rec.hook<decltype(GetWindowLongA)>("user32.dll", "GetWindowLongA");
  rec.hook<decltype(SetWindowLongA)>("user32.dll", "SetWindowLongA");
  for (const int percent : {50, 100}) {  // opaque is drawn at 255 before the layering ends
    rec.clear();
    KX_SetAlphaLayer(w, percent);
    std::vector<std::string> order = {"GetWindowLongA", "SetWindowLongA", "SetLayeredWindowAttributes", "RedrawWindow"};
    if (percent == 100) std::rotate(order.begin(), order.begin() + 2, order.end());
    EXPECT_EQ(rec.order(), order);
    EXPECT_EQ(layer.calls.at(0), std::make_tuple(w, COLORREF{0}, BYTE(percent == 100 ? 255 : 127), DWORD{2}));
    EXPECT_EQ(redraw.calls.at(0), std::make_tuple(w, nullptr, nullptr, UINT{0x485}));
  }
}

// Ghosting stays off for the process's life: these run one per process.
int g_entry_calls = 0;
void WINAPI counting_entry() { ++g_entry_calls; }

template <class T>
void ghosting() {
  ASSERT_NE(GetProcAddress(GetModuleHandleW(L"user32.dll"), "DisableProcessWindowsGhosting"), nullptr);
  kxtest::Recorder rec(pellam());
  auto& load = rec.hook<typename T::Load>("kernel32.dll", T::kLoad);
  auto& lookup = rec.hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress");
  enum Entry { real, fake, missing, no_module };
  for (const Entry e : {real, fake, missing, no_module}) {
    rec.clear(), g_entry_calls = 0;
    load.script = [e](auto) { return e == no_module ? std::optional<HMODULE>(nullptr) : std::nullopt; };
    lookup.script = [e](HMODULE, LPCSTR) -> std::optional<FARPROC> {
      if (e == real) return std::nullopt;
      return e == fake ? reinterpret_cast<FARPROC>(&counting_entry) : nullptr;
    };
    T::disable_ghosting();
    ASSERT_EQ(load.count(), 1u);
    const char* user32 = "User32.dll";
    EXPECT_EQ(*std::get<0>(load.calls[0]), std::basic_string<typename T::C>(user32, user32 + 10));
    ASSERT_EQ(lookup.count(), e == no_module ? 0u : 1u) << e;
    if (e != no_module) {
      EXPECT_EQ(std::get<0>(lookup.calls[0]), GetModuleHandleW(L"user32.dll"));
      EXPECT_EQ(std::get<1>(lookup.calls[0]), "DisableProcessWindowsGhosting");
    }
    EXPECT_EQ(g_entry_calls, e == fake ? 1 : 0) << e;
  }
}
TEST(GhostingW, TheEntryIsLookedUpByNameOnEveryCallAndCalledOnlyWhenFound) { ghosting<Wide>(); }
TEST(GhostingA, TheEntryIsLookedUpByNameOnEveryCallAndCalledOnlyWhenFound) { ghosting<Narrow>(); }

}  // namespace
