// Many callers at once: eight threads making mixed calls on names of their
// own, every answer checked against what the same call gives alone; several
// processes counting one shared file's name together; and the library
// loaded, used and unloaded over and over from several threads, leaving no
// handle, heap block or loaded module behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KX_Pellam.h"
#include "support/recorder.h"
#include "support/width.h"

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 2000;
const wchar_t kFolder[] = L"C:\\KXTest\\Stress";

// What one call should answer, learnt from the same call made alone.
struct Reference {
  std::wstring app_data, font, product;
};

template <class C>
using Text = std::basic_string<C>;

// One step of a thread's round: one export call and whether its answer is right.
// Slow steps (the shell's change notices, shortcut files) come one in every
// kSlowEvery calls, so that the run stays short and most calls overlap with
// registry work of the other threads.
struct Step {
  const char* name;
  std::function<bool()> call;
  bool slow = false;
};
constexpr int kSlowEvery = 40;

// One thread's names in one width, and the answers it expects.
template <class C>
struct Names {
  Text<C> vendor, key, exe, dir, shared, ext, cls, open, command, lnk, target, app_data, font, product, system_file;
};

template <class C>
void add_steps(std::vector<Step>& steps, int thread, const Reference& ref) {
  const auto t = [thread](std::string s) {
    for (std::size_t at; (at = s.find('#')) != std::string::npos;) {
      s.replace(at, 1, std::to_string(thread) + kxtest::width_suffix<C>());
    }
    return kxtest::text<C>(s);
  };
  const auto k = [](auto wide, auto narrow) { return kxtest::pick<C>(wide, narrow); };
  const auto n = std::make_shared<const Names<C>>(Names<C>{
      t("KXStress"), t("KXStress#"), t("KXStress#.exe"), t("C:\\KXStress#"), t("C:\\KXTest\\Stress\\s#.dll"),
      t("kxst#"), t("KXStress.#"), t("open"), t("command"), t("C:\\KXTest\\Stress\\l#.lnk"),
      t("C:\\KXTest\\Stress\\t#.txt"),
      kxtest::text<C>(ref.app_data) + t("\\KXStress#"), kxtest::text<C>(ref.font), kxtest::text<C>(ref.product),
      t("C:\\windows\\system32\\shell32.dll")});
  // Every step keeps the names alive, also those that only hold pointers into them.
  const auto add = [&](const char* name, std::function<bool()> call, bool slow = false) {
    steps.push_back({name, [n, call = std::move(call)] { return call(); }, slow});
  };
  add("register App Paths",
      [=] { return k(KX_InstRegistAppPathW, KX_InstRegistAppPathA)(n->exe.c_str(), n->dir.c_str()) == 0; });
  add("query App Paths", [=] {
    C out[MAX_PATH];
    return k(KX_InstQueryAppPathW, KX_InstQueryAppPathA)(n->exe.c_str(), out) == 0 && n->dir == out;
  });
  add("delete App Paths", [=] { return k(KX_InstDeleteAppPathW, KX_InstDeleteAppPathA)(n->exe.c_str()) == 0; });
  const C* const key = n->key.c_str();
  // One vendor for all threads: each removal deletes the vendor key when it
  // looks empty, while other threads are creating their keys below it.
  const C* const vendor = n->vendor.c_str();
  add("register app key", [=] { return k(KX_InstRegistAppW, KX_InstRegistAppA)(vendor, key, key) == 0; });
  add("delete app key", [=] { return k(KX_InstDeleteAppW, KX_InstDeleteAppA)(vendor, key, key) == 0; });
  add("register uninstall entry", [=] {
    return k(KX_InstRegistUninstallerW, KX_InstRegistUninstallerA)(key, key, n->exe.c_str(), nullptr, nullptr,
                                                                   nullptr, nullptr, nullptr) == 0;
  });
  add("delete uninstall entry", [=] { return k(KX_InstDeleteUninstallerW, KX_InstDeleteUninstallerA)(key) == 0; });
  const C* const shared = n->shared.c_str();
  const auto get = k(KX_InstGetCountSharedDLLsW, KX_InstGetCountSharedDLLsA);
  for (int up = 0; up < 2; ++up) {
    add("count up", [=] { return k(KX_InstCountUpSharedDLLsW, KX_InstCountUpSharedDLLsA)(shared) == 0; });
  }
  add("get count of 2", [=] { return get(shared) == 2; });
  add("count down", [=] { return k(KX_InstCountDownSharedDLLsW, KX_InstCountDownSharedDLLsA)(shared) == 0; });
  add("get count of 1", [=] { return get(shared) == 1; });
  add("delete count", [=] { return k(KX_InstDeleteSharedDLLsW, KX_InstDeleteSharedDLLsA)(shared) == 0; });
  add("application data folder", [=] {
    C out[MAX_PATH];
    return k(KX_GetAppDataPathW, KX_GetAppDataPathA)(out, MAX_PATH, key, nullptr) == 1 && n->app_data == out;
  });
  add("font folder", [=] {
    C out[MAX_PATH];
    return k(KX_GetFontPathW, KX_GetFontPathA)(out, MAX_PATH) == 1 && n->font == out;
  });
  add("product name", [=] {
    C out[MAX_PATH];
    return k(KX_GetProductNameW, KX_GetProductNameA)(n->system_file.c_str(), out, MAX_PATH) == 1 && n->product == out;
  });

  const C *const ext = n->ext.c_str(), *const cls = n->cls.c_str(), *const lnk = n->lnk.c_str();
  add("register file type",
      [=] { return k(KX_InstRegistExtW, KX_InstRegistExtA)(ext, cls, cls, n->exe.c_str(), 1) == 0; }, true);
  add("register action", [=] {
    return k(KX_InstRegistExtActionW, KX_InstRegistExtActionA)(cls, n->open.c_str(), n->command.c_str(),
                                                                 n->exe.c_str()) == 0;
  }, true);
  add("unregister file type", [=] { return k(KX_InstUnregistExtW, KX_InstUnregistExtA)(ext, cls) == 0; }, true);
  add("create shortcut", [=] {
    return k(KX_CreateShortcutW, KX_CreateShortcutA)(lnk, n->target.c_str(), nullptr, nullptr, nullptr, 0,
                                                     SW_SHOWNORMAL) == S_OK;
  }, true);
  add("resolve shortcut", [=] {
    C out[MAX_PATH];
    return k(KX_ResolveShortcutW, KX_ResolveShortcutA)(lnk, out, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                       nullptr) == S_OK &&
           n->target == out;
  }, true);
}

