// Tour: the reference count an installer keeps for a shared file, from its
// first count-up to its removal, with what the registry holds after each step
// (read back with the plain registry API, not through the library).
#include <windows.h>

#include <cstdio>

#include "KX_Pellam.h"

namespace {

const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t kSample[] = L"C:\\Program Files\\KX Demo\\Common\\kxsample.dll";

void print_stored() {
  DWORD type = 0, value = 0, bytes = sizeof value;
  const LSTATUS st = RegGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, kSample, RRF_RT_ANY, &type, &value, &bytes);
  if (st == ERROR_FILE_NOT_FOUND) {
    std::printf("      registry: no value\n");
  } else if (st != ERROR_SUCCESS) {
    std::printf("      registry: unreadable (error %ld)\n", static_cast<long>(st));
  } else if (type == REG_DWORD && bytes == sizeof value) {
    std::printf("      registry: REG_DWORD %lu\n", static_cast<unsigned long>(value));
  } else {
    std::printf("      registry: type %lu, %lu bytes\n", static_cast<unsigned long>(type),
                static_cast<unsigned long>(bytes));
  }
}

void step(const char* call, int result, const char* meaning) {
  std::printf("  %-40s = %d  (%s)\n", call, result, meaning);
  print_stored();
}

}  // namespace

void show_shared_dlls() {
  std::printf("\n== Shared DLL reference counts\n");
  std::printf("HKLM\\%ls\n  value \"%ls\"\n", kSharedDlls, kSample);
  step("KX_InstGetCountSharedDLLsW(file)", KX_InstGetCountSharedDLLsW(kSample), "-1: no count yet");
  step("KX_InstCountUpSharedDLLsW(file)", KX_InstCountUpSharedDLLsW(kSample), "first product installs it");
  step("KX_InstCountUpSharedDLLsW(file)", KX_InstCountUpSharedDLLsW(kSample), "a second product");
  step("KX_InstGetCountSharedDLLsW(file)", KX_InstGetCountSharedDLLsW(kSample), "the count");
  step("KX_InstCountDownSharedDLLsW(file)", KX_InstCountDownSharedDLLsW(kSample), "one product uninstalled");
  step("KX_InstDeleteSharedDLLsW(file)", KX_InstDeleteSharedDLLsW(kSample), "count removed outright");
  step("KX_InstCountDownSharedDLLsW(file)", KX_InstCountDownSharedDLLsW(kSample), "2: nothing left to lower");
  step("KX_InstCountUpSharedDLLsW(\"\")", KX_InstCountUpSharedDLLsW(L""), "1: an empty name is refused");
}
