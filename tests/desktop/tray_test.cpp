// Notification-area icons: the shell's own answers under Wine on a real
// window, whether the icon handles handed over are really gone afterwards,
// and, through the recorder, the exact records the shell is given.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "desktop/test_window.h"
#include "support/recorder.h"

namespace {

struct Wide {
  using C = wchar_t;
  using Record = NOTIFYICONDATAW;
  using Notify = decltype(Shell_NotifyIconW);
  static constexpr const char* kNotify = "Shell_NotifyIconW";
  static constexpr DWORD kSize = sizeof(void*) == 8 ? 976 : 956;
  static constexpr UINT kId = 1301;
  static constexpr auto add = KX_TaskBarAddIconW;
  static constexpr auto modify = KX_TaskBarModifyIconW;
  static constexpr auto tip = KX_TaskBarModifyTipW;
  static constexpr auto remove = KX_TaskBarDeleteIconW;
};

struct Narrow {
  using C = char;
  using Record = NOTIFYICONDATAA;
  using Notify = decltype(Shell_NotifyIconA);
  static constexpr const char* kNotify = "Shell_NotifyIconA";
  static constexpr DWORD kSize = sizeof(void*) == 8 ? 528 : 508;
  static constexpr UINT kId = 1302;
  static constexpr auto add = KX_TaskBarAddIconA;
  static constexpr auto modify = KX_TaskBarModifyIconA;
  static constexpr auto tip = KX_TaskBarModifyTipA;
  static constexpr auto remove = KX_TaskBarDeleteIconA;
};

// A tip of n characters 'a'..'z' repeated, so a cut or shifted copy shows.
template <class C>
std::basic_string<C> tip_of(std::size_t n) {
  std::basic_string<C> s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<C>('a' + i % 26));
  return s;
}

// A handle of the test's own (IDI_APPLICATION copied), free to be destroyed.
HICON fresh_icon() { return CopyIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512))); }

// An icon handle that still works; DestroyIcon makes GetIconInfo fail.
bool alive(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return true;
}

HMODULE pellam() { return GetModuleHandleW(L"KX_Pellam.dll"); }

