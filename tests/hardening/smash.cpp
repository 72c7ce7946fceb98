// A DLL built as the shipped ones are (kx_configure_dll: their entry point
// and canary, their flags), holding the one thing they must never hold: a
// copy that can run past its buffer.
#include <windows.h>

#include <cstring>

extern "C" uintptr_t __stack_chk_guard;

// Copies `length` bytes of `text` into an 8-byte local array and answers the
// first byte; with a length past 8 it writes over the frame's canary.
extern "C" int WINAPI KX_CopyToSmallBuffer(const char* text, int length) {
  char buffer[8];
  std::memcpy(buffer, text, static_cast<size_t>(length));
  volatile char first = buffer[0];
  return first;
}

// The canary as this load of the module seeded it.
extern "C" UINT_PTR WINAPI KX_StackGuardValue(void) { return __stack_chk_guard; }

// The same DllMain as the shipped DLLs': the entry point before it seeds the canary.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
