// Every export of both DLLs, both widths, fed hostile arguments one at a
// time while every other argument holds a harmless valid value: strings null,
// empty and of 259, 260, 261 and 65,536 characters; capacities 0, -1, 1, 260
// and either side of the real result's length; null for every pointer; bad
// handles; extreme integers. Every text and output block a call receives ends
// exactly at an inaccessible page, so reading or writing past it is caught at
// the faulting instruction. The registry families must also leave
// HKLM\SOFTWARE and HKEY_CLASSES_ROOT as they were whenever they refuse.
//
// Runs in a Wine session of its own: prefix, wineserver and display.
// With KX_SWEEP_TRACE set it names each export on stderr as it starts, for a
// run that hangs.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "invoke.h"
#include "support/guard_page.h"
#include "support/registry_snapshot.h"
#include "table.h"

namespace {

using kxcall::Export;
using kxcall::Kind;

// ---- Faults inside a call --------------------------------------------------
// A guard page touched is caught first, by a vectored handler, because the
// platform code the library calls may swallow the fault itself; that handler
// also notes every other exception as it is raised. One that nobody handles
// reaches the unhandled-exception filter (32-bit) or the C runtime's own
// frame handler, which raises a signal (64-bit). Each jumps back to the call
// site, which then reports what happened.
struct Fault {
  DWORD code = 0;
  ULONG_PTR address = 0;
  bool guard = false;
};

void* g_jump[5];
volatile bool g_in_call = false;
DWORD g_thread = 0;
Fault g_fault;
std::vector<std::pair<ULONG_PTR, std::string>> g_guards;  // guard page start, what it follows
std::size_t g_page = 0;
constexpr int kSignals[] = {SIGSEGV, SIGILL, SIGFPE};

const std::string* guard_owner(ULONG_PTR address) {
  for (const auto& [start, what] : g_guards)
    if (address >= start && address < start + g_page) return &what;
  return nullptr;
}

[[noreturn]] void leave_call() {
  g_in_call = false;
  __builtin_longjmp(g_jump, 1);
}

LONG CALLBACK on_guard(EXCEPTION_POINTERS* p) {
  if (!g_in_call || GetCurrentThreadId() != g_thread) return EXCEPTION_CONTINUE_SEARCH;
  const EXCEPTION_RECORD* r = p->ExceptionRecord;
  g_fault.code = r->ExceptionCode;
  g_fault.address = r->NumberParameters >= 2 ? r->ExceptionInformation[1] : 0;
  g_fault.guard = r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && guard_owner(g_fault.address) != nullptr;
  if (g_fault.guard) leave_call();
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI on_unhandled(EXCEPTION_POINTERS*) {
  if (!g_in_call || GetCurrentThreadId() != g_thread) return EXCEPTION_CONTINUE_SEARCH;
  leave_call();
}

void on_signal(int sig) {
  if (!g_in_call || GetCurrentThreadId() != g_thread) {
    std::fprintf(stderr, "sweep: signal %d outside any call\n", sig);
    std::_Exit(3);
  }
  std::signal(sig, on_signal);  // the runtime resets it before calling it
  leave_call();
}

// Both catchers, for the lifetime of one test on its thread.
class Catching {
 public:
  Catching()
      : handler_((g_thread = GetCurrentThreadId(), g_page = kxtest::detail::page_size(),
                  AddVectoredExceptionHandler(1, on_guard))),
        previous_(SetUnhandledExceptionFilter(on_unhandled)) {
    for (int sig : kSignals) std::signal(sig, on_signal);
  }
  ~Catching() {
    for (int sig : kSignals) std::signal(sig, SIG_DFL);
    SetUnhandledExceptionFilter(previous_);
    RemoveVectoredExceptionHandler(handler_);
  }

 private:
  PVOID handler_;
  LPTOP_LEVEL_EXCEPTION_FILTER previous_;
};

// Returns false when the call faulted; g_fault then says how.
__attribute__((noinline)) bool guarded_call(FARPROC proc, unsigned n, const std::uintptr_t* args,
                                            std::uintptr_t* result) {
  // The thread's frame-handler chain (Wine keeps its own guarded regions
  // there on both architectures) still names frames of the abandoned
  // dispatch after a jump back; it is put back by hand.
  void* volatile chain;
#ifdef _WIN64
  asm volatile("movq %%gs:0, %0" : "=r"(chain));
#else
  asm volatile("movl %%fs:0, %0" : "=r"(chain));
#endif
  g_fault = {};
  if (__builtin_setjmp(g_jump) == 0) {
    g_in_call = true;
    *result = kxcall::invoke(proc, n, args);
    g_in_call = false;
    return true;
  }
  void* saved = chain;
#ifdef _WIN64
  asm volatile("movq %0, %%gs:0" : : "r"(saved) : "memory");
#else
  asm volatile("movl %0, %%fs:0" : : "r"(saved) : "memory");
#endif
  return false;
}

// ---- Arguments -------------------------------------------------------------
// Every block one call receives; each ends where an inaccessible page starts.
class Arena {
 public:
  void* take(std::size_t bytes, std::string what) {
    blocks_.push_back(std::make_unique<kxtest::GuardBuffer<char>>(static_cast<int>(bytes)));
    auto& b = *blocks_.back();
    g_guards.emplace_back(reinterpret_cast<ULONG_PTR>(b.guard()), std::move(what));
    return b.data();
  }
  ~Arena() { g_guards.clear(); }

 private:
  std::vector<std::unique_ptr<kxtest::GuardBuffer<char>>> blocks_;
};

constexpr int kBenignCapacity = kxcall::kBufCapacity;
constexpr int kStringLengths[] = {-1, 0, 259, 260, 261, 65536};  // -1: null

// Choice 0 of every kind is the benign value; the others are the hostile ones.
int choices(Kind k) {
  switch (k) {
    case kxcall::s:
    case kxcall::filter: return 1 + static_cast<int>(std::size(kStringLengths));
    case kxcall::i: return 4;     // 0, -1, INT_MIN, INT_MAX
    case kxcall::hwnd: return 3;  // own window, null, destroyed window
    case kxcall::hmod: return 3;  // null (this program), KX_Pellam, no module
    case kxcall::buf: return 8;   // 1024, 0, -1, 1, 260, length + 1, length, null
    case kxcall::io260: return 4;  // empty, null, 259 characters, no terminator
    case kxcall::u:
    case kxcall::dw:
    case kxcall::w:
    case kxcall::cap:
    case kxcall::ptr: return 1;  // flags and ids pass through; ptr's benign value is null
    default: return 2;           // the block, or null
  }
}

// Harmless valid strings, by export (without its width letter): names of the
// sweep's own, files that exist. Everything else gets kDefaultText.
struct Benign {
  const char* base;
  const char* text[8];
};
constexpr const char* kDefaultText = "KXSweep";
constexpr const char* kTone = "C:\\KXSweep\\tone.wav";
constexpr const char* kShell32 = "C:\\windows\\system32\\shell32.dll";
constexpr Benign kBenign[] = {
    {"KX_InstRegistAppPath", {"kxsweep.exe", "C:\\KXSweep\\"}},
    {"KX_InstQueryAppPath", {"kxsweep.exe"}},
    {"KX_InstDeleteAppPath", {"kxsweep.exe"}},
    {"KX_InstRegistApp", {"KXSweep", "Sweep", "1.0"}},
    {"KX_InstDeleteApp", {"KXSweep", "Sweep", "1.0"}},
    {"KX_InstRegistUninstaller",
     {"KXSweep", "KX Sweep", "C:\\KXSweep\\uninstall.exe", "KX", "C:\\KXSweep\\a.exe,0", "1.0", "C:\\KXSweep\\",
      "http://localhost/"}},
    {"KX_InstCountUpSharedDLLs", {"C:\\KXSweep\\kxsweep.dll"}},
    {"KX_InstCountDownSharedDLLs", {"C:\\KXSweep\\kxsweep.dll"}},
    {"KX_InstGetCountSharedDLLs", {"C:\\KXSweep\\kxsweep.dll"}},
    {"KX_InstDeleteSharedDLLs", {"C:\\KXSweep\\kxsweep.dll"}},
    {"KX_InstRegistExt", {"kxsweep", "KX Sweep document", "KXSweep.Doc", "C:\\KXSweep\\a.exe"}},
    {"KX_InstRegistExtAction", {"KXSweep.Doc", "open", "command", "\"C:\\KXSweep\\a.exe\" \"%1\""}},
    {"KX_InstUnregistExt", {"kxsweep", "KXSweep.Doc"}},
    {"KX_InstQueryClassName", {"KXSweep.Doc\\shell\\open"}},
    {"KX_InstRegistShellKey", {"kxsweep2", "KX Sweep shell", "KXSweep.Doc2\\shell\\open\\command", "a.exe \"%1\""}},
    {"KX_InstUnregistShellKey", {"kxsweep2", "KXSweep.Doc2\\shell\\open\\command"}},
    {"KX_CreateShortcut", {"C:\\KXSweep\\sweep.lnk", "C:\\windows\\notepad.exe", "/a", "C:\\KXSweep", "Sweep"}},
    {"KX_ResolveShortcut", {"C:\\KXSweep\\sweep.lnk"}},
    {"KX_GetResourceVersionInfo", {kShell32}},
    {"KX_GetProductName", {kShell32}},
    {"KX_GetOpenFileName", {"Sweep", "Text|*.txt|All|*.*|"}},
    {"KX_GetSaveFileName", {"Sweep", "Text|*.txt|"}},
    {"KX_BrowseForFolder", {"Sweep", "C:\\KXSweep"}},
    {"KX_GetExtractIconCount", {kShell32}},
    {"KX_MCI_OpenDevice", {kTone, "kxsweep"}},
    {"KX_SoundPlayStart", {kTone, "kxsweep2"}},
    {"KX_SoundPlayStop", {"kxsweep2"}},
    {"KX_SND_LoadSound", {kTone}},
    {"KX_GetDirectoryName", {kTone}},
    {"KX_SetDoublequote", {kTone}},
};

// The name without its width letter, for a twin.
std::string base_name(const Export& e) {
  std::string name = e.name, twin = name;
  twin.back() = name.back() == 'W' ? 'A' : 'W';
  if ((name.back() == 'W' || name.back() == 'A') && kxcall::find(twin.c_str()) != nullptr) name.pop_back();
  return name;
}

const char* benign_text(const Export& e, unsigned text_index) {
  const std::string base = base_name(e);
  for (const Benign& b : kBenign)
    if (base == b.base) return b.text[text_index] != nullptr ? b.text[text_index] : kDefaultText;
  return kDefaultText;
}

// What the program provides for the handles and blocks of the benign values.
struct World {
  HWND window = nullptr;
  HWND stale_window = nullptr;
  HICON stale_icon = nullptr;
  HMODULE pellam = nullptr;
  std::vector<BYTE> tone;  // a whole WAV file, for the in-memory player
};

template <class C>
C* put_text(Arena& arena, const std::string& text, bool filter, const std::string& what) {
  const std::size_t chars = text.size() + 1 + (filter ? 1 : 0);
  C* out = static_cast<C*>(arena.take(chars * sizeof(C), what));
  for (std::size_t k = 0; k < text.size(); ++k) out[k] = filter && text[k] == '|' ? C(0) : C(text[k]);
  for (std::size_t k = text.size(); k < chars; ++k) out[k] = C(0);
  return out;
}

struct Built {
  std::uintptr_t values[kxcall::kMaxArgs] = {};
  std::string label;  // the hostile argument, for messages
  void* out = nullptr;  // the varied output text buffer and its capacity
  int out_capacity = 0;
};

template <class C>
std::uintptr_t text_arg(Arena& arena, const Export& e, unsigned k, unsigned text_index, int choice, Built& b) {
  const bool filter = e.kinds[k] == kxcall::filter;
  if (choice == 0) {
    return reinterpret_cast<std::uintptr_t>(put_text<C>(arena, benign_text(e, text_index), filter, "argument"));
  }
  const int length = kStringLengths[choice - 1];
  b.label = length < 0 ? "null" : std::to_string(length) + " characters";
  if (length < 0) return 0;
  return reinterpret_cast<std::uintptr_t>(
      put_text<C>(arena, std::string(static_cast<std::size_t>(length), 'K'), filter, "the " + b.label + " string"));
}

// Fills the argument vector: argument `vary` takes choice `choice`, every
// other one its benign value. `length` is the benign call's output length.
template <class C>
Built build(const World& w, const Export& e, unsigned vary, int choice, int length, Arena& arena) {
  Built b;
  unsigned texts = 0;
  for (unsigned k = 0; k < e.count; ++k) {
    const int c = k == vary ? choice : 0;
    std::uintptr_t& v = b.values[k];
    char number[16];
    std::snprintf(number, sizeof number, "argument %u", k + 1);
    const std::string at = number;
    switch (e.kinds[k]) {
      case kxcall::s:
      case kxcall::filter: v = text_arg<C>(arena, e, k, texts++, c, b); break;
      case kxcall::i: {
        constexpr int kInts[] = {0, -1, INT_MIN, INT_MAX};
        v = static_cast<std::uint32_t>(kInts[c]);
        if (c != 0) b.label = std::to_string(kInts[c]);
        break;
      }
      case kxcall::u: v = 1; break;
      case kxcall::dw:
        // The in-memory player plays synchronously (its block is gone after the
        // call) and never falls back on the system's default sound; every
        // other flag word stays 0.
        v = std::strcmp(e.name, "KX_SND_PlaySound") == 0 ? SND_SYNC | SND_NODEFAULT : 0;
        break;
      case kxcall::w: v = 0; break;
      case kxcall::hwnd: {
        const HWND h[] = {w.window, nullptr, w.stale_window};
        v = reinterpret_cast<std::uintptr_t>(h[c]);
        if (c != 0) b.label = c == 1 ? "null window" : "destroyed window";
        break;
      }
      case kxcall::hmod: {
        const HMODULE h[] = {nullptr, w.pellam, reinterpret_cast<HMODULE>(0x10)};
        v = reinterpret_cast<std::uintptr_t>(h[c]);
        if (c != 0) b.label = c == 1 ? "KX_Pellam's module" : "no module (0x10)";
        break;
      }
      case kxcall::hicon:
        v = c == 0 ? 0 : reinterpret_cast<std::uintptr_t>(w.stale_icon);
        if (c != 0) b.label = "destroyed icon";
        break;
      case kxcall::cptr:
        if (c == 0) {
          void* block = arena.take(w.tone.size(), "the sound");
          std::memcpy(block, w.tone.data(), w.tone.size());
          v = reinterpret_cast<std::uintptr_t>(block);
        } else {
          b.label = "null sound";
        }
        break;
      case kxcall::ptr: v = 0; break;
      case kxcall::buf: {
        const int caps[] = {kBenignCapacity, 0, -1, 1, MAX_PATH, length + 1, length, kBenignCapacity};
        const int cap = caps[c];
        b.values[k + 1] = static_cast<std::uint32_t>(cap);
        if (c == 7) {
          b.label = "null buffer of capacity " + std::to_string(cap);
          break;
        }
        if (c != 0) b.label = "capacity " + std::to_string(cap);
        b.out_capacity = cap;
        b.out = arena.take(static_cast<std::size_t>(cap < 0 ? 0 : cap) * sizeof(C), "the output buffer (" + at + ")");
        kxtest::fill_garbage(static_cast<C*>(b.out), static_cast<std::size_t>(cap < 0 ? 0 : cap));
        v = reinterpret_cast<std::uintptr_t>(b.out);
        break;
      }
      case kxcall::cap: break;  // set with its buffer
      case kxcall::buf260:
      case kxcall::io260: {
        if (c == 1) {
          b.label = "null " + at;
          break;
        }
        C* p = static_cast<C*>(arena.take(MAX_PATH * sizeof(C), "the 260-character buffer (" + at + ")"));
        kxtest::fill_garbage(p, MAX_PATH);
        if (e.kinds[k] == kxcall::io260) {
          if (c == 3) {
            b.label = "260 characters, no terminator";
          } else {
            const std::size_t n = c == 2 ? MAX_PATH - 1 : 0;
            for (std::size_t j = 0; j < n; ++j) p[j] = C('K');
            p[n] = C(0);
            if (c == 2) b.label = "259 characters in " + at;
          }
        }
        v = reinterpret_cast<std::uintptr_t>(p);
        break;
      }
      case kxcall::outw:
      case kxcall::outi:
      case kxcall::iocolour:
      case kxcall::recout:
      case kxcall::recin: {
        if (c == 1) {
          b.label = "null " + at;
          break;
        }
        const std::size_t bytes = e.kinds[k] == kxcall::outw                                         ? sizeof(WORD)
                                  : e.kinds[k] == kxcall::recout || e.kinds[k] == kxcall::recin ? sizeof(KX_INPUT_ATTACHMENT)
                                                                                                 : sizeof(int);
        void* p = arena.take(bytes, "the output of " + at);
        std::memset(p, 0, bytes);
        if (e.kinds[k] == kxcall::iocolour) *static_cast<COLORREF*>(p) = RGB(0, 128, 0);
        v = reinterpret_cast<std::uintptr_t>(p);
        break;
      }
    }
    if (k == vary && choice != 0 && b.label.empty()) b.label = "choice " + std::to_string(choice);
    if (k == vary && choice != 0) b.label = at + " = " + b.label;
  }
  return b;
}

template <class C>
int text_length(const void* p, int capacity) {
  const C* t = static_cast<const C*>(p);
  int n = 0;
  while (n < capacity && t[n] != C(0)) ++n;
  return n;
}

// ---- The registry -------------------------------------------------------------
// Both trees, in every registry view: the 64-bit HKLM\SOFTWARE holds the
// 32-bit one below WOW6432Node.
struct RegistryState {
  RegistryState()
      : software(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_WOW64_64KEY), classes(HKEY_CLASSES_ROOT, L"", KEY_WOW64_64KEY) {}
  bool operator==(const RegistryState& o) const { return software == o.software && classes == o.classes; }
  std::wstring difference(const RegistryState& now) const {
    return software.describe_difference(now.software) + classes.describe_difference(now.classes);
  }
  kxtest::RegistrySnapshot software, classes;
};

// Tells whether anything below either tree changed since arm(): the
// platform signals the event as the change is made.
class ChangeWatch {
 public:
  ChangeWatch() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_NOTIFY | KEY_WOW64_64KEY, &keys_[0]);
    RegOpenKeyExW(HKEY_CLASSES_ROOT, L"", 0, KEY_NOTIFY | KEY_WOW64_64KEY, &keys_[1]);
  }
  ~ChangeWatch() {
    for (HKEY k : keys_)
      if (k != nullptr) RegCloseKey(k);
    CloseHandle(event_);
  }
  bool arm() {
    ResetEvent(event_);
    for (HKEY k : keys_)
      if (k == nullptr || RegNotifyChangeKeyValue(k, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event_,
                                                  TRUE) != ERROR_SUCCESS)
        return false;
    return true;
  }
  bool changed() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE event_;
  HKEY keys_[2] = {};
};

