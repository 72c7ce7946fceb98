// Tour: the command-line front end, run the way a batch installer runs it,
// with its output and exit code.
#include <windows.h>

#include <cstdio>

namespace {

void run(const wchar_t* arguments) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  wchar_t* slash = wcsrchr(exe, L'\\');
  if (slash == nullptr || (slash - exe) + 12 >= MAX_PATH) return;
  wcscpy(slash + 1, L"kxcall.exe");
  wchar_t line[1024];
  if (_snwprintf(line, 1024, L"\"%ls\" %ls", exe, arguments) < 0) return;
  line[1023] = 0;
  std::printf("> kxcall %ls\n", arguments);
  std::fflush(stdout);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("  (kxcall.exe not started: error %lu)\n", GetLastError());
    return;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::printf("  exit code %lu\n", code);
}

}  // namespace

void show_kxcall() {
  std::printf("\n== Command-line front end (kxcall.exe)\n");
  run(L"--help KX_InstRegistAppPathW");
  run(L"KX_InstRegistAppPathW kxdemo-cli.exe \"C:\\Apps\\KX Demo\\\\\"");
  run(L"KX_InstQueryAppPathW kxdemo-cli.exe");
  run(L"KX_InstDeleteAppPathW kxdemo-cli.exe");
  run(L"KX_InstQueryAppPathW kxdemo-cli.exe");
  run(L"KX_InstCountUpSharedDLLsW C:\\kxdemo.dll extra");
}
