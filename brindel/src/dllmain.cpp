#include <windows.h>

// Like KX_Pellam, the string helpers keep no state: nothing to set up or tear down.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
