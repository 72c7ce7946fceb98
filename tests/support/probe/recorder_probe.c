/* A module whose imports the recorder's own tests patch. Each export makes
 * exactly the platform calls its name says, so a test knows what to expect
 * whatever the library under test happens to import. */
#include <windows.h>

int WINAPI kx_ordinal_value(void);

HMODULE WINAPI probe_module(const wchar_t* name) { return GetModuleHandleW(name); }

FARPROC WINAPI probe_lookup(HMODULE module, const char* name) { return GetProcAddress(module, name); }

WORD WINAPI probe_architecture(void) {
  SYSTEM_INFO info;
  ZeroMemory(&info, sizeof info);
  GetSystemInfo(&info);
  return info.wProcessorArchitecture;
}

int WINAPI probe_ordinal(void) { return kx_ordinal_value(); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
