// Small chores on a window or on the calling thread's input: the window's
// input method, borrowing the foreground thread's input so a program may
// bring its own window forward, ghost windows, and whole-window translucency.
#include <windows.h>
#include <imm.h>

#include <cstdint>

#include "KX_Pellam.h"
#include "frame/owners.h"
#include "kx/results.h"
#include "kx/twins.h"

namespace {

enum class ImeChange { open, close, toggle };

// Sets the state only when it differs, so an input method that is already in
// the wanted state sees no notification at all.
int change_ime(HWND window, ImeChange change) noexcept {
  kx::ImeContext context(window);
  if (!context) return kx::kNotDone;
  const bool open = ::ImmGetOpenStatus(context.get()) != FALSE;
  const bool wanted = change == ImeChange::open ? true : change == ImeChange::close ? false : !open;
  if (wanted != open) ::ImmSetOpenStatus(context.get(), wanted ? TRUE : FALSE);
  return context.release();
}

// A null record has nowhere to keep the pair that detaching needs, so the
// attachment is never made and no window is touched.
int attach_input(HWND window, KX_INPUT_ATTACHMENT* record) noexcept {
  if (record == nullptr) return kx::kNotDone;
  if (window != nullptr) {
    ::BringWindowToTop(window);
    ::SetForegroundWindow(window);
  }
  const HWND foreground = ::GetForegroundWindow();
  record->foregroundThread = ::GetWindowThreadProcessId(foreground, nullptr);
  record->attachingThread = ::GetCurrentThreadId();
  const BOOL attached = ::AttachThreadInput(record->attachingThread, record->foregroundThread, TRUE);
  ::SetForegroundWindow(foreground);
  return attached;
}

struct GhostW : kx::Wide {
  static HMODULE load(const wchar_t* name) noexcept { return ::LoadLibraryW(name); }
};
struct GhostA : kx::Narrow {
  static HMODULE load(const char* name) noexcept { return ::LoadLibraryA(name); }
};

// Older systems lack the entry, and GetProcAddress on a null module would
// search the program's own exports, so either miss ends the call quietly.
// The module stays loaded: the library imports it anyway.
template <class T>
void disable_ghosting() noexcept {
  const HMODULE user32 = T::load(KX_TEXT(typename T::Char, "User32.dll"));
  if (user32 == nullptr) return;
  using Entry = void(WINAPI*)();
  const auto entry = reinterpret_cast<Entry>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "DisableProcessWindowsGhosting")));
  if (entry != nullptr) entry();
}

// The percentage maps onto 0..255 with 32-bit two's-complement wrapping, so
// every int gives a defined alpha (101 gives 1, -1 gives 254) without relying
// on signed overflow, which C++ leaves undefined.
BYTE alpha_of(int percent) noexcept {
  const auto scaled = static_cast<std::int32_t>(static_cast<std::uint32_t>(percent) * 255u);
  return static_cast<BYTE>(scaled / 100);
}

constexpr UINT kRedrawAll = RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME;

// Opaque again: the alpha goes to 255 and is drawn while the window is still
// layered, and only then is the layered style taken away.
int set_alpha_layer(HWND window, int percent) noexcept {
  if (percent == 100) {
    ::SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
    ::RedrawWindow(window, nullptr, nullptr, kRedrawAll);
    const LONG style = ::GetWindowLongA(window, GWL_EXSTYLE);
    return ::SetWindowLongA(window, GWL_EXSTYLE, style & ~static_cast<LONG>(WS_EX_LAYERED));
  }
  const LONG style = ::GetWindowLongA(window, GWL_EXSTYLE);
  ::SetWindowLongA(window, GWL_EXSTYLE, style | static_cast<LONG>(WS_EX_LAYERED));
  ::SetLayeredWindowAttributes(window, 0, alpha_of(percent), LWA_ALPHA);
  return ::RedrawWindow(window, nullptr, nullptr, kRedrawAll);
}

}  // namespace

extern "C" {

int WINAPI KX_ImeOpen(HWND window) { return change_ime(window, ImeChange::open); }
int WINAPI KX_ImeClose(HWND window) { return change_ime(window, ImeChange::close); }
int WINAPI KX_ImeToggle(HWND window) { return change_ime(window, ImeChange::toggle); }

int WINAPI KX_ImeIsOpen(HWND window) {
  const kx::ImeContext context(window);
  if (!context) return kx::kNotDone;
  return ::ImmGetOpenStatus(context.get());
}

int WINAPI KX_AttachInput(HWND window, KX_INPUT_ATTACHMENT* record) { return attach_input(window, record); }

int WINAPI KX_DetachInput(const KX_INPUT_ATTACHMENT* record) {
  if (record == nullptr) return kx::kNotDone;
  return ::AttachThreadInput(record->attachingThread, record->foregroundThread, FALSE);
}

void WINAPI KX_DisableGhostWindowW(void) { disable_ghosting<GhostW>(); }
void WINAPI KX_DisableGhostWindowA(void) { disable_ghosting<GhostA>(); }

int WINAPI KX_SetAlphaLayer(HWND window, int percent) { return set_alpha_layer(window, percent); }

}  // extern "C"
