// The 32-bit calling convention, export by export: each one must remove
// exactly its own arguments from the stack, or it corrupts its caller's
// frame. Only a 32-bit process can show this, so the 64-bit build skips it.
//
// Every export is called once with harmless arguments: every argument is the
// address of a zeroed scratch area (an empty string, a writable buffer, an
// invalid handle), so each call refuses or fails early. A watcher cancels any
// dialog that such a call still opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "KX_Brindel.h"
#include "KX_Pellam.h"

namespace {

template <class R, class... A>
constexpr int stack_bytes(R(WINAPI*)(A...)) {
  return (0 + ... + static_cast<int>((sizeof(A) + 3) & ~std::size_t{3}));
}

struct Export {
  const char* name;
  const void* function;
  int bytes;  // what the header's declaration puts on the stack
};

#define KX_EXPORT(name) {#name, reinterpret_cast<const void*>(&name), stack_bytes(&name)},
const Export kExports[] = {
#include "stack_table.inc"
};
#undef KX_EXPORT

#if defined(__i386__)
// Pushes `count` arguments, calls `function`, and returns how many bytes of
// them are still on the stack afterwards: 0 when the callee removed exactly
// its own. edi (callee-saved) keeps the stack pointer from before the pushes.
extern "C" int __cdecl kx_stack_delta(const void* function, const std::uintptr_t* args, int count,
                                      std::uintptr_t* result);
asm(R"(
  .text
  .globl _kx_stack_delta
_kx_stack_delta:
  pushl %ebp
  movl %esp, %ebp
  pushl %esi
  pushl %edi
  pushl %ebx
  movl 12(%ebp), %esi
  movl 16(%ebp), %eax
  movl %esp, %edi
1:
  testl %eax, %eax
  jz 2f
  decl %eax
  pushl (%esi,%eax,4)
  jmp 1b
2:
  call *8(%ebp)
  movl 20(%ebp), %edx
  movl %eax, (%edx)
  movl %edi, %eax
  subl %esp, %eax
  leal -12(%ebp), %esp
  popl %ebx
  popl %edi
  popl %esi
  popl %ebp
  ret
)");
#endif

BOOL CALLBACK cancel_dialog(HWND window, LPARAM) {
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (std::wcscmp(cls, L"#32770") == 0) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

// Cancels every dialog the calling thread opens until stopped.
class DialogCanceller {
 public:
  DialogCanceller() : thread_(GetCurrentThreadId()), worker_([this] { run(); }) {}
  ~DialogCanceller() {
    stop_ = true;
    worker_.join();
  }

 private:
  void run() {
    while (!stop_) {
      EnumThreadWindows(thread_, cancel_dialog, 0);
      Sleep(20);
    }
  }
  DWORD thread_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

TEST(CallingConvention, EveryExportRemovesExactlyItsOwnArguments) {
#if !defined(__i386__)
  GTEST_SKIP() << "only a 32-bit process shows who removes the arguments";
#else
  // The measure itself: a caller-cleans function leaves its 8 bytes behind.
  struct Control {
    static int __cdecl two(int a, int b) { return a + b; }
  };
  const std::uintptr_t two_args[] = {2, 3};
  std::uintptr_t sum = 0;
  ASSERT_EQ(kx_stack_delta(reinterpret_cast<const void*>(&Control::two), two_args, 2, &sum), 8);
  ASSERT_EQ(sum, 5u);

  static std::uint8_t scratch[1 << 16];
  DialogCanceller canceller;
  ASSERT_GE(std::size(kExports), 4u);
  for (const Export& e : kExports) {
    SCOPED_TRACE(e.name);
    std::memset(scratch, 0, sizeof scratch);
    std::uintptr_t args[16];
    const int count = e.bytes / 4;
    ASSERT_LE(count, 16);
    // A sound block is freed or played by address: hand those a null block.
    const bool null_args = std::strncmp(e.name, "KX_SND_", 7) == 0;
    for (std::uintptr_t& a : args) a = null_args ? 0 : reinterpret_cast<std::uintptr_t>(scratch);
    std::uintptr_t result = 0;
    EXPECT_EQ(kx_stack_delta(e.function, args, count, &result), 0) << "bytes left on the caller's stack";
  }
#endif
}

}  // namespace
