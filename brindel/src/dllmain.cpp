#include <windows.h>

#include "kx/stack_guard.h"

// Like KX_Pellam, the string helpers keep no state: the entry point only
// seeds the stack protector's canary, before any protected function runs.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) kx::seed_stack_guard();
  return TRUE;
}
