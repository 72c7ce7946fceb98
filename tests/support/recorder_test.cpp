#include "support/recorder.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>

#include "KX_Pellam.h"
#include "probe/recorder_probe.h"

namespace {

using kxtest::Recorder;

HMODULE probe() { return ::GetModuleHandleW(L"kx_recorder_probe.dll"); }
HMODULE kernel32() { return ::GetModuleHandleW(L"kernel32.dll"); }

// A value no real GetModuleHandleW returns, to tell a scripted answer apart.
HMODULE fake_module() { return reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x5a5a0000)); }

void** import_slot(HMODULE module, const char* dll, const char* name) {
  const auto found = kxtest::detail::find_imports(module, dll, name, 0);
  return found.size() == 1 ? found.front().slot : nullptr;
}

TEST(RecorderByName, ForwardsToTheRealFunctionAndRecordsEachCall) {
  Recorder rec(probe());
  auto& get_module = rec.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
  ASSERT_TRUE(get_module.patched());

  EXPECT_EQ(probe_module(L"kernel32.dll"), kernel32());
  EXPECT_EQ(probe_module(nullptr), ::GetModuleHandleW(nullptr));

  ASSERT_EQ(get_module.count(), 2u);
  EXPECT_EQ(std::get<0>(get_module.calls[0]), std::wstring(L"kernel32.dll"));
  EXPECT_EQ(std::get<0>(get_module.calls[1]), std::nullopt);
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"GetModuleHandleW", "GetModuleHandleW"}));
}

TEST(RecorderByName, CopiesStringArgumentsAtCallTime) {
  Recorder rec(probe());
  auto& get_module = rec.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
  auto& lookup = rec.hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress");

  wchar_t module_name[] = L"kernel32.dll";
  char function_name[] = "GetTickCount";
  probe_module(module_name);
  probe_lookup(kernel32(), function_name);
  // The caller reuses its buffers; the records must keep what was passed.
  module_name[0] = L'X';
  function_name[0] = 'X';

  ASSERT_EQ(get_module.count(), 1u);
  ASSERT_EQ(lookup.count(), 1u);
  EXPECT_EQ(std::get<0>(get_module.calls[0]), std::wstring(L"kernel32.dll"));
  EXPECT_EQ(std::get<0>(lookup.calls[0]), kernel32());
  EXPECT_EQ(std::get<1>(lookup.calls[0]), std::string("GetTickCount"));
}

TEST(RecorderByName, ScriptAnswersInsteadOfTheRealFunctionOrLetsItThrough) {
  Recorder rec(probe());
  auto& get_module = rec.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
  int scripted = 0;
  get_module.script = [&](LPCWSTR name) -> std::optional<HMODULE> {
    ++scripted;
    if (name != nullptr && ::lstrcmpiW(name, L"kernel32.dll") == 0) return fake_module();
    return std::nullopt;
  };

  EXPECT_EQ(probe_module(L"kernel32.dll"), fake_module());
  EXPECT_EQ(probe_module(nullptr), ::GetModuleHandleW(nullptr));
  EXPECT_EQ(scripted, 2);
  EXPECT_EQ(get_module.count(), 2u);
  EXPECT_EQ(get_module.call_real(L"kernel32.dll"), kernel32());
}

TEST(RecorderByName, VoidFunctionScriptHandlesTheCallWhenItReturnsTrue) {
  Recorder rec(probe());
  auto& info = rec.hook<decltype(GetSystemInfo)>("kernel32.dll", "GetSystemInfo");
  WORD seen_before_script = 0xFFFF;
  info.observe = [&](LPSYSTEM_INFO record) { seen_before_script = record->wProcessorArchitecture; };
  bool handle = true;
  info.script = [&](LPSYSTEM_INFO record) {
    if (handle) record->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM;
    return handle;
  };

  EXPECT_EQ(probe_architecture(), PROCESSOR_ARCHITECTURE_ARM);
  EXPECT_EQ(seen_before_script, 0) << "observe runs on the caller's record before the script";
  handle = false;
  // A 32-bit process under WoW64 is told it runs on an x86 processor.
  EXPECT_EQ(probe_architecture(), sizeof(void*) == 8 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL);
  EXPECT_EQ(info.count(), 2u);
}