bool is_registry_export(const Export& e) { return std::strncmp(e.name, "KX_Inst", 7) == 0; }
bool is_query(const Export& e) {
  return std::strstr(e.name, "Query") != nullptr || std::strstr(e.name, "GetCount") != nullptr;
}

// The family's failure or refusal result.
bool refused(const Export& e, std::uintptr_t raw) {
  const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
  switch (e.result) {
    case kxcall::status: return v != 0;
    case kxcall::flag: return v == 0;
    case kxcall::count: return v < 0;
    default: return false;
  }
}

// ---- Modal dialogs ----------------------------------------------------------------
// A dialog takes Wine a second or two to build, and while it is up no library
// code runs, except the folder browser's callback that selects the initial
// path. So only the benign call of each dialog export and the calls that vary
// its in-out buffer get a real dialog, cancelled once it is first activated
// (or, should that never happen, by a watcher thread); for every other call
// the dialog's window is refused creation and the export returns at once.
bool g_real_dialog = false;

bool is_dialog(HWND window) {
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  return std::wcscmp(cls, L"#32770") == 0;
}

class DialogCanceller {
 public:
  explicit DialogCanceller(DWORD thread) : thread_(thread), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    self_ = this;
    hook_ = SetWindowsHookExW(WH_CBT, &on_cbt, nullptr, thread);
    worker_ = CreateThread(nullptr, 0, &DialogCanceller::run, this, 0, nullptr);
  }
  ~DialogCanceller() {
    SetEvent(stop_);
    WaitForSingleObject(worker_, INFINITE);
    CloseHandle(worker_);
    CloseHandle(stop_);
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  }
  long cancelled() { return InterlockedCompareExchange(&cancelled_, 0, 0); }
  long refused() const { return refused_; }

 private:
  static LRESULT CALLBACK on_cbt(int code, WPARAM w, LPARAM l) {
    if (code == HCBT_ACTIVATE && is_dialog(reinterpret_cast<HWND>(w))) self_->cancel(reinterpret_cast<HWND>(w));
    if (code == HCBT_CREATEWND && !g_real_dialog) {
      const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(l)->lpcs;
      const bool dialog_class = IS_INTRESOURCE(cs->lpszClass) ? reinterpret_cast<ULONG_PTR>(cs->lpszClass) == 32770
                                                              : std::wcscmp(cs->lpszClass, L"#32770") == 0;
      if (dialog_class && (cs->style & WS_CHILD) == 0) {
        ++self_->refused_;
        return 1;
      }
    }
    return CallNextHookEx(nullptr, code, w, l);
  }
  static DWORD WINAPI run(void* self) {
    auto* me = static_cast<DialogCanceller*>(self);
    while (WaitForSingleObject(me->stop_, 50) == WAIT_TIMEOUT)
      EnumThreadWindows(me->thread_, &DialogCanceller::found, reinterpret_cast<LPARAM>(me));
    return 0;
  }
  static BOOL CALLBACK found(HWND window, LPARAM self) {
    if (is_dialog(window) && IsWindowVisible(window)) reinterpret_cast<DialogCanceller*>(self)->cancel(window);
    return TRUE;
  }
  void cancel(HWND window) {
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    if (InterlockedExchangePointer(reinterpret_cast<void**>(&last_), window) != window)
      InterlockedIncrement(&cancelled_);
  }
  static inline DialogCanceller* self_ = nullptr;
  DWORD thread_;
  HANDLE stop_;
  HHOOK hook_ = nullptr;
  HANDLE worker_ = nullptr;
  HWND last_ = nullptr;
  LONG cancelled_ = 0;
  long refused_ = 0;
};

