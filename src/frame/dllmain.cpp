#include <windows.h>

#include "kx/stack_guard.h"

// Loading the library starts nothing: every export is self-contained, so the
// entry point only agrees to each notification, after giving the stack
// protector its canary. It runs before any other code of the module and is
// itself unprotected: its own frame is the one that sees the canary change.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) kx::seed_stack_guard();
  return TRUE;
}