Reference learn_reference() {
  Reference ref;
  wchar_t out[MAX_PATH];
  if (KX_GetAppDataPathW(out, MAX_PATH, nullptr, nullptr) == 1) ref.app_data = out;
  if (!ref.app_data.empty() && ref.app_data.back() == L'\\') ref.app_data.pop_back();
  if (KX_GetFontPathW(out, MAX_PATH) == 1) ref.font = out;
  if (KX_GetProductNameW(L"C:\\windows\\system32\\shell32.dll", out, MAX_PATH) == 1) ref.product = out;
  return ref;
}

void make_file(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path.c_str();
  CloseHandle(file);
}

TEST(Stress, EightThreadsOfMixedCallsGetOnlyRightAnswers) {
  CreateDirectoryW(L"C:\\KXTest", nullptr);
  CreateDirectoryW(kFolder, nullptr);
  const Reference ref = learn_reference();
  ASSERT_FALSE(ref.app_data.empty());
  ASSERT_FALSE(ref.font.empty());
  ASSERT_FALSE(ref.product.empty());

  std::vector<std::vector<Step>> rounds(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (const wchar_t* w : {L"W", L"A"}) make_file(std::wstring(kFolder) + L"\\t" + std::to_wstring(t) + w + L".txt");
    add_steps<wchar_t>(rounds[t], t, ref);
    add_steps<char>(rounds[t], t, ref);
  }

  std::atomic<int> calls{0}, wrong{0};
  std::mutex first_mutex;
  std::string first_wrong;
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<const Step*> fast, slow;
      for (const Step& step : rounds[t]) (step.slow ? slow : fast).push_back(&step);
      for (int i = 0, next_fast = 0, next_slow = 0; i < kCallsPerThread; ++i) {
        const Step& step = i % kSlowEvery == kSlowEvery - 1 ? *slow[next_slow++ % slow.size()]
                                                             : *fast[next_fast++ % fast.size()];
        ++calls;
        if (step.call()) continue;
        ++wrong;
        const std::lock_guard<std::mutex> lock(first_mutex);
        if (first_wrong.empty()) first_wrong = "thread " + std::to_string(t) + ": " + step.name;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  // What a round cut short left behind, so that the next run starts clean.
  for (int t = 0; t < kThreads; ++t) {
    for (const Step& step : rounds[t]) {
      const std::string name = step.name;
      if (name.rfind("delete", 0) == 0 || name.rfind("unregister", 0) == 0) step.call();
    }
  }

  std::printf("stress: %d threads x %d calls = %d mixed calls, %d wrong results, %.1f s\n", kThreads,
              kCallsPerThread, calls.load(), wrong.load(), seconds);
  EXPECT_EQ(calls.load(), kThreads * kCallsPerThread);
  EXPECT_EQ(wrong.load(), 0) << "first: " << first_wrong;
}

// The race the threads above meet with their shared vendor key, made
// certain: the creation is made again while the platform reports a key
// deleted under it, and gives up after a bounded number of tries.
TEST(Stress, AnApplicationKeyIsCreatedAgainWhileItsParentIsBeingRemoved) {
  struct Case {
    int deleted;  // creations answered with ERROR_KEY_DELETED first
    int want, creates;
  };
  for (const Case c : {Case{0, 0, 1}, Case{1, 0, 2}, Case{7, 0, 8}, Case{8, ERROR_KEY_DELETED, 8}}) {
    kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
    auto& create = rec.hook<decltype(RegCreateKeyExW)>("advapi32", "RegCreateKeyExW");
    auto& close = rec.hook<decltype(RegCloseKey)>("advapi32", "RegCloseKey");
    int answered = 0;
    create.script = [&](auto...) -> std::optional<LONG> {
      if (answered == c.deleted) return std::nullopt;
      ++answered;
      return ERROR_KEY_DELETED;
    };
    EXPECT_EQ(KX_InstRegistAppW(L"KXStressRace", L"P", L"K"), c.want) << c.deleted;
    EXPECT_EQ(create.count(), static_cast<size_t>(c.creates)) << c.deleted;
    EXPECT_EQ(close.count(), c.want == 0 ? 1u : 0u) << c.deleted;
  }
  EXPECT_EQ(KX_InstDeleteAppW(L"KXStressRace", L"P", L"K"), 0);
}

// --- Several processes counting one shared file ----------------------------

// This process and kChildren copies of this executable, each started on the
// child test below, count one name at once: every process raises it
// kCountsEach times, the wide and the narrow export in turn, waits until all
// have, then lowers it as often. Only a lock shared by processes keeps every
// read-change-write whole.
constexpr int kChildren = 4, kCountsEach = 400;
constexpr int kBase = 5;  // a count that stays, so no count-down meets 1
const wchar_t kProcessShared[] = L"C:\\KXTest\\Stress\\processes.dll";
const char kProcessSharedA[] = "C:\\KXTest\\Stress\\processes.dll";
const wchar_t kParentSwitch[] = L"--kx-stress-parent=";

using Owned = std::unique_ptr<void, decltype(&CloseHandle)>;
Owned owned(HANDLE h) { return Owned(h, &CloseHandle); }

// The named objects through which the processes of one run meet.
std::wstring meeting(DWORD parent, const wchar_t* what) {
  return L"Local\\KXStress." + std::to_wstring(parent) + L"." + what;
}

// The number of calls that did not answer 0.
int count_in_turns(bool up, int times) {
  int failed = 0;
  for (int i = 0; i < times; ++i) {
    const bool wide = i % 2 == 0;
    const int r = up ? (wide ? KX_InstCountUpSharedDLLsW(kProcessShared) : KX_InstCountUpSharedDLLsA(kProcessSharedA))
                     : (wide ? KX_InstCountDownSharedDLLsW(kProcessShared)
                             : KX_InstCountDownSharedDLLsA(kProcessSharedA));
    failed += r != 0;
  }
  return failed;
}

// Run only by the parent below, which names itself on the command line.
TEST(StressChild, DISABLED_CountsTheSharedNameUpThenDown) {
  const wchar_t* const at = std::wcsstr(GetCommandLineW(), kParentSwitch);
  ASSERT_NE(at, nullptr) << "started by Stress.SeveralProcessesCountingOneNameLoseNothing only";
  const DWORD parent = std::wcstoul(at + std::wcslen(kParentSwitch), nullptr, 10);
  const Owned ready = owned(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, meeting(parent, L"ready").c_str()));
  const Owned raised = owned(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, meeting(parent, L"raised").c_str()));
  const Owned start = owned(OpenEventW(SYNCHRONIZE, FALSE, meeting(parent, L"start").c_str()));
  const Owned lower = owned(OpenEventW(SYNCHRONIZE, FALSE, meeting(parent, L"lower").c_str()));
  ASSERT_TRUE(ready && raised && start && lower) << GetLastError();
  ReleaseSemaphore(ready.get(), 1, nullptr);
  ASSERT_EQ(WaitForSingleObject(start.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(count_in_turns(true, kCountsEach), 0);
  ReleaseSemaphore(raised.get(), 1, nullptr);
  ASSERT_EQ(WaitForSingleObject(lower.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(count_in_turns(false, kCountsEach), 0);
}

TEST(Stress, SeveralProcessesCountingOneNameLoseNothing) {
  const DWORD me = GetCurrentProcessId();
  const Owned ready = owned(CreateSemaphoreW(nullptr, 0, kChildren, meeting(me, L"ready").c_str()));
  const Owned raised = owned(CreateSemaphoreW(nullptr, 0, kChildren, meeting(me, L"raised").c_str()));
  const Owned start = owned(CreateEventW(nullptr, TRUE, FALSE, meeting(me, L"start").c_str()));
  const Owned lower = owned(CreateEventW(nullptr, TRUE, FALSE, meeting(me, L"lower").c_str()));
  ASSERT_TRUE(ready && raised && start && lower);
  KX_InstDeleteSharedDLLsW(kProcessShared);  // what a run cut short left
  for (int i = 0; i < kBase; ++i) ASSERT_EQ(KX_InstCountUpSharedDLLsW(kProcessShared), 0);

  wchar_t exe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  std::wstring command = L"\"" + std::wstring(exe) +
                         L"\" --gtest_filter=StressChild.* --gtest_also_run_disabled_tests --gtest_brief=1 " +
                         kParentSwitch + std::to_wstring(me);
  // Children still running when the test ends early are ended with it.
  struct Children {
    std::vector<HANDLE> handles;
    ~Children() {
      for (HANDLE h : handles) {
        if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) TerminateProcess(h, 99);
        CloseHandle(h);
      }
    }
  } children;
  for (int k = 0; k < kChildren; ++k) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    CloseHandle(pi.hThread);
    children.handles.push_back(pi.hProcess);
  }
  for (int k = 0; k < kChildren; ++k) ASSERT_EQ(WaitForSingleObject(ready.get(), 60000), WAIT_OBJECT_0) << k;

  const auto started = std::chrono::steady_clock::now();
  SetEvent(start.get());
  EXPECT_EQ(count_in_turns(true, kCountsEach), 0);
  for (int k = 0; k < kChildren; ++k) ASSERT_EQ(WaitForSingleObject(raised.get(), 60000), WAIT_OBJECT_0) << k;
  const int raised_to = KX_InstGetCountSharedDLLsW(kProcessShared);
  SetEvent(lower.get());
  EXPECT_EQ(count_in_turns(false, kCountsEach), 0);
  ASSERT_EQ(WaitForMultipleObjects(kChildren, children.handles.data(), TRUE, 60000), WAIT_OBJECT_0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (HANDLE h : children.handles) {
    DWORD code = 1;
    GetExitCodeProcess(h, &code);
    EXPECT_EQ(code, 0u) << "a child's own checks failed";
  }
  const int lowered_to = KX_InstGetCountSharedDLLsW(kProcessShared);
  constexpr int kProcesses = kChildren + 1;
  std::printf("processes: %d processes x %d count-ups then %d count-downs on one name, from %d: %d after the "
              "ups, %d at the end, %.1f s\n",
              kProcesses, kCountsEach, kCountsEach, kBase, raised_to, lowered_to, seconds);
  EXPECT_EQ(raised_to, kBase + kProcesses * kCountsEach);
  EXPECT_EQ(lowered_to, kBase);
  EXPECT_EQ(KX_InstDeleteSharedDLLsW(kProcessShared), 0);
}

// --- Loading and unloading -------------------------------------------------

// Handles the process holds, counted from the system's table of all handles:
// GetProcessHandleCount reports nothing under Wine.
int process_handles() {
  struct Entry {
    ULONG owner;
    BYTE type, flags;
    USHORT value;
    void* object;
    ULONG access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<BYTE> buffer(1 << 20);
  ULONG needed = 0;
  LONG status;
  while ((status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == static_cast<LONG>(0xC0000004) /* STATUS_INFO_LENGTH_MISMATCH */) {
    buffer.resize(buffer.size() * 2);
  }
  if (status < 0) return -1;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  int mine = 0;
  for (ULONG i = 0; i < table->count; ++i) mine += table->entries[i].owner == GetCurrentProcessId();
  return mine;
}

struct HeapUse {
  long long bytes = 0;
  long long blocks = 0;
};

// Blocks in use on every heap of the process.
HeapUse heap_use() {
  HeapUse use;
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  for (DWORD h = 0; h < n && h < 64; ++h) {
    if (!HeapLock(heaps[h])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[h], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
        use.bytes += entry.cbData;
        ++use.blocks;
      }
    }
    HeapUnlock(heaps[h]);
  }
  return use;
}

// One cycle on a copy of the library under a name of its own, which this
// process has not loaded through its imports: load it, call a few exports
// through their addresses, check every answer, unload it.
bool load_use_unload(const std::wstring& copy, const Reference& ref) {
  const HMODULE dll = LoadLibraryW(copy.c_str());
  if (dll == nullptr) return false;
  const auto entry = [dll](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dll, name)); };
  const auto arch = reinterpret_cast<decltype(&KX_QueryArchitecture)>(entry("KX_QueryArchitecture"));
  const auto font = reinterpret_cast<decltype(&KX_GetFontPathW)>(entry("KX_GetFontPathW"));
  const auto count = reinterpret_cast<decltype(&KX_InstGetCountSharedDLLsA)>(entry("KX_InstGetCountSharedDLLsA"));
  const auto product = reinterpret_cast<decltype(&KX_GetProductNameW)>(entry("KX_GetProductNameW"));
  wchar_t path[MAX_PATH], name[MAX_PATH];
  const bool ok = arch != nullptr && font != nullptr && count != nullptr && product != nullptr &&
                  arch() == KX_QueryArchitecture() && font(path, MAX_PATH) == 1 && ref.font == path &&
                  count("C:\\KXTest\\Stress\\never-counted.dll") == -1 &&
                  product(L"C:\\windows\\system32\\shell32.dll", name, MAX_PATH) == 1 && ref.product == name;
  return FreeLibrary(dll) && ok;
}

// What a run of load cycles left the process holding.
struct Growth {
  bool handles_read = false;
  int handles = 0;
  HeapUse heap;
  int failed = 0, unloaded = 0;
  double seconds = 0;
};

// The cycles of the test below on one module: in turns, each cycle loads it
// afresh and unloads it for good; all at once, the threads' cycles overlap
// and most loads find it mapped. The first cycles settle what the system
// keeps once it has loaded a module at all (its caches, the threads' own
// records) and are not counted.
constexpr int kLoaders = 4, kCyclesEach = 50;
Growth cycled(const std::wstring& module, const std::function<bool()>& cycle) {
  std::mutex turns;
  std::atomic<int> failed{0}, unloaded{0};
  const auto cycles = [&](int each, bool in_turns) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kLoaders; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < each; ++i) {
          std::unique_lock<std::mutex> lock(turns, std::defer_lock);
          if (in_turns) lock.lock();
          failed += !cycle();
          unloaded += in_turns && GetModuleHandleW(module.c_str()) == nullptr;
        }
      });
    }
    for (auto& thread : threads) thread.join();
  };
  cycles(5, false);
  failed = 0;
  Growth g;
  const int handles_before = process_handles();
  const HeapUse heap_before = heap_use();
  const auto started = std::chrono::steady_clock::now();
  cycles(kCyclesEach, true);
  cycles(kCyclesEach, false);
  g.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const HeapUse heap_after = heap_use();
  g.handles_read = handles_before >= 0;
  g.handles = process_handles() - handles_before;
  g.heap = {heap_after.bytes - heap_before.bytes, heap_after.blocks - heap_before.blocks};
  g.failed = failed.load();
  g.unloaded = unloaded.load();
  return g;
}

