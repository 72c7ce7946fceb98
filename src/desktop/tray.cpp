// Notification-area icons. The shell knows an icon by its owner window and
// identifier, which the caller passes on every call, so nothing is kept here:
// each call builds one record, makes one shell call and answers what the
// shell answered.
#include <windows.h>
#include <shellapi.h>

#include <cstddef>

#include "KX_Pellam.h"
#include "frame/owners.h"
#include "kx/results.h"
#include "kx/twins.h"

namespace {

struct TrayW : kx::Wide {
  using Record = NOTIFYICONDATAW;
  static BOOL notify(DWORD message, Record* record) noexcept { return ::Shell_NotifyIconW(message, record); }
};

struct TrayA : kx::Narrow {
  using Record = NOTIFYICONDATAA;
  static BOOL notify(DWORD message, Record* record) noexcept { return ::Shell_NotifyIconA(message, record); }
};

// The shell reads cbSize to tell which fields a caller knows; callers of this
// library get the full layout, the one that ends with the balloon icon.
#ifdef _WIN64
static_assert(sizeof(NOTIFYICONDATAW) == 976 && sizeof(NOTIFYICONDATAA) == 528);
#else
static_assert(sizeof(NOTIFYICONDATAW) == 956 && sizeof(NOTIFYICONDATAA) == 508);
#endif

template <class T>
using Record = typename T::Record;

// Every field the operation does not set stays zero: the shell would act on
// a stray state, balloon or item GUID.
template <class T>
void start_record(Record<T>& record, HWND window, UINT id) noexcept {
  ::ZeroMemory(&record, sizeof record);
  record.cbSize = sizeof record;
  record.hWnd = window;
  record.uID = id;
}

template <class T>
inline constexpr std::size_t kTipCapacity = sizeof(Record<T>::szTip) / sizeof(typename T::Char);  // 128

// A null tip, or one the field cannot hold whole, is refused with 0 before
// any shell call rather than sent cut: a cut tip would show a different text.
template <class T>
bool tip_fits(const typename T::Char* tip) noexcept {
  return kx::fits(tip, kTipCapacity<T>);
}

template <class T>
void put_tip(Record<T>& record, const typename T::Char* tip) noexcept {
  kx::bounded_copy(record.szTip, kTipCapacity<T>, tip);
}

template <class T>
int add_icon(HWND window, UINT id, HICON icon, const typename T::Char* tip, UINT callback) noexcept {
  // A refused add leaves the icon with the caller, who still has to free it.
  if (icon == nullptr || !tip_fits<T>(tip)) return kx::kNotDone;
  const kx::Icon owned(icon);
  Record<T> record;
  start_record<T>(record, window, id);
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record.uCallbackMessage = callback;
  record.hIcon = icon;
  put_tip<T>(record, tip);
  return T::notify(NIM_ADD, &record);
}

template <class T>
int modify_icon(HWND window, UINT id, HICON icon, const typename T::Char* tip) noexcept {
  // Modify takes the icon over unconditionally, also when it refuses a tip
  // too long for the field: its caller has been told never to touch the
  // handle again, so keeping it would leak it.
  const kx::Icon owned(icon);
  if (tip != nullptr && !tip_fits<T>(tip)) return kx::kNotDone;
  Record<T> record;
  start_record<T>(record, window, id);
  record.uFlags = tip != nullptr ? NIF_ICON | NIF_TIP : NIF_ICON;
  record.hIcon = icon;
  if (tip != nullptr) put_tip<T>(record, tip);
  return T::notify(NIM_MODIFY, &record);
}

template <class T>
int modify_tip(HWND window, UINT id, const typename T::Char* tip) noexcept {
  if (!tip_fits<T>(tip)) return kx::kNotDone;
  Record<T> record;
  start_record<T>(record, window, id);
  record.uFlags = NIF_TIP;
  put_tip<T>(record, tip);
  return T::notify(NIM_MODIFY, &record);
}

template <class T>
int delete_icon(HWND window, UINT id) noexcept {
  Record<T> record;
  start_record<T>(record, window, id);
  return T::notify(NIM_DELETE, &record);
}

}  // namespace

extern "C" {

int WINAPI KX_TaskBarAddIconW(HWND window, UINT id, HICON icon, LPCWSTR tip, UINT callbackMessage) {
  return add_icon<TrayW>(window, id, icon, tip, callbackMessage);
}
int WINAPI KX_TaskBarAddIconA(HWND window, UINT id, HICON icon, LPCSTR tip, UINT callbackMessage) {
  return add_icon<TrayA>(window, id, icon, tip, callbackMessage);
}
int WINAPI KX_TaskBarModifyIconW(HWND window, UINT id, HICON icon, LPCWSTR tip) {
  return modify_icon<TrayW>(window, id, icon, tip);
}
int WINAPI KX_TaskBarModifyIconA(HWND window, UINT id, HICON icon, LPCSTR tip) {
  return modify_icon<TrayA>(window, id, icon, tip);
}
int WINAPI KX_TaskBarModifyTipW(HWND window, UINT id, LPCWSTR tip) { return modify_tip<TrayW>(window, id, tip); }
int WINAPI KX_TaskBarModifyTipA(HWND window, UINT id, LPCSTR tip) { return modify_tip<TrayA>(window, id, tip); }
int WINAPI KX_TaskBarDeleteIconW(HWND window, UINT id) { return delete_icon<TrayW>(window, id); }
int WINAPI KX_TaskBarDeleteIconA(HWND window, UINT id) { return delete_icon<TrayA>(window, id); }

}  // extern "C"
