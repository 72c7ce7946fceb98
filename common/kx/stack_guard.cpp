#include "kx/stack_guard.h"

#include <ntsecapi.h>

// The value until the entry point seeds it: a module that is somehow entered
// before then still gets a canary, only not a secret one.
extern "C" {
#ifdef _WIN64
uintptr_t __stack_chk_guard = 0x00002B992DDFA232ull;
#else
uintptr_t __stack_chk_guard = 0xBB40E64Eu;
#endif

// A smashed frame must not return through its overwritten return address,
// and no handler of the process may get to run either: fail fast where the
// system can (Windows 8 and later), else end the process at once, with the
// status Windows' own stack checks report.
[[noreturn]] __attribute__((no_stack_protector)) void __stack_chk_fail() {
  if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
  }
  ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_unreachable();
}
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

__attribute__((no_stack_protector)) void seed_stack_guard() noexcept {
  uintptr_t seed = 0;
  if (!RtlGenRandom(&seed, sizeof seed) || seed == 0) {
    // Without the system's generator, what differs from load to load: the
    // time, the counter, the process and thread, and where the stack lies.
    FILETIME time;
    ::GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    seed = (static_cast<uintptr_t>(time.dwHighDateTime) << 16) ^ time.dwLowDateTime ^
           static_cast<uintptr_t>(counter.QuadPart) ^ ::GetCurrentProcessId() ^
           (static_cast<uintptr_t>(::GetCurrentThreadId()) << 8) ^ reinterpret_cast<uintptr_t>(&seed);
  }
  __stack_chk_guard = seed;
}

}  // namespace

// Seeded once, on the process attach, before any protected function of the
// module has run; a later reseeding would fail every frame already on a
// stack. Unprotected itself: its frame is the one that sees the canary change.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI KxDllEntry(HINSTANCE instance, DWORD reason,
                                                                      LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) seed_stack_guard();
  return DllMain(instance, reason, reserved);
}
