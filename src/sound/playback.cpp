// Sounds played two ways: a sound file through MCI, as a short sequence of
// this library's own MCI exports, and a sound read whole into a block of the
// process heap that the caller holds until it hands it back.
#include <windows.h>
#include <mmsystem.h>

#include "KX_Pellam.h"
#include "frame/owners.h"
#include "kx/results.h"
#include "kx/twins.h"

namespace {

// The MCI steps are the public exports, called as any caller would.
struct SoundW : kx::Wide {
  static int open(const wchar_t* file, const wchar_t* alias) noexcept { return ::KX_MCI_OpenDeviceW(file, alias); }
  static int play(HWND window, const wchar_t* alias) noexcept { return ::KX_MCI_PlayDeviceW(window, alias); }
  static int stop(const wchar_t* alias) noexcept { return ::KX_MCI_StopDeviceW(alias); }
  static int close(const wchar_t* alias) noexcept { return ::KX_MCI_CloseDeviceW(alias); }
  static HANDLE open_file(const wchar_t* name) noexcept {
    return ::CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

struct SoundA : kx::Narrow {
  static int open(const char* file, const char* alias) noexcept { return ::KX_MCI_OpenDeviceA(file, alias); }
  static int play(HWND window, const char* alias) noexcept { return ::KX_MCI_PlayDeviceA(window, alias); }
  static int stop(const char* alias) noexcept { return ::KX_MCI_StopDeviceA(alias); }
  static int close(const char* alias) noexcept { return ::KX_MCI_CloseDeviceA(alias); }
  static HANDLE open_file(const char* name) noexcept {
    return ::CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

// A device whose play step fails stays open under the alias; the caller
// closes it with the stop call, as after a successful start.
template <class T>
int start_file(HWND window, const typename T::Char* file, const typename T::Char* alias) noexcept {
  if (T::open(file, alias) == 0) return kx::kNotDone;
  return T::play(window, alias) != 0 ? kx::kDone : kx::kNotDone;
}

template <class T>
int stop_file(const typename T::Char* alias) noexcept {
  T::stop(alias);
  T::close(alias);
  return kx::kDone;
}

template <class T>
void* load_sound(const typename T::Char* name) noexcept {
  if (name == nullptr) return nullptr;
  kx::Handle file(T::open_file(name));
  if (!file) return nullptr;
  // A block sized by the low 32 bits alone would hold a cut copy of a file of
  // 4 GB or more, and the failure value would ask for a 4 GB block; neither
  // can be a playable sound, so both are refused.
  DWORD high = 0;
  const DWORD size = ::GetFileSize(file.get(), &high);
  if (high != 0 || size == INVALID_FILE_SIZE) return nullptr;
  kx::HeapBlock block(size, HEAP_ZERO_MEMORY);
  if (!block) return nullptr;
  // A short read keeps the zeroed tail; only a failed read loses the block.
  DWORD read = 0;
  if (!::ReadFile(file.get(), block.get(), size, &read, nullptr)) return nullptr;
  return block.release();
}

}  // namespace

extern "C" int WINAPI KX_SoundPlayStartW(HWND window, LPCWSTR file, LPCWSTR alias) {
  return start_file<SoundW>(window, file, alias);
}
extern "C" int WINAPI KX_SoundPlayStartA(HWND window, LPCSTR file, LPCSTR alias) {
  return start_file<SoundA>(window, file, alias);
}
extern "C" int WINAPI KX_SoundPlayStopW(LPCWSTR alias) { return stop_file<SoundW>(alias); }
extern "C" int WINAPI KX_SoundPlayStopA(LPCSTR alias) { return stop_file<SoundA>(alias); }

extern "C" LPVOID WINAPI KX_SND_LoadSoundW(LPCWSTR file) { return load_sound<SoundW>(file); }
extern "C" LPVOID WINAPI KX_SND_LoadSoundA(LPCSTR file) { return load_sound<SoundA>(file); }

// The block is an in-memory image for PlaySoundW; every other flag is the
// caller's, including whether the call waits.
extern "C" int WINAPI KX_SND_PlaySound(LPCVOID sound, DWORD flags) {
  return ::PlaySoundW(static_cast<LPCWSTR>(sound), nullptr, flags | SND_MEMORY);
}

extern "C" int WINAPI KX_SND_StopSound(void) { return ::PlaySoundA(nullptr, nullptr, 0); }

// A sound started with SND_ASYNC goes on reading the block: playback is
// stopped before the block goes back to the heap.
extern "C" void WINAPI KX_SND_DeleteSoundMemory(LPVOID sound) {
  ::PlaySoundA(nullptr, nullptr, 0);
  if (sound != nullptr) ::HeapFree(::GetProcessHeap(), 0, sound);
}