TEST(RecorderByName, OrderInterleavesHooksAndClearForgetsEverything) {
  Recorder rec(probe());
  auto& get_module = rec.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
  auto& lookup = rec.hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress");
  auto& info = rec.hook<decltype(GetSystemInfo)>("kernel32.dll", "GetSystemInfo");

  probe_lookup(kernel32(), "GetTickCount");
  probe_architecture();
  probe_module(nullptr);
  probe_lookup(kernel32(), "Sleep");
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"GetProcAddress", "GetSystemInfo", "GetModuleHandleW",
                                                   "GetProcAddress"}));

  rec.clear();
  EXPECT_TRUE(rec.order().empty());
  EXPECT_EQ(get_module.count() + lookup.count() + info.count(), 0u);
  probe_module(nullptr);
  EXPECT_EQ(rec.order(), std::vector<std::string>{"GetModuleHandleW"});
  EXPECT_EQ(get_module.count(), 1u);
}

TEST(RecorderByName, RecordsEveryCallFromConcurrentThreads) {
  Recorder rec(probe());
  auto& get_module = rec.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kCallsEach; ++i) probe_module(L"kernel32.dll");
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(get_module.count(), static_cast<size_t>(kThreads * kCallsEach));
  EXPECT_EQ(rec.order().size(), static_cast<size_t>(kThreads * kCallsEach));
}

TEST(RecorderMatching, DllNameIgnoresCaseAndMayOmitTheExtensionOrBeLeftOut) {
  Recorder rec(probe());
  EXPECT_TRUE(rec.hook<decltype(GetModuleHandleW)>("KeRnEl32", "GetModuleHandleW").patched());
  EXPECT_TRUE(rec.hook<decltype(GetProcAddress)>(nullptr, "GetProcAddress").patched());
  EXPECT_TRUE(rec.hook<decltype(GetSystemInfo)>("KERNEL32.DLL", "GetSystemInfo").patched());
  probe_module(nullptr);
  probe_lookup(kernel32(), "Sleep");
  probe_architecture();
  EXPECT_EQ(rec.order().size(), 3u);
}

TEST(RecorderMatching, MissingImportFailsTheTestAndSaysWhereTheNameIsImported) {
  Recorder rec(probe());
  kxtest::Hook<decltype(GetModuleHandleW)>* wrong_dll = nullptr;
  EXPECT_NONFATAL_FAILURE(wrong_dll = &rec.hook<decltype(GetModuleHandleW)>("user32.dll", "GetModuleHandleW"),
                          "imports it from KERNEL32.dll");
  ASSERT_NE(wrong_dll, nullptr);
  EXPECT_FALSE(wrong_dll->patched());
  EXPECT_NONFATAL_FAILURE(rec.hook<decltype(GetTickCount)>(nullptr, "GetTickCount"),
                          "does not import GetTickCount");
  // An import by ordinal has no name to match.
  EXPECT_NONFATAL_FAILURE(rec.hook<int WINAPI()>("kx_ordinal_provider.dll", "kx_ordinal_value"),
                          "does not import kx_ordinal_value");
  // The failed hooks leave the module's calls alone.
  EXPECT_EQ(probe_module(L"kernel32.dll"), kernel32());
  EXPECT_TRUE(rec.order().empty());
}

