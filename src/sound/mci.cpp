// MCI devices driven by command strings: open a file under an alias, play it
// from the start with a completion notice, stop it, close it. MCI itself keeps
// the devices; the alias is the only link between the calls.
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>

#include "KX_Brindel.h"
#include "KX_Pellam.h"
#include "kx/results.h"
#include "kx/twins.h"

namespace {

constexpr std::size_t kOpenCommandCapacity = 520;
constexpr std::size_t kCommandCapacity = 512;

struct MciW : kx::Wide {
  static MCIERROR send(const wchar_t* command, HWND callback) noexcept {
    return ::mciSendStringW(command, nullptr, 0, callback);
  }
  static int quote(const wchar_t* source, wchar_t* out, int capacity) noexcept {
    return ::KX_SetDoublequoteW(source, out, capacity);
  }
};

struct MciA : kx::Narrow {
  static MCIERROR send(const char* command, HWND callback) noexcept {
    return ::mciSendStringA(command, nullptr, 0, callback);
  }
  static int quote(const char* source, char* out, int capacity) noexcept {
    return ::KX_SetDoublequoteA(source, out, capacity);
  }
};

template <class T>
int sent(const typename T::Char* command, HWND callback) noexcept {
  return T::send(command, callback) == 0 ? kx::kDone : kx::kNotDone;
}

// A command that does not fit its buffer is refused before anything is sent:
// cut short, "close snd10" would become "close snd1", a different device.
template <class T>
int alias_command(const typename T::Char* pattern, const typename T::Char* alias, HWND callback) noexcept {
  typename T::Char command[kCommandCapacity];
  if (alias == nullptr || !T::format(command, kCommandCapacity, pattern, alias)) return kx::kNotDone;
  return sent<T>(command, callback);
}

template <class T>
int open_device(const typename T::Char* file, const typename T::Char* alias) noexcept {
  using C = typename T::Char;
  // The quoting result is honoured, unlike a bare quote-and-go: a name whose
  // quoted form would not fit 260 characters leaves no usable name behind,
  // and MCI must not be asked to open whatever remained.
  C quoted[kx::kPathCapacity];
  if (file == nullptr || alias == nullptr || !T::quote(file, quoted, kx::kPathCapacity)) return kx::kNotDone;
  C command[kOpenCommandCapacity];
  if (!T::format(command, kOpenCommandCapacity, KX_TEXT(C, "open %s alias %s"),
                 static_cast<const C*>(quoted), alias)) {
    return kx::kNotDone;
  }
  return sent<T>(command, nullptr);
}

template <class T>
int play_device(HWND window, const typename T::Char* alias) noexcept {
  return alias_command<T>(KX_TEXT(typename T::Char, "play %s from 0 Notify"), alias, window);
}

template <class T>
int stop_device(const typename T::Char* alias) noexcept {
  return alias_command<T>(KX_TEXT(typename T::Char, "stop %s"), alias, nullptr);
}

template <class T>
int close_device(const typename T::Char* alias) noexcept {
  return alias_command<T>(KX_TEXT(typename T::Char, "close %s"), alias, nullptr);
}

}  // namespace

extern "C" int WINAPI KX_MCI_OpenDeviceW(LPCWSTR file, LPCWSTR alias) { return open_device<MciW>(file, alias); }
extern "C" int WINAPI KX_MCI_OpenDeviceA(LPCSTR file, LPCSTR alias) { return open_device<MciA>(file, alias); }
extern "C" int WINAPI KX_MCI_PlayDeviceW(HWND window, LPCWSTR alias) { return play_device<MciW>(window, alias); }
extern "C" int WINAPI KX_MCI_PlayDeviceA(HWND window, LPCSTR alias) { return play_device<MciA>(window, alias); }
extern "C" int WINAPI KX_MCI_StopDeviceW(LPCWSTR alias) { return stop_device<MciW>(alias); }
extern "C" int WINAPI KX_MCI_StopDeviceA(LPCSTR alias) { return stop_device<MciA>(alias); }
extern "C" int WINAPI KX_MCI_CloseDeviceW(LPCWSTR alias) { return close_device<MciW>(alias); }
extern "C" int WINAPI KX_MCI_CloseDeviceA(LPCSTR alias) { return close_device<MciA>(alias); }
