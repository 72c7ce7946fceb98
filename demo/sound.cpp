// Tour: a short tone that the demo writes itself, played twice: as an MCI
// device under an alias, with the completion notice it posts to a window, and
// from a block of memory that holds the whole file.
#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "KX_Pellam.h"

namespace {

// Half a second of 440 Hz, 16-bit mono PCM at 22,050 Hz.
bool write_tone(const wchar_t* path) {
  const DWORD rate = 22050, samples = rate / 2, data = samples * 2;
  const DWORD head[] = {0x46464952, 36 + data, 0x45564157, 0x20746d66, 16, 0x00010001,
                        rate, rate * 2, 0x00100002, 0x61746164, data};  // "RIFF" .. "WAVE" "fmt " .. "data"
  std::vector<short> wave(samples);
  for (DWORD i = 0; i < samples; ++i) wave[i] = static_cast<short>(8000 * std::sin(i * 6.2832 * 440 / rate));
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, head, sizeof head, &written, nullptr) &&
                  WriteFile(file, wave.data(), data, &written, nullptr);
  CloseHandle(file);
  return ok;
}

const char* notice_name(WPARAM code) {
  switch (code) {
    case MCI_NOTIFY_SUCCESSFUL: return "MCI_NOTIFY_SUCCESSFUL";
    case MCI_NOTIFY_SUPERSEDED: return "MCI_NOTIFY_SUPERSEDED";
    case MCI_NOTIFY_ABORTED: return "MCI_NOTIFY_ABORTED";
    case MCI_NOTIFY_FAILURE: return "MCI_NOTIFY_FAILURE";
    default: return "?";
  }
}

}  // namespace

void show_sound() {
  std::printf("\n== Sound\n");
  wchar_t path[MAX_PATH];
  const DWORD dir = GetTempPathW(MAX_PATH, path);
  if (dir == 0 || dir + 20 > MAX_PATH || lstrcatW(path, L"KX demo tone.wav") == nullptr || !write_tone(path)) {
    std::printf("cannot write the tone file\n");
    return;
  }
  std::printf("tone file: %ls\n", path);

  // MCI posts its notice to the window's queue; a message-only window is enough.
  HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const DWORD started = GetTickCount();
  const int start = KX_SoundPlayStartW(window, path, L"kxdemo");
  std::printf("KX_SoundPlayStartW(window, tone, \"kxdemo\") = %d\n", start);
  MSG msg = {};
  bool noticed = false;
  while (start == 1 && !noticed && GetTickCount() - started < 5000) {
    noticed = PeekMessageW(&msg, window, MM_MCINOTIFY, MM_MCINOTIFY, PM_REMOVE) != FALSE;
    if (!noticed) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
  }
  if (noticed) {
    std::printf("  window received MM_MCINOTIFY %s after %lu ms (device %ld)\n", notice_name(msg.wParam),
                static_cast<unsigned long>(GetTickCount() - started), static_cast<long>(msg.lParam));
  } else {
    std::printf("  no notice within 5 s\n");
  }
  std::printf("KX_SoundPlayStopW(\"kxdemo\")             = %d\n", KX_SoundPlayStopW(L"kxdemo"));
  DestroyWindow(window);

  LPVOID sound = KX_SND_LoadSoundW(path);
  std::printf("KX_SND_LoadSoundW(tone)                 = %s (%lu bytes)\n", sound != nullptr ? "a block" : "NULL",
              sound != nullptr ? static_cast<unsigned long>(HeapSize(GetProcessHeap(), 0, sound)) : 0ul);
  if (sound != nullptr) {
    std::printf("KX_SND_PlaySound(block, SND_SYNC)       = %d\n", KX_SND_PlaySound(sound, SND_SYNC));
    KX_SND_DeleteSoundMemory(sound);
    std::printf("KX_SND_DeleteSoundMemory(block)         stopped and freed it\n");
  }
  DeleteFileW(path);
}
