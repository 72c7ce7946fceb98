/* A DLL that only carries the version resource beside it. */
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE i, DWORD r, LPVOID p) { return (void)i, (void)r, (void)p, TRUE; }
