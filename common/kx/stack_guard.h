// The stack protector's canary for a DLL that has no C runtime start-up.
// GCC's -fstack-protector-strong compares __stack_chk_guard on the way out
// of every function with an array or an address-taken local; mingw's libssp
// would supply it, but seeds it from a C runtime constructor (which these
// DLLs never run) and reports through the C runtime's stdio. Each DLL
// defines its own instead (stack_guard.cpp) and seeds it from its entry.
#pragma once

#include <windows.h>

namespace kx {

// Called once, from DLL_PROCESS_ATTACH, before any protected function of the
// module has run; reseeding later would fail every frame already on a stack.
void seed_stack_guard() noexcept;

}  // namespace kx
