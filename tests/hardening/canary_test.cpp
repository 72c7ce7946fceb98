// The stack protector as the shipped DLLs carry it, shown on kx_smash.dll,
// which kx_configure_dll builds and seeds exactly like them: the canary is
// a fresh secret at every load, and a frame whose canary was overwritten
// ends the process instead of returning.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using CopyFn = int(WINAPI*)(const char*, int);
using GuardFn = UINT_PTR(WINAPI*)();

// The value the canary holds before the entry point seeds it.
#ifdef _WIN64
constexpr UINT_PTR kUnseeded = 0x00002B992DDFA232ull;
#else
constexpr UINT_PTR kUnseeded = 0xBB40E64Eu;
#endif

// The child: loads the DLL and copies `length` bytes into its 8-byte buffer.
// Exit 0 means the call came back.
int child(int length) {
  HMODULE dll = LoadLibraryW(L"kx_smash.dll");
  auto copy = dll != nullptr ? reinterpret_cast<CopyFn>(reinterpret_cast<void*>(GetProcAddress(dll, "KX_CopyToSmallBuffer"))) : nullptr;
  if (copy == nullptr) return 3;
  static const char text[64] = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
  return copy(text, length) == 'A' ? 0 : 4;
}

DWORD run_child(int length) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --copy " + std::to_wstring(length);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST(StackProtector, OverwrittenCanaryEndsTheProcess) {
  // 8 bytes fit and return; 40 reach the canary (and the return address).
  EXPECT_EQ(run_child(8), 0u);
  EXPECT_EQ(run_child(40), STATUS_STACK_BUFFER_OVERRUN);
}

TEST(StackProtector, CanaryIsSeededAtEveryLoad) {
  UINT_PTR seen[2] = {};
  for (UINT_PTR& value : seen) {
    HMODULE dll = LoadLibraryW(L"kx_smash.dll");
    ASSERT_NE(dll, nullptr);
    auto guard = reinterpret_cast<GuardFn>(reinterpret_cast<void*>(GetProcAddress(dll, "KX_StackGuardValue")));
    ASSERT_NE(guard, nullptr);
    value = guard();
    FreeLibrary(dll);
    ASSERT_EQ(GetModuleHandleW(L"kx_smash.dll"), nullptr) << "not unloaded: the second load would not reseed";
  }
  EXPECT_NE(seen[0], kUnseeded);
  EXPECT_NE(seen[1], kUnseeded);
  EXPECT_NE(seen[0], seen[1]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--copy") return child(std::stoi(argv[2]));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
