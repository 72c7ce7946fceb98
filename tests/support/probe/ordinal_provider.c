/* Exports one function by ordinal only, so that a module linking against it
 * imports it by ordinal: the case the recorder must match without a name. */
#include <windows.h>

int WINAPI kx_ordinal_value(void) { return 7; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
