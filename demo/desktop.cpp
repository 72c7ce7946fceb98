// Tour: a notification-area icon from its arrival to its removal, and the
// demo's own window made translucent and opaque again, with what the system
// reports after each step (read with the plain API, not through the library).
#include <windows.h>

#include <cstdio>

#include "KX_Pellam.h"

namespace {

const UINT kTrayId = 1;
const UINT kTrayMessage = WM_APP + 1;

// A fresh copy each time: the library destroys every icon it is handed.
HICON sample_icon(int which) {
  return CopyIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(which == 0 ? 32512 : 32516)));  // application, information
}

void step(const char* call, int result) { std::printf("  %-62s = %d\n", call, result); }

void show_alpha(HWND window) {
  BYTE alpha = 0;
  DWORD flags = 0;
  const bool layered = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
  if (layered && GetLayeredWindowAttributes(window, nullptr, &alpha, &flags)) {
    std::printf("      window: layered, alpha %u of 255\n", static_cast<unsigned>(alpha));
  } else {
    std::printf("      window: %s\n", layered ? "layered, alpha unreadable" : "not layered (opaque)");
  }
}

}  // namespace

void show_desktop() {
  std::printf("\n== Notification-area icon and window translucency\n");
  const HWND window = CreateWindowExW(0, L"STATIC", L"KX_Pellam demo", WS_OVERLAPPEDWINDOW, 40, 40, 320, 160,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) {
    std::printf("  no window (error %lu): this tour needs a display\n", GetLastError());
    return;
  }
  step("KX_TaskBarAddIconW(window, 1, icon, L\"KX demo\", WM_APP + 1)",
       KX_TaskBarAddIconW(window, kTrayId, sample_icon(0), L"KX demo", kTrayMessage));
  step("KX_TaskBarModifyIconW(window, 1, icon2, L\"KX demo: busy\")",
       KX_TaskBarModifyIconW(window, kTrayId, sample_icon(1), L"KX demo: busy"));
  step("KX_TaskBarModifyTipW(window, 1, L\"KX demo: done\")", KX_TaskBarModifyTipW(window, kTrayId, L"KX demo: done"));
  step("KX_TaskBarDeleteIconW(window, 1)", KX_TaskBarDeleteIconW(window, kTrayId));
  step("KX_TaskBarDeleteIconW(window, 1)  (0: already gone)", KX_TaskBarDeleteIconW(window, kTrayId));

  ShowWindow(window, SW_SHOWNOACTIVATE);
  show_alpha(window);
  step("KX_SetAlphaLayer(window, 40)", KX_SetAlphaLayer(window, 40));
  show_alpha(window);
  step("KX_SetAlphaLayer(window, 100)  (the extended style before)", KX_SetAlphaLayer(window, 100));
  show_alpha(window);
  DestroyWindow(window);
}