// ---- Set-up -----------------------------------------------------------------------
std::vector<BYTE> make_tone() {
  // 0.1 s of 8 kHz, 8-bit mono square wave.
  constexpr DWORD kSamples = 800;
  std::vector<BYTE> wav(44 + kSamples);
  auto put32 = [&](std::size_t at, DWORD v) { std::memcpy(&wav[at], &v, 4); };
  auto put16 = [&](std::size_t at, WORD v) { std::memcpy(&wav[at], &v, 2); };
  std::memcpy(&wav[0], "RIFF", 4);
  put32(4, 36 + kSamples);
  std::memcpy(&wav[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, WAVE_FORMAT_PCM);
  put16(22, 1);
  put32(24, 8000);
  put32(28, 8000);
  put16(32, 1);
  put16(34, 8);
  std::memcpy(&wav[36], "data", 4);
  put32(40, kSamples);
  for (DWORD k = 0; k < kSamples; ++k) wav[44 + k] = (k / 10) % 2 ? 0xC0 : 0x40;
  return wav;
}

LRESULT CALLBACK window_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

World make_world() {
  World w;
  CreateDirectoryW(L"C:\\KXSweep", nullptr);
  SetCurrentDirectoryW(L"C:\\KXSweep");  // where any relative name lands
  w.tone = make_tone();
  HANDLE f = CreateFileW(L"C:\\KXSweep\\tone.wav", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, w.tone.data(), static_cast<DWORD>(w.tone.size()), &written, nullptr);
  CloseHandle(f);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KXSweepWindow";
  RegisterClassW(&wc);
  w.window = CreateWindowExW(0, wc.lpszClassName, L"KX sweep", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, wc.hInstance, nullptr);
  w.stale_window = CreateWindowExW(0, wc.lpszClassName, L"gone", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
  DestroyWindow(w.stale_window);
  w.stale_icon = CreateIcon(nullptr, 1, 1, 1, 1, std::vector<BYTE>(4, 0xFF).data(), std::vector<BYTE>(4, 0).data());
  DestroyIcon(w.stale_icon);
  w.pellam = GetModuleHandleW(L"KX_Pellam.dll");
  return w;
}

struct Counts {
  int exports = 0;
  long vectors = 0;
  long calls = 0;
  long registry_refused = 0;   // refused calls of the registry families, each watched
  long registry_queries = 0;   // their queries, which must never change anything
  long replayed = 0;           // refused calls replayed between two snapshots
  long failures = 0;
};

class Sweep {
 public:
  explicit Sweep(const World& w) : world_(w) {}

  void run(const Export& e) {
    const HMODULE module = GetModuleHandleA(e.brindel ? "KX_Brindel.dll" : "KX_Pellam.dll");
    proc_ = GetProcAddress(module, e.name);
    if (proc_ == nullptr) {
      fail(e, "(lookup)", "the DLL has no such export");
      return;
    }
    ++counts.exports;
    if (trace_) std::fprintf(stderr, "%lu %s\n", static_cast<unsigned long>(GetTickCount()), e.name);
    int length = 0;
    for (unsigned k = 0; k < std::max(1u, static_cast<unsigned>(e.count)); ++k) {
      const int n = e.count == 0 ? 1 : choices(e.kinds[k]);
      for (int c = (k == 0 ? 0 : 1); c < n; ++c) {
        // The output's real length, from the benign call, places the last two
        // capacities on either side of the boundary; they are tried only when
        // they are new.
        if (e.count != 0 && e.kinds[k] == kxcall::buf && (c == 5 || c == 6) &&
            (length + (c == 5 ? 1 : 0) <= 1 || length + (c == 5 ? 1 : 0) == MAX_PATH))
          continue;
        const int got = call(e, {proc_, &e, k, c, length}, false);
        if (c == 0 && k == 0) length = got;
      }
    }
  }

  // Every refused call of the registry families once more, between two full
  // snapshots of both trees (one pair for all: a snapshot takes seconds). A
  // call that no longer refuses, the state it met having moved on, and so
  // changes the registry starts the comparison afresh.
  void replay() {
    if (refused_.empty()) return;
    auto before = std::make_unique<RegistryState>();
    for (const Vector& r : refused_) {
      proc_ = r.proc;
      call(*r.e, r, true);
      if (changed_) before = std::make_unique<RegistryState>();
    }
    const RegistryState after;
    if (!(*before == after)) {
      std::wstring d = before->difference(after);
      fail(*refused_.front().e, "the replay of every refused call",
           "changed the registry:\n" + std::string(d.begin(), d.end()));
    }
  }

  Counts counts;

 private:
  struct Vector {
    FARPROC proc;
    const Export* e;
    unsigned vary;
    int choice;
    int length;
  };

  int call(const Export& e, const Vector& v, bool replaying) {
    return e.wide ? one<wchar_t>(e, v, replaying) : one<char>(e, v, replaying);
  }

  // One call; answers the output text's length (0 when there is none).
  template <class C>
  int one(const Export& e, const Vector& v, bool replaying) {
    Arena arena;
    Built b = build<C>(world_, e, v.vary, v.choice, v.length, arena);
    const std::string input = v.choice == 0 ? "benign arguments" : b.label;
    const bool registry = is_registry_export(e);
    const bool watching = registry && watch_.arm();
    if (registry && !watching) fail(e, input, "could not watch the registry");
    std::uintptr_t raw = 0;
    ++counts.calls;
    if (!replaying) ++counts.vectors;
    changed_ = false;
    g_real_dialog = v.choice == 0 || e.kinds[v.vary] == kxcall::io260;
    if (!guarded_call(proc_, e.count, b.values, &raw)) {
      char where[64];
      std::snprintf(where, sizeof where, "exception 0x%08lX at address 0x%llX", static_cast<unsigned long>(g_fault.code),
                    static_cast<unsigned long long>(g_fault.address));
      const std::string* owner = g_fault.guard ? guard_owner(g_fault.address) : nullptr;
      fail(e, input, std::string(where) + (owner ? ": past the end of " + *owner : ": a crash"));
      return 0;
    }
    changed_ = watching && watch_.changed();
    if (e.result == kxcall::addr && raw != 0) {
      KX_SND_DeleteSoundMemory(reinterpret_cast<LPVOID>(raw));
      ++counts.calls;
    }
    if (b.out != nullptr && e.result == kxcall::flag && static_cast<std::uint32_t>(raw) != 0 &&
        text_length<C>(b.out, b.out_capacity) >= b.out_capacity)
      fail(e, input, "reported success with an unterminated buffer");
    if (registry && (is_query(e) || refused(e, raw))) {
      if (replaying) {
        ++counts.replayed;
      } else {
        ++(is_query(e) ? counts.registry_queries : counts.registry_refused);
        refused_.push_back(v);
      }
      if (changed_)
        fail(e, input, "refused (result " + std::to_string(static_cast<std::int32_t>(raw)) + ") yet changed the registry");
    }
    return b.out != nullptr ? text_length<C>(b.out, b.out_capacity) : 0;
  }

  void fail(const Export& e, const std::string& input, const std::string& what) {
    ++counts.failures;
    ADD_FAILURE() << e.name << " with " << input << ": " << what;
  }

  const World& world_;
  const bool trace_ = GetEnvironmentVariableW(L"KX_SWEEP_TRACE", nullptr, 0) != 0;
  FARPROC proc_ = nullptr;
  ChangeWatch watch_;
  bool changed_ = false;
  std::vector<Vector> refused_;
};

TEST(Sweep, EveryExportSurvivesHostileArguments) {
  const Catching catching;
  // The folder browser needs the caller's apartment; the shortcut exports work inside it.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const World world = make_world();
  ASSERT_NE(world.window, nullptr);
  ASSERT_NE(world.pellam, nullptr);
  const DWORD start = GetTickCount();
  Sweep sweep(world);
  long dialogs = 0, refused_dialogs = 0;
  {
    DialogCanceller canceller(g_thread);
    for (const Export* e = kxcall::begin(); e != kxcall::end(); ++e) sweep.run(*e);
    sweep.replay();
    dialogs = canceller.cancelled();
    refused_dialogs = canceller.refused();
  }
  DestroyWindow(world.window);
  CoUninitialize();

  const Counts& n = sweep.counts;
  std::printf("sweep (%s): %d exports, %ld argument vectors tried, %ld calls made; %ld dialogs shown and cancelled, "
              "%ld refused their window\n",
              sizeof(void*) == 8 ? "x64" : "x86", n.exports, n.vectors, n.calls, dialogs, refused_dialogs);
  std::printf("sweep: registry families: %ld refused calls and %ld queries each watched for a change below "
              "HKLM\\SOFTWARE and HKEY_CLASSES_ROOT; %ld replayed between two snapshots of both trees\n",
              n.registry_refused, n.registry_queries, n.replayed);
  std::printf("sweep: %ld failures, %lu ms\n", n.failures, static_cast<unsigned long>(GetTickCount() - start));
  EXPECT_EQ(n.exports, kxcall::end() - kxcall::begin());
}

// The detectors themselves: a guard page touched inside a call, and a
// registry change under either tree, are seen.
TEST(Sweep, DetectorsSeeWhatTheyWatch) {
  {
    const Catching catching;
    Arena arena;
    char* p = static_cast<char*>(arena.take(4, "a probe"));
    std::uintptr_t args[] = {reinterpret_cast<std::uintptr_t>(p), reinterpret_cast<std::uintptr_t>("12345"), 0};
    std::uintptr_t raw = 0;
    // lstrcpyA handles its own faults: the guard page is seen before it can.
    const FARPROC copy = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "lstrcpyA");
    EXPECT_FALSE(guarded_call(copy, 2, args, &raw));
    EXPECT_TRUE(g_fault.guard);
    args[1] = reinterpret_cast<std::uintptr_t>("123");
    EXPECT_TRUE(guarded_call(copy, 2, args, &raw));
    // A fault nobody handles, twice: the first jump back leaves the thread
    // able to fault and recover again.
    const FARPROC fill = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "RtlFillMemory");
    std::uintptr_t nowhere[] = {0, 4, 0x55};
    for (int round = 0; round < 2; ++round) {
      EXPECT_FALSE(guarded_call(fill, 3, nowhere, &raw));
      EXPECT_FALSE(g_fault.guard);
      EXPECT_EQ(g_fault.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    }
    EXPECT_TRUE(guarded_call(copy, 2, args, &raw));
  }

  ChangeWatch watch;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) {
    const wchar_t* path = root == HKEY_LOCAL_MACHINE ? L"SOFTWARE\\KXSweepProbe" : L"KXSweepProbe";
    ASSERT_TRUE(watch.arm());
    EXPECT_FALSE(watch.changed());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(watch.changed());
    RegDeleteKeyW(root, path);
  }
}

}  // namespace
