// Tour: a document type of our own, opened by the shell through its
// association, then removed again; and the one-call shell-key variant.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "KX_Pellam.h"

namespace {

const wchar_t kExtension[] = L"kxdemo";
const wchar_t kClass[] = L"KX.Demo.Document";

std::wstring classes_default(const wchar_t* key) {
  wchar_t data[MAX_PATH] = {};
  DWORD bytes = sizeof data - sizeof(wchar_t);
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return L"(no key)";
  const LSTATUS status = RegQueryValueExW(k, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes);
  RegCloseKey(k);
  return status == ERROR_SUCCESS ? std::wstring(L"\"") + data + L"\"" : L"(no value)";
}

// Opens the document as a user's double-click would, and waits for the verb.
bool shell_open(const std::wstring& document) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpFile = document.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) return false;
  if (info.hProcess != nullptr) {
    WaitForSingleObject(info.hProcess, 20000);
    CloseHandle(info.hProcess);
  }
  return true;
}

std::string read_file(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(no file)";
  char buffer[512];
  DWORD got = 0;
  if (ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr)) text.assign(buffer, got);
  CloseHandle(file);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

void write_file(const std::wstring& path, const char* text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, lstrlenA(text), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

void show_file_types() {
  std::printf("\n== File-type association\n");
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring document = std::wstring(temp) + L"KX demo sample.kxdemo";
  const std::wstring marker = std::wstring(temp) + L"KX demo opened.txt";
  write_file(document, "A sample KX demo document.\r\n");
  DeleteFileW(marker.c_str());

  int r = KX_InstRegistExtW(kExtension, L"KX demo document", kClass, L"C:\\windows\\system32\\shell32.dll", -4);
  std::printf("KX_InstRegistExtW(L\"kxdemo\", L\"KX demo document\", L\"KX.Demo.Document\", shell32.dll, -4) = %d\n", r);
  std::printf("  HKCR\\.kxdemo                      = %ls\n", classes_default(L".kxdemo").c_str());
  std::printf("  HKCR\\KX.Demo.Document             = %ls\n", classes_default(kClass).c_str());
  std::printf("  HKCR\\KX.Demo.Document\\DefaultIcon = %ls\n",
              classes_default(L"KX.Demo.Document\\DefaultIcon").c_str());

  const std::wstring command = L"cmd /c echo opened %1 > \"" + marker + L"\"";
  r = KX_InstRegistExtActionW(kClass, L"open", L"command", command.c_str());
  std::printf("KX_InstRegistExtActionW(L\"KX.Demo.Document\", L\"open\", L\"command\", <cmd line>) = %d\n", r);
  std::printf("  HKCR\\KX.Demo.Document\\shell\\open\\command = %ls\n",
              classes_default(L"KX.Demo.Document\\shell\\open\\command").c_str());

  wchar_t class_name[MAX_PATH];
  KX_InstQueryClassNameW(L"KX.Demo.Document\\shell\\open\\command", class_name);
  std::printf("KX_InstQueryClassNameW(L\"KX.Demo.Document\\\\shell\\\\open\\\\command\", buf) -> \"%ls\"\n", class_name);

  const bool opened = shell_open(document);
  std::printf("ShellExecuteExW(\"%ls\") = %s\n", document.c_str(), opened ? "TRUE" : "FALSE");
  std::printf("  the open verb wrote: %s\n", read_file(marker).c_str());
  DeleteFileW(marker.c_str());

  r = KX_InstUnregistExtW(kExtension, kClass);
  std::printf("KX_InstUnregistExtW(L\"kxdemo\", L\"KX.Demo.Document\") = %d\n", r);
  std::printf("  HKCR\\.kxdemo = %ls, HKCR\\KX.Demo.Document = %ls\n", classes_default(L".kxdemo").c_str(),
              classes_default(kClass).c_str());
  const bool again = shell_open(document);
  const DWORD error = again ? 0 : GetLastError();
  std::printf("ShellExecuteExW(same document) = %s (error %lu): the type is no longer associated\n",
              again ? "TRUE" : "FALSE", error);

  std::printf("\n== Shell verb keys\n");
  r = KX_InstRegistShellKeyW(L"kxdemo2", L"KX demo notes", L"KX.Demo.Notes\\shell\\open\\command",
                             L"notepad.exe \"%1\"");
  std::printf("KX_InstRegistShellKeyW(L\"kxdemo2\", L\"KX demo notes\", L\"KX.Demo.Notes\\\\shell\\\\open\\\\command\", "
              "L\"notepad.exe \\\"%%1\\\"\") = %d\n", r);
  std::printf("  HKCR\\.kxdemo2 = %ls, HKCR\\KX.Demo.Notes = %ls\n", classes_default(L".kxdemo2").c_str(),
              classes_default(L"KX.Demo.Notes").c_str());
  r = KX_InstUnregistShellKeyW(L"kxdemo2", L"KX.Demo.Notes\\shell\\open\\command");
  std::printf("KX_InstUnregistShellKeyW(L\"kxdemo2\", ...) = %d: .kxdemo2 %ls, the class keeps its tree: %ls\n", r,
              classes_default(L".kxdemo2").c_str(), classes_default(L"KX.Demo.Notes\\shell\\open\\command").c_str());
  r = KX_InstUnregistExtW(L"kxdemo2", L"KX.Demo.Notes");
  std::printf("KX_InstUnregistExtW(L\"kxdemo2\", L\"KX.Demo.Notes\") = %d (1: .kxdemo2 was already gone; the class "
              "tree is removed: %ls)\n", r, classes_default(L"KX.Demo.Notes").c_str());

  r = KX_InstRegistShellKeyW(L"kxdemo3", L"d", L"", L"v");
  std::printf("KX_InstRegistShellKeyW(..., keyPath = L\"\", ...) = %d (refused: would write HKCR's own value)\n", r);
  DeleteFileW(document.c_str());
}
