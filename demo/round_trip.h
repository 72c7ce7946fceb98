// The pretend product that the demo installs and removes again, and the small
// kit both phases use to print a step, what it did, and the proof read back
// from outside the library.
#pragma once

#include <windows.h>

namespace demo {

inline constexpr wchar_t kVendor[] = L"KX Demo Makers";
inline constexpr wchar_t kProduct[] = L"KX Sample Notes";
inline constexpr wchar_t kVersion[] = L"1.0";
inline constexpr wchar_t kExeName[] = L"kxnotes.exe";
inline constexpr wchar_t kEntry[] = L"KX_Sample_Notes";
inline constexpr wchar_t kExtension[] = L"kxnote";
inline constexpr wchar_t kClass[] = L"KXSampleNotes.Note";

inline constexpr wchar_t kAppPathKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kxnotes.exe";
inline constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KX_Sample_Notes";
inline constexpr wchar_t kSharedDllsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline constexpr wchar_t kVendorKey[] = L"SOFTWARE\\KX Demo Makers";
inline constexpr wchar_t kAppKey[] = L"SOFTWARE\\KX Demo Makers\\KX Sample Notes\\1.0";

// Where the product lives; every folder is composed by the library.
struct Layout {
  wchar_t program[MAX_PATH];         // <Program Files>\KX Demo Makers\KX Sample Notes
  wchar_t program_vendor[MAX_PATH];  // <Program Files>\KX Demo Makers
  wchar_t data[MAX_PATH];            // <AppData>\KX Demo Makers\KX Sample Notes
  wchar_t data_vendor[MAX_PATH];     // <AppData>\KX Demo Makers
  wchar_t menu[MAX_PATH];            // <Start Menu>\Programs\KX Sample Notes
  wchar_t program_slash[MAX_PATH];   // program with its trailing backslash (App Paths)
  wchar_t exe[MAX_PATH];
  wchar_t dll[MAX_PATH];  // the installed KX_Pellam.dll, counted as a shared file
  wchar_t brindel[MAX_PATH];
  wchar_t link[MAX_PATH];
  wchar_t document[MAX_PATH];
  wchar_t log[MAX_PATH];  // what the installed program writes when the shell starts it
};
bool compose(Layout& layout);

// A registry key as this process sees it. Keys that WOW64 redirects for a
// 32-bit process are read through the 64-bit view at their real place, so the
// proof shows where the data landed.
struct Key {
  HKEY root;
  const wchar_t* path;
  bool redirected;
};
bool key_exists(const Key& key);
bool read_string(const Key& key, const wchar_t* value, wchar_t* out, DWORD chars);
bool read_dword(const Key& key, const wchar_t* value, DWORD* out);
const wchar_t* shown(const Key& key);  // "HKLM\SOFTWARE\WOW6432Node\..." where it really is
bool is_wow64();

enum class Entry { missing, folder, file };
Entry entry(const wchar_t* path);

// Starts file (or a name found through App Paths) through the shell with its
// "open" verb, waits for it, and gives its exit code; false with the error.
bool shell_open(const wchar_t* file, const wchar_t* parameters, DWORD* exit_code, DWORD* error);
// The installed program's log, or "" when there is none.
const char* read_log(const wchar_t* path);

void step(const char* title);
void did(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
// Prints the proof with "ok" or "FAIL" in front and counts the failures.
bool proof(bool ok, const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
int failures();

bool same_path(const wchar_t* a, const wchar_t* b);

int install(const Layout& layout);
int uninstall(const Layout& layout);
// The installed program's own modes, started by the shell.
int program_mode(int argc, wchar_t** argv);

}  // namespace demo
