// What both phases of the round trip share: the product's paths (composed by
// the library) and the outside witnesses (plain registry API, file system,
// shell) that prove each step.
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "KX_Pellam.h"
#include "round_trip.h"

namespace demo {
namespace {

int g_failures = 0;

bool join(wchar_t* out, const wchar_t* folder, const wchar_t* name) {
  const int n = std::swprintf(out, MAX_PATH, L"%ls\\%ls", folder, name);
  return n > 0 && n < MAX_PATH;
}

// The parent folder of path (which has no trailing backslash).
bool parent(wchar_t* out, const wchar_t* path) {
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  if (slash == nullptr || slash - path >= MAX_PATH) return false;
  const size_t n = static_cast<size_t>(slash - path);
  std::wmemcpy(out, path, n);
  out[n] = 0;
  return true;
}

// The key's path as the registry holds it: a 32-bit process's view of
// HKLM\SOFTWARE lies below SOFTWARE\WOW6432Node.
bool real_path(const Key& key, wchar_t* out) {
  const wchar_t prefix[] = L"SOFTWARE\\";
  const size_t skip = sizeof prefix / sizeof prefix[0] - 1;
  int n;
  if (key.redirected && is_wow64() && std::wcsncmp(key.path, prefix, skip) == 0) {
    n = std::swprintf(out, MAX_PATH, L"SOFTWARE\\WOW6432Node\\%ls", key.path + skip);
  } else {
    n = std::swprintf(out, MAX_PATH, L"%ls", key.path);
  }
  return n > 0 && n < MAX_PATH;
}

bool open(const Key& key, HKEY* handle) {
  wchar_t path[MAX_PATH];
  return real_path(key, path) && RegOpenKeyExW(key.root, path, 0, KEY_READ | KEY_WOW64_64KEY, handle) == ERROR_SUCCESS;
}

}  // namespace

bool compose(Layout& l) {
  // The library composes <folder>\<vendor>\<product>; the installer creates them.
  if (!KX_GetProgramPathW(l.program, MAX_PATH, kVendor, kProduct) ||
      !KX_GetAppDataPathW(l.data, MAX_PATH, kVendor, kProduct) ||
      !KX_GetStartProgramPathW(l.menu, MAX_PATH, kProduct, nullptr)) {
    return false;
  }
  const int n = std::swprintf(l.program_slash, MAX_PATH, L"%ls\\", l.program);
  return n > 0 && n < MAX_PATH && parent(l.program_vendor, l.program) && parent(l.data_vendor, l.data) &&
         join(l.exe, l.program, kExeName) && join(l.dll, l.program, L"KX_Pellam.dll") &&
         join(l.brindel, l.program, L"KX_Brindel.dll") && join(l.link, l.menu, L"KX Sample Notes.lnk") &&
         join(l.document, l.data, L"Welcome.kxnote") && join(l.log, l.data, L"opened.log");
}

bool is_wow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

const wchar_t* shown(const Key& key) {
  static wchar_t text[MAX_PATH + 8];
  wchar_t path[MAX_PATH];
  if (!real_path(key, path)) path[0] = 0;
  std::swprintf(text, MAX_PATH + 8, L"%ls\\%ls", key.root == HKEY_CLASSES_ROOT ? L"HKCR" : L"HKLM", path);
  return text;
}

bool key_exists(const Key& key) {
  HKEY handle = nullptr;
  if (!open(key, &handle)) return false;
  RegCloseKey(handle);
  return true;
}

bool read_string(const Key& key, const wchar_t* value, wchar_t* out, DWORD chars) {
  out[0] = 0;
  HKEY handle = nullptr;
  if (!open(key, &handle)) return false;
  DWORD bytes = chars * sizeof(wchar_t);
  const LSTATUS status = RegGetValueW(handle, nullptr, value, RRF_RT_REG_SZ, nullptr, out, &bytes);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) out[0] = 0;
  return status == ERROR_SUCCESS;
}

bool read_dword(const Key& key, const wchar_t* value, DWORD* out) {
  HKEY handle = nullptr;
  if (!open(key, &handle)) return false;
  DWORD bytes = sizeof *out;
  const LSTATUS status = RegGetValueW(handle, nullptr, value, RRF_RT_REG_DWORD, nullptr, out, &bytes);
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

Entry entry(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Entry::missing;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? Entry::folder : Entry::file;
}

bool shell_open(const wchar_t* file, const wchar_t* parameters, DWORD* exit_code, DWORD* error) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_HIDE;
  *exit_code = STILL_ACTIVE;
  *error = 0;
  if (!ShellExecuteExW(&info)) {
    *error = GetLastError();
    return false;
  }
  if (info.hProcess != nullptr) {
    WaitForSingleObject(info.hProcess, 30000);
    GetExitCodeProcess(info.hProcess, exit_code);
    CloseHandle(info.hProcess);
  }
  return true;
}

const char* read_log(const wchar_t* path) {
  static char text[1024];
  text[0] = 0;
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  DWORD got = 0;
  if (!ReadFile(file, text, sizeof text - 1, &got, nullptr)) got = 0;
  text[got] = 0;
  CloseHandle(file);
  while (got > 0 && (text[got - 1] == '\n' || text[got - 1] == '\r')) text[--got] = 0;
  return text;
}

bool same_path(const wchar_t* a, const wchar_t* b) { return lstrcmpiW(a, b) == 0; }

void step(const char* title) { std::printf("-- %s\n", title); }

void did(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::printf("   ");
  std::vprintf(format, args);
  std::printf("\n");
  va_end(args);
}

bool proof(bool ok, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::printf(ok ? "   ok    " : "   FAIL  ");
  std::vprintf(format, args);
  std::printf("\n");
  va_end(args);
  if (!ok) ++g_failures;
  return ok;
}

int failures() { return g_failures; }

}  // namespace demo