template <class T>
class Tray : public ::testing::Test {
 protected:
  void TearDown() override { T::remove(window_.get(), T::kId); }
  kxtest::TestWindow window_;
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(Tray, Widths);

TYPED_TEST(Tray, AnIconLivesFromAddToDeleteAndEveryHandedIconIsDestroyed) {
  using T = TypeParam;
  using C = typename T::C;
  const HWND w = this->window_.get();
  const auto tip127 = tip_of<C>(127), short_tip = tip_of<C>(5);

  const HICON icons[] = {fresh_icon(), fresh_icon(), fresh_icon(), fresh_icon()};
  for (HICON icon : icons) ASSERT_TRUE(alive(icon));
  EXPECT_NE(T::add(w, T::kId, icons[0], tip127.c_str(), WM_APP + 7), 0);
  EXPECT_NE(T::modify(w, T::kId, icons[1], short_tip.c_str()), 0);
  EXPECT_NE(T::modify(w, T::kId, icons[2], nullptr), 0);
  EXPECT_NE(T::tip(w, T::kId, tip127.c_str()), 0);
  EXPECT_NE(T::remove(w, T::kId), 0);
  // The shell's refusals come through unchanged; the icon is destroyed anyway.
  EXPECT_EQ(T::remove(w, T::kId), 0);
  EXPECT_EQ(T::modify(w, T::kId, icons[3], short_tip.c_str()), 0);
  for (HICON icon : icons) EXPECT_FALSE(alive(icon));
}

TYPED_TEST(Tray, RefusedCallsReachNoShellAndARefusedAddLeavesTheIconToTheCaller) {
  using T = TypeParam;
  using C = typename T::C;
  const HWND w = this->window_.get();
  const auto tip128 = tip_of<C>(128), tip_huge = tip_of<C>(70000);
  kxtest::Recorder rec(pellam());
  auto& notify = rec.hook<typename T::Notify>("shell32.dll", T::kNotify);

  const HICON icon = fresh_icon();
  EXPECT_EQ(T::add(w, T::kId, nullptr, tip_of<C>(3).c_str(), WM_APP), 0);
  EXPECT_EQ(T::add(w, T::kId, icon, nullptr, WM_APP), 0);
  EXPECT_EQ(T::add(w, T::kId, icon, tip128.c_str(), WM_APP), 0);
  EXPECT_EQ(T::add(w, T::kId, icon, tip_huge.c_str(), WM_APP), 0);
  EXPECT_TRUE(alive(icon));
  EXPECT_EQ(T::tip(w, T::kId, nullptr), 0);
  EXPECT_EQ(T::tip(w, T::kId, tip128.c_str()), 0);
  // Modify took the icon over, so a refused tip still frees it.
  EXPECT_EQ(T::modify(w, T::kId, icon, tip128.c_str()), 0);
  EXPECT_FALSE(alive(icon));
  EXPECT_EQ(notify.count(), 0u);
}

// What one export must hand the shell: the message and the record exactly.
template <class T>
struct Sent {
  const char* what;
  std::function<int(HWND, HICON)> call;
  DWORD message;
  UINT flags;
  UINT callback;
  bool icon;                   // the handed icon is in the record (and destroyed)
  std::basic_string<typename T::C> tip;
};

TYPED_TEST(Tray, EachExportSendsOneRecordHoldingOnlyItsFields) {
  using T = TypeParam;
  using C = typename T::C;
  using Record = typename T::Record;
  const HWND w = this->window_.get();
  const auto tip127 = tip_of<C>(127), other = tip_of<C>(9), empty = std::basic_string<C>();
  const UINT id = T::kId;
  const std::vector<Sent<T>> cases = {
      {"add, 127-character tip", [&](HWND h, HICON i) { return T::add(h, id, i, tip127.c_str(), WM_APP + 3); },
       NIM_ADD, 7, WM_APP + 3, true, tip127},
      {"modify with tip", [&](HWND h, HICON i) { return T::modify(h, id, i, other.c_str()); }, NIM_MODIFY, 6, 0,
       true, other},
      {"modify, null tip", [&](HWND h, HICON i) { return T::modify(h, id, i, nullptr); }, NIM_MODIFY, 2, 0, true,
       empty},
      {"modify tip", [&](HWND h, HICON) { return T::tip(h, id, tip127.c_str()); }, NIM_MODIFY, 4, 0, false,
       tip127},
      {"delete", [&](HWND h, HICON) { return T::remove(h, id); }, NIM_DELETE, 0, 0, false, empty},
      {"add, empty tip", [&](HWND h, HICON i) { return T::add(h, id, i, empty.c_str(), 0); }, NIM_ADD, 7, 0, true,
       empty},
  };

  kxtest::Recorder rec(pellam());
  auto& notify = rec.hook<typename T::Notify>("shell32.dll", T::kNotify);
  auto& destroy = rec.hook<decltype(DestroyIcon)>("user32.dll", "DestroyIcon");
  std::vector<Record> records;
  notify.observe = [&](DWORD, Record* r) { records.push_back(*r); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rec.clear();
    records.clear();
    const HICON icon = fresh_icon();
    EXPECT_NE(c.call(w, icon), 0);
    ASSERT_EQ(notify.count(), 1u);
    EXPECT_EQ(std::get<0>(notify.calls[0]), c.message);

    Record want;
    std::memset(&want, 0, sizeof want);
    want.cbSize = sizeof want;
    want.hWnd = w;
    want.uID = id;
    want.uFlags = c.flags;
    want.uCallbackMessage = c.callback;
    want.hIcon = c.icon ? icon : nullptr;
    std::memcpy(want.szTip, c.tip.c_str(), (c.tip.size() + 1) * sizeof(C));
    EXPECT_EQ(records[0].cbSize, T::kSize);
    EXPECT_EQ(std::memcmp(&records[0], &want, sizeof want), 0) << "flags " << records[0].uFlags;

    // The icon goes only after the shell has seen it; no other is touched.
    if (c.icon) {
      EXPECT_EQ(rec.order(), (std::vector<std::string>{T::kNotify, "DestroyIcon"}));
      ASSERT_EQ(destroy.count(), 1u);
      EXPECT_EQ(std::get<0>(destroy.calls[0]), icon);
    } else {
      EXPECT_EQ(destroy.count(), 0u);
      DestroyIcon(icon);
    }
  }
}

}  // namespace