TEST(Stress, LoadingAndUnloadingFromSeveralThreadsLeavesNothingBehind) {
  CreateDirectoryW(L"C:\\KXTest", nullptr);
  CreateDirectoryW(kFolder, nullptr);
  const Reference ref = learn_reference();
  wchar_t original[MAX_PATH], exe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"KX_Pellam.dll"), original, MAX_PATH), 0u);
  ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  const std::wstring copy = std::wstring(kFolder) + L"\\KX_PellamCycle.dll";
  ASSERT_TRUE(CopyFileW(original, copy.c_str(), FALSE));
  // The baseline: the same cycles of a DLL with nothing in it, built like the
  // library, measure what the loader and the heap keep for any DLL (Wine 8:
  // 24 bytes; Wine 10: tens of KB).
  std::wstring empty = exe;
  empty = empty.substr(0, empty.find_last_of(L'\\') + 1) + L"KX_Empty.dll";
  const Growth baseline = cycled(empty, [&] {
    const HMODULE dll = LoadLibraryW(empty.c_str());
    return dll != nullptr && FreeLibrary(dll);
  });
  const Growth library = cycled(copy, [&] { return load_use_unload(copy, ref); });

  for (const auto& [name, g] : {std::pair<const char*, const Growth&>{"empty DLL", baseline}, {"library", library}}) {
    std::printf("load cycles of the %s: %d threads x %d, in turns and at once = %d cycles (%d of them unloaded "
                "for good) in %.1f s; %+d handles, %+lld bytes of heap in %+lld blocks\n",
                name, kLoaders, kCyclesEach, 2 * kLoaders * kCyclesEach, g.unloaded, g.seconds, g.handles,
                g.heap.bytes, g.heap.blocks);
    EXPECT_EQ(g.failed, 0) << name;
    EXPECT_EQ(g.unloaded, kLoaders * kCyclesEach) << name << ": cycles in turns that left it loaded";
  }
  EXPECT_EQ(GetModuleHandleW(copy.c_str()), nullptr) << "the copy is still loaded";
  ASSERT_TRUE(library.handles_read) << "the system's handle table could not be read";
  // One leaked handle or block per cycle would be 200 to 400. The room: a
  // few handles the test's own threads leave in the system's keeping, and on
  // the heap what Wine 10 keeps even for a DLL that leaks nothing. After the
  // cycles it holds a few new blocks of 10 to 12 KB each, for the empty DLL
  // (seen: up to 7, 76 KB in all) as for the library (up to 4, 46 KB), and
  // not always for both in one run. Room for twice as many blocks as there
  // are loading threads still stays far below one block per cycle.
  constexpr long long kKeptBlocks = 2 * kLoaders;
  EXPECT_LE(library.handles, 4);
  EXPECT_LE(library.heap.blocks - baseline.heap.blocks, kKeptBlocks);
  EXPECT_LE(library.heap.bytes - baseline.heap.bytes, kKeptBlocks * 16 * 1024);
  DeleteFileW(copy.c_str());
}

}  // namespace