TEST(RecorderByOrdinal, PatchesTheImportWithThatOrdinalOnly) {
  ASSERT_EQ(probe_ordinal(), 7);
  Recorder rec(probe());
  EXPECT_NONFATAL_FAILURE(rec.hook<int WINAPI()>("kx_ordinal_provider.dll", 8, "other"), "ordinal 8");
  auto& value = rec.hook<int WINAPI()>("kx_ordinal_provider", 7, "kx_ordinal_value#7");
  ASSERT_TRUE(value.patched());

  EXPECT_EQ(probe_ordinal(), 7) << "forwarded to the real function";
  value.script = []() -> std::optional<int> { return 42; };
  EXPECT_EQ(probe_ordinal(), 42);
  EXPECT_EQ(value.call_real(), 7);
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"kx_ordinal_value#7", "kx_ordinal_value#7"}));
}

TEST(RecorderRestore, SlotsHoldTheirOriginalsAgainAfterTheRecorderDies) {
  void** by_name = import_slot(probe(), "kernel32.dll", "GetModuleHandleW");
  const auto ordinal = kxtest::detail::find_imports(probe(), "kx_ordinal_provider.dll", nullptr, 7);
  ASSERT_NE(by_name, nullptr);
  ASSERT_EQ(ordinal.size(), 1u);
  void* const name_original = *by_name;
  void* const ordinal_original = *ordinal.front().slot;
  {
    Recorder rec(probe());
    auto& get_module = rec.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
    get_module.script = [](LPCWSTR) -> std::optional<HMODULE> { return fake_module(); };
    rec.hook<int WINAPI()>("kx_ordinal_provider.dll", 7, "value").script = []() -> std::optional<int> {
      return 42;
    };
    EXPECT_NE(*by_name, name_original);
    EXPECT_EQ(probe_module(nullptr), fake_module());
    EXPECT_EQ(probe_ordinal(), 42);
  }
  EXPECT_EQ(*by_name, name_original);
  EXPECT_EQ(*ordinal.front().slot, ordinal_original);
  EXPECT_EQ(probe_module(L"kernel32.dll"), kernel32());
  EXPECT_EQ(probe_ordinal(), 7);
}

TEST(RecorderRestore, NestedRecordersUnwindToTheOuterHook) {
  void** slot = import_slot(probe(), "kernel32.dll", "GetModuleHandleW");
  ASSERT_NE(slot, nullptr);
  void* const original = *slot;
  Recorder outer(probe());
  auto& outer_hook = outer.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
  {
    Recorder inner(probe());
    auto& inner_hook = inner.hook<decltype(GetModuleHandleW)>("kernel32.dll", "GetModuleHandleW");
    inner_hook.script = [](LPCWSTR) -> std::optional<HMODULE> { return fake_module(); };
    EXPECT_EQ(probe_module(nullptr), fake_module());
    EXPECT_EQ(inner_hook.count(), 1u);
    EXPECT_EQ(outer_hook.count(), 0u) << "the inner script answered; the outer hook was never reached";
  }
  EXPECT_EQ(probe_module(nullptr), ::GetModuleHandleW(nullptr));
  EXPECT_EQ(outer_hook.count(), 1u);
  EXPECT_NE(*slot, original);
}

// The library under test imports its platform calls the same way: one check
// that a hook on KX_Pellam.dll reaches them.
TEST(RecorderOnLibrary, ScriptedVersionRecordReachesTheExport) {
  Recorder rec(::GetModuleHandleW(L"KX_Pellam.dll"));
  auto& version = rec.hook<decltype(GetVersionExW)>(nullptr, "GetVersionExW");
  ASSERT_TRUE(version.patched());
  DWORD size_seen = 0;
  version.observe = [&](LPOSVERSIONINFOW record) { size_seen = record->dwOSVersionInfoSize; };
  // Wine never reports a domain controller.
  version.script = [](LPOSVERSIONINFOW record) -> std::optional<BOOL> {
    reinterpret_cast<OSVERSIONINFOEXW*>(record)->wProductType = VER_NT_DOMAIN_CONTROLLER;
    return TRUE;
  };
  EXPECT_EQ(KX_QueryProductTypeW(), VER_NT_DOMAIN_CONTROLLER);
  EXPECT_GE(version.count(), 1u);
  EXPECT_EQ(size_seen, sizeof(OSVERSIONINFOEXW));
}

}  // namespace
