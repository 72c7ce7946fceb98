#include <windows.h>

// Loading the library must start nothing: every export is self-contained, so
// the entry point only agrees to each notification.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
