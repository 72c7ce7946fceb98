// The stack protector's canary for a DLL that has no C runtime start-up.
// GCC's -fstack-protector-strong compares __stack_chk_guard on the way out
// of every function with an array or an address-taken local; mingw's libssp
// would supply it, but seeds it from a C runtime constructor (which these
// DLLs never run) and reports through the C runtime's stdio. Each DLL
// links its own instead (stack_guard.cpp), with the entry point that seeds
// it: KxDllEntry, which the loader calls in DllMain's place and which then
// hands every notification to DllMain, as a C runtime's DLL start-up would.
#pragma once

#include <windows.h>

extern "C" BOOL WINAPI KxDllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved);
