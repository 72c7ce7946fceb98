// Switching ghost windows off, one width per process (built twice): the switch
// lasts for the process's life, so no other test may share the process.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "KX_Pellam.h"
#include "desktop/test_window.h"
#include "support/recorder.h"

namespace {

#if defined(KX_GHOSTING_W)
constexpr auto kDisable = KX_DisableGhostWindowW;
using Load = decltype(LoadLibraryW);
constexpr const char* kLoad = "LoadLibraryW";
const std::wstring kUser32 = L"User32.dll";
#else
constexpr auto kDisable = KX_DisableGhostWindowA;
using Load = decltype(LoadLibraryA);
constexpr const char* kLoad = "LoadLibraryA";
const std::string kUser32 = "User32.dll";
#endif

int g_entry_calls = 0;
void WINAPI counting_entry() { ++g_entry_calls; }

HMODULE pellam() { return GetModuleHandleW(L"KX_Pellam.dll"); }

TEST(Ghosting, TheSystemsOwnEntryIsReachedAndWindowsKeepWorking) {
  const FARPROC entry = GetProcAddress(GetModuleHandleW(L"user32.dll"), "DisableProcessWindowsGhosting");
  ASSERT_NE(entry, nullptr);
  kxtest::Recorder rec(pellam());
  auto& lookup = rec.hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress");
  FARPROC found = nullptr;
  lookup.script = [&](HMODULE m, LPCSTR name) -> std::optional<FARPROC> { return found = lookup.call_real(m, name); };
  kDisable();
  EXPECT_EQ(found, entry);

  kxtest::TestWindow window;
  EXPECT_TRUE(IsWindow(window.get()));
  EXPECT_TRUE(SendMessageTimeoutW(window.get(), WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr));
}

TEST(Ghosting, TheEntryIsLookedUpAnewOnEveryCallAndNeverCalledWhenMissing) {
  kxtest::Recorder rec(pellam());
  auto& load = rec.hook<Load>("kernel32.dll", kLoad);
  auto& lookup = rec.hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress");
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const struct {
    const char* what;
    bool module_loads;
    bool entry_exists;
  } cases[] = {{"found", true, true}, {"found again", true, true}, {"no entry", true, false}, {"no module", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rec.clear();
    g_entry_calls = 0;
    load.script = [&](auto) -> std::optional<HMODULE> {
      if (c.module_loads) return std::nullopt;
      return HMODULE{nullptr};
    };
    lookup.script = [&](HMODULE, LPCSTR) -> std::optional<FARPROC> {
      return c.entry_exists ? reinterpret_cast<FARPROC>(&counting_entry) : nullptr;
    };
    kDisable();
    ASSERT_EQ(load.count(), 1u);
    EXPECT_EQ(std::get<0>(load.calls[0]), kUser32);
    if (c.module_loads) {
      ASSERT_EQ(lookup.count(), 1u);
      EXPECT_EQ(std::get<0>(lookup.calls[0]), user32);
      EXPECT_EQ(std::get<1>(lookup.calls[0]), std::string("DisableProcessWindowsGhosting"));
    } else {
      EXPECT_EQ(lookup.count(), 0u);
    }
    EXPECT_EQ(g_entry_calls, c.entry_exists ? 1 : 0);
  }
}

}  // namespace
