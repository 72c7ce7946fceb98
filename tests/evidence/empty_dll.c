/* Nothing but an entry point: the load cycles' baseline, built like the
   library (no C runtime start-up code), so that what its cycles leave is what
   the loader itself keeps. */
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE i, DWORD r, LPVOID p) { return (void)i, (void)r, (void)p, TRUE; }
