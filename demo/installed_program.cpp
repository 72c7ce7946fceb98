// What the installed copy of the demo (kxnotes.exe) does when the shell
// starts it: it leaves one line in the product's data folder, the witness
// that the shell really ran the registered command.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "round_trip.h"

namespace demo {

int program_mode(int argc, wchar_t** argv) {
  Layout layout;
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (!compose(layout) || n == 0 || n >= MAX_PATH) return 3;
  wchar_t line[2 * MAX_PATH + 32];
  const bool opened = lstrcmpW(argv[1], L"open") == 0;
  if (opened && argc < 3) return 2;
  const int length = opened ? std::swprintf(line, sizeof line / sizeof line[0], L"%ls opened %ls\r\n", self, argv[2])
                            : std::swprintf(line, sizeof line / sizeof line[0], L"started as %ls\r\n", self);
  if (length <= 0) return 3;
  char text[4 * sizeof line / sizeof line[0]];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, length, text, sizeof text, nullptr, nullptr);
  const HANDLE log = CreateFileW(layout.log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (bytes <= 0 || log == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const BOOL ok = WriteFile(log, text, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(log);
  return ok && written == static_cast<DWORD>(bytes) ? 0 : 3;
}

}  // namespace demo
