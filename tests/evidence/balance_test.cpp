// Resource balance: every key, COM initialisation, COM object, kernel handle,
// lock hold, heap block, icon, input context and item-ID list that the
// library acquires is given back, on success and on every failure path. Each
// family's representative sequence runs once as is, then once per acquiring
// call it makes with exactly that call failing, counting through the import
// table what was acquired and what was released.
#include <windows.h>
#include <imm.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "KX_Pellam.h"
#include "support/recorder.h"
#include "support/width.h"

namespace {

enum Kind { kKey, kComInit, kComObject, kHandle, kLock, kHeap, kIcon, kImeContext, kIdList, kKinds };
const char* const kKindNames[kKinds] = {"registry keys", "COM initialisations", "COM objects",
                                        "kernel handles", "lock holds", "heap blocks",
                                        "icons", "input contexts", "item-ID lists"};

// Wine's desktop folder is one shared object that keeps no reference count,
// so the library is handed this stand-in, which counts for it and forwards.
class CountedFolder final : public IShellFolder {
 public:
  explicit CountedFolder(IShellFolder* real) : real_(real) {}
  ~CountedFolder() { real_->Release(); }
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IShellFolder) return real_->QueryInterface(iid, out);
    *out = this;
    return ++refs, S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND w, IBindCtx* b, LPWSTR n, ULONG* e, PIDLIST_RELATIVE* l,
                                             ULONG* a) override {
    return real_->ParseDisplayName(w, b, n, e, l, a);
  }
  HRESULT STDMETHODCALLTYPE EnumObjects(HWND w, SHCONTF f, IEnumIDList** e) override {
    return real_->EnumObjects(w, f, e);
  }
  HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE l, IBindCtx* b, REFIID i, void** o) override {
    return real_->BindToObject(l, b, i, o);
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE l, IBindCtx* b, REFIID i, void** o) override {
    return real_->BindToStorage(l, b, i, o);
  }
  HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM p, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override {
    return real_->CompareIDs(p, a, b);
  }
  HRESULT STDMETHODCALLTYPE CreateViewObject(HWND w, REFIID i, void** o) override {
    return real_->CreateViewObject(w, i, o);
  }
  HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT n, PCUITEMID_CHILD_ARRAY l, SFGAOF* a) override {
    return real_->GetAttributesOf(n, l, a);
  }
  HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND w, UINT n, PCUITEMID_CHILD_ARRAY l, REFIID i, UINT* r,
                                          void** o) override {
    return real_->GetUIObjectOf(w, n, l, i, r, o);
  }
  HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD l, SHGDNF f, STRRET* n) override {
    return real_->GetDisplayNameOf(l, f, n);
  }
  HRESULT STDMETHODCALLTYPE SetNameOf(HWND w, PCUITEMID_CHILD l, LPCWSTR n, SHGDNF f, PITEMID_CHILD* o) override {
    return real_->SetNameOf(w, l, n, f, o);
  }

 private:
  IShellFolder* real_;
};

// Hooks every acquiring and releasing import of the library for one run.
// Failable calls are numbered in call order; the one numbered fail_at answers
// with its failure instead of reaching the system.
class Ledger {
 public:
  explicit Ledger(int fail_at) : fail_at_(fail_at), rec_(GetModuleHandleW(L"KX_Pellam.dll")) {
    const auto ok = [](LONG r, auto...) { return r == ERROR_SUCCESS; };
    acquiring<decltype(RegOpenKeyExW)>("advapi32", "RegOpenKeyExW", kKey, ERROR_ACCESS_DENIED, ok);
    acquiring<decltype(RegOpenKeyExA)>("advapi32", "RegOpenKeyExA", kKey, ERROR_ACCESS_DENIED, ok);
    acquiring<decltype(RegCreateKeyExW)>("advapi32", "RegCreateKeyExW", kKey, ERROR_ACCESS_DENIED, ok);
    acquiring<decltype(RegCreateKeyExA)>("advapi32", "RegCreateKeyExA", kKey, ERROR_ACCESS_DENIED, ok);
    releasing<decltype(RegCloseKey)>("advapi32", "RegCloseKey", kKey);

    acquiring<decltype(CoInitialize)>("ole32", "CoInitialize", kComInit, E_OUTOFMEMORY,
                                      [](HRESULT r, auto...) { return SUCCEEDED(r); });
    releasing<decltype(CoUninitialize)>("ole32", "CoUninitialize", kComInit);
    acquiring<decltype(CoCreateInstance)>("ole32", "CoCreateInstance", kComObject, E_OUTOFMEMORY,
                                          [this](HRESULT r, auto, auto, auto, auto, void** out) {
                                            return SUCCEEDED(r) && track(static_cast<IUnknown*>(*out));
                                          });
    acquiring<decltype(SHGetDesktopFolder)>("shell32", "SHGetDesktopFolder", kComObject, E_OUTOFMEMORY,
                                            [this](HRESULT r, IShellFolder** out) {
                                              if (FAILED(r) || *out == nullptr) return false;
                                              folders_.push_back(std::make_unique<CountedFolder>(*out));
                                              *out = folders_.back().get();
                                              return true;
                                            });

    const auto opened = [](HANDLE h, auto...) { return h != INVALID_HANDLE_VALUE && h != nullptr; };
    acquiring<decltype(CreateFileW)>("kernel32", "CreateFileW", kHandle, INVALID_HANDLE_VALUE, opened);
    acquiring<decltype(CreateFileA)>("kernel32", "CreateFileA", kHandle, INVALID_HANDLE_VALUE, opened);
    acquiring<decltype(CreateMutexW)>("kernel32", "CreateMutexW", kHandle, HANDLE{}, opened);
    acquiring<decltype(CreateMutexA)>("kernel32", "CreateMutexA", kHandle, HANDLE{}, opened);
    acquiring<decltype(OpenMutexW)>("kernel32", "OpenMutexW", kHandle, HANDLE{}, opened);
    acquiring<decltype(OpenMutexA)>("kernel32", "OpenMutexA", kHandle, HANDLE{}, opened);
    releasing<decltype(CloseHandle)>("kernel32", "CloseHandle", kHandle);
    acquiring<decltype(WaitForSingleObject)>(
        "kernel32", "WaitForSingleObject", kLock, WAIT_FAILED,
        [](DWORD r, auto...) { return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED; });
    releasing<decltype(ReleaseMutex)>("kernel32", "ReleaseMutex", kLock);

    const auto allocated = [](void* p, auto...) { return p != nullptr; };
    acquiring<decltype(HeapAlloc)>("kernel32", "HeapAlloc", kHeap, static_cast<void*>(nullptr), allocated);
    releasing<decltype(HeapFree)>("kernel32", "HeapFree", kHeap);

    // ExtractIcon answers 1 for a file without icons: no icon to destroy.
    const auto icon = [](HICON i, auto...) { return reinterpret_cast<UINT_PTR>(i) > 1; };
    acquiring<decltype(ExtractIconW)>("shell32", "ExtractIconW", kIcon, HICON{}, icon);
    acquiring<decltype(ExtractIconA)>("shell32", "ExtractIconA", kIcon, HICON{}, icon);
    releasing<decltype(DestroyIcon)>("user32", "DestroyIcon", kIcon);
    // Not an acquisition, but the icon the caller handed over must go on
    // this failure too.
    const auto never = [](BOOL, auto...) { return false; };
    acquiring<decltype(Shell_NotifyIconW)>("shell32", "Shell_NotifyIconW", kIcon, FALSE, never);
    acquiring<decltype(Shell_NotifyIconA)>("shell32", "Shell_NotifyIconA", kIcon, FALSE, never);

    acquiring<decltype(ImmGetContext)>("imm32", "ImmGetContext", kImeContext, HIMC{},
                                       [](HIMC c, auto...) { return c != nullptr; });
    releasing<decltype(ImmReleaseContext)>("imm32", "ImmReleaseContext", kImeContext);

    // The folder browser is answered here instead of showing its dialog: a
    // list for C:\ stands for the user's choice, and cancelling is its
    // failure. The root list that the library parsed travels in the record.
    browse<decltype(SHBrowseForFolderW)>("SHBrowseForFolderW");
    browse<decltype(SHBrowseForFolderA)>("SHBrowseForFolderA");
    releasing<decltype(CoTaskMemFree)>("ole32", "CoTaskMemFree", kIdList);
  }

  // The caller's icon, which the library takes over.
  HICON handed_over(HICON icon) {
    ++acquired[kIcon];
    return icon;
  }

  // Gives back the test's own references to the COM objects the library
  // made; each counts as released when the library held none any more.
  void settle() {
    for (const auto& [object, count] : objects_) released[kComObject] += object->Release() + 2 == count;
    objects_.clear();
    for (const auto& folder : folders_) released[kComObject] += folder->refs == 0;
    folders_.clear();
  }

  int points = 0;  // failable calls met so far
  std::array<int, kKinds> acquired{}, released{};

 private:
  bool fails() { return points++ == fail_at_; }

  bool track(IUnknown* object) {
    if (object == nullptr) return false;
    objects_.push_back({object, object->AddRef()});
    return true;
  }

  template <class Fn, class R, class Got>
  void acquiring(const char* dll, const char* name, Kind kind, R failure, Got got) {
    auto& h = rec_.hook<Fn>(dll, name);
    h.script = [this, &h, kind, failure, got](auto... a) -> std::optional<decltype(failure)> {
      if (fails()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return failure;
      }
      const auto r = h.call_real(a...);
      if (got(r, a...)) ++acquired[kind];
      return r;
    };
  }

  template <class Fn>
  void releasing(const char* dll, const char* name, Kind kind) {
    rec_.hook<Fn>(dll, name).observe = [this, kind](auto... a) {
      if constexpr (sizeof...(a) == 0) {
        ++released[kind];
      } else {
        // HeapFree, ImmReleaseContext: the released thing is the last argument.
        released[kind] += std::get<sizeof...(a) - 1>(std::tie(a...)) != nullptr;
      }
    };
  }

  template <class Fn>
  void browse(const char* name) {
    rec_.hook<Fn>("shell32", name).script = [this](auto* record) -> std::optional<LPITEMIDLIST> {
      if (record->pidlRoot != nullptr) ++acquired[kIdList];
      if (fails()) return LPITEMIDLIST{};
      ++acquired[kIdList];
      return ILCreateFromPathW(L"C:\\");
    };
  }

  int fail_at_;
  kxtest::Recorder rec_;
  std::vector<std::pair<IUnknown*, ULONG>> objects_;
  std::vector<std::unique_ptr<CountedFolder>> folders_;
};

// The thread a sequence runs on: without COM, or already in a single- or
// multithreaded apartment of its own.
enum Apartment { kNoCom, kSta, kMta };

struct Case {
  std::string name;
  int exports;  // export calls per run
  std::function<bool(Ledger&)> run;  // true when an undisturbed run did its job
  Apartment apartment = kNoCom;
};

// A top-level window of the calling thread for the window families.
struct Window {
  HWND h = CreateWindowExW(0, L"STATIC", L"balance", WS_OVERLAPPEDWINDOW, 0, 0, 80, 80, nullptr, nullptr,
                           nullptr, nullptr);
  ~Window() { DestroyWindow(h); }
};

const wchar_t kFolder[] = L"C:\\KXTest\\Balance";

// Every call of a sequence is made, also after one has failed, so that each
// run reaches as many paths as it can; the elements of a braced list are
// evaluated in order.
bool all(std::initializer_list<bool> results) {
  for (bool r : results) {
    if (!r) return false;
  }
  return true;
}

template <class C>
void add_cases(std::vector<Case>& out) {
  using S = std::basic_string<C>;
  const char* const w = kxtest::width_suffix<C>();
  const auto t = [w](std::string s) {
    for (std::size_t at; (at = s.find('@')) != std::string::npos;) s.replace(at, 1, w);
    return kxtest::text<C>(s);
  };
  const auto k = [](auto wide, auto narrow) { return kxtest::pick<C>(wide, narrow); };
  const std::string tag = std::string(" ") + w;

  out.push_back({"App Paths" + tag, 3, [=](Ledger&) {
                   C dir[MAX_PATH];
                   const S exe = t("KXBalance@.exe"), path = t("C:\\KXBalance@");
                   return all({k(KX_InstRegistAppPathW, KX_InstRegistAppPathA)(exe.c_str(), path.c_str()) == 0,
                               k(KX_InstQueryAppPathW, KX_InstQueryAppPathA)(exe.c_str(), dir) == 0 && path == dir,
                               k(KX_InstDeleteAppPathW, KX_InstDeleteAppPathA)(exe.c_str()) == 0});
                 }});
  out.push_back({"application key" + tag, 2, [=](Ledger&) {
                   const S a = t("KXBalance"), b = t("@"), c = t("Key");
                   return all({k(KX_InstRegistAppW, KX_InstRegistAppA)(a.c_str(), b.c_str(), c.c_str()) == 0,
                               k(KX_InstDeleteAppW, KX_InstDeleteAppA)(a.c_str(), b.c_str(), c.c_str()) == 0});
                 }});
  out.push_back({"uninstall entry" + tag, 3, [=](Ledger&) {
                   const S key = t("KXBalance@"), name = t("KX Balance"), cmd = t("C:\\u.exe /u"), none = t("");
                   return all({k(KX_InstRegistUninstallerW, KX_InstRegistUninstallerA)(
                                   key.c_str(), name.c_str(), cmd.c_str(), name.c_str(), none.c_str(), cmd.c_str(),
                                   cmd.c_str(), cmd.c_str()) == 0,
                               k(KX_InstMsiProductIconW, KX_InstMsiProductIconA)(nullptr, key.c_str()) == 1,
                               k(KX_InstDeleteUninstallerW, KX_InstDeleteUninstallerA)(key.c_str()) == 0});
                 }});
  out.push_back({"shared-DLL counts" + tag, 6, [=](Ledger&) {
                   const S file = t("C:\\KXTest\\Balance\\shared@.dll");
                   const auto remove = k(KX_InstDeleteSharedDLLsW, KX_InstDeleteSharedDLLsA);
                   const auto up = k(KX_InstCountUpSharedDLLsW, KX_InstCountUpSharedDLLsA);
                   remove(file.c_str());  // what an earlier failed run left
                   return all({up(file.c_str()) == 0, up(file.c_str()) == 0,
                               k(KX_InstGetCountSharedDLLsW, KX_InstGetCountSharedDLLsA)(file.c_str()) == 2,
                               k(KX_InstCountDownSharedDLLsW, KX_InstCountDownSharedDLLsA)(file.c_str()) == 0,
                               remove(file.c_str()) == 0});
                 }});
  out.push_back({"file types" + tag, 4, [=](Ledger&) {
                   C found[MAX_PATH];
                   const S ext = t("kxbal@"), cls = t("KXBalance.@"), desc = t("Balance"), icon = t("C:\\b.exe"),
                           verb = t("open"), key = t("command"), action = t("C:\\b.exe \"%1\""),
                           path = t("KXBalance.@\\shell\\open");
                   k(KX_InstQueryClassNameW, KX_InstQueryClassNameA)(path.c_str(), found);
                   return all({cls == found,
                               k(KX_InstRegistExtW, KX_InstRegistExtA)(ext.c_str(), desc.c_str(), cls.c_str(),
                                                                        icon.c_str(), 0) == 0,
                               k(KX_InstRegistExtActionW, KX_InstRegistExtActionA)(cls.c_str(), verb.c_str(),
                                                                                    key.c_str(), action.c_str()) == 0,
                               k(KX_InstUnregistExtW, KX_InstUnregistExtA)(ext.c_str(), cls.c_str()) == 0});
                 }});
  out.push_back({"shell verb keys" + tag, 2, [=](Ledger&) {
                   const S ext = t("kxbav@"), desc = t("Balance"), path = t("KXBalanceV.@"), value = t("v");
                   return all({k(KX_InstRegistShellKeyW, KX_InstRegistShellKeyA)(ext.c_str(), desc.c_str(),
                                                                                  path.c_str(), value.c_str()) == 0,
                               k(KX_InstUnregistShellKeyW, KX_InstUnregistShellKeyA)(ext.c_str(), path.c_str()) == 0});
                 }});
  out.push_back({"known folders" + tag, 2, [=](Ledger&) {
                   C path[MAX_PATH];
                   const S sub = t("KXBalance");
                   return all({k(KX_GetAppDataPathW, KX_GetAppDataPathA)(path, MAX_PATH, sub.c_str(), nullptr) == 1,
                               k(KX_GetCurrentProgramPathW, KX_GetCurrentProgramPathA)(nullptr, path, MAX_PATH) == 1});
                 }});
  for (Apartment apartment : {kNoCom, kSta, kMta}) {
    const char* const on[] = {" on a thread without COM", " in a single-threaded apartment",
                              " in a multithreaded apartment"};
    out.push_back({"shortcut" + tag + on[apartment], 2, [=](Ledger&) {
                     C target[MAX_PATH], dir[MAX_PATH], desc[MAX_PATH], icon[MAX_PATH];
                     WORD hotkey = 0;
                     int show = 0, index = 0;
                     const S lnk = t("C:\\KXTest\\Balance\\link@.lnk"), file = t("C:\\KXTest\\Balance\\sound@.wav");
                     return all({k(KX_CreateShortcutW, KX_CreateShortcutA)(lnk.c_str(), file.c_str(), nullptr, nullptr,
                                                                          nullptr, 0, SW_SHOWNORMAL) == S_OK,
                                 k(KX_ResolveShortcutW, KX_ResolveShortcutA)(lnk.c_str(), target, dir, desc, &hotkey,
                                                                            &show, icon, &index) == S_OK &&
                                     file == target});
                   },
                   apartment});
  }
  out.push_back({"version resource" + tag, 2, [=](Ledger&) {
                   C text[MAX_PATH];
                   const S file = t("C:\\windows\\system32\\shell32.dll");
                   return all({k(KX_GetResourceVersionInfoW, KX_GetResourceVersionInfoA)(file.c_str(), 3, text,
                                                                                          MAX_PATH) == 1,
                               k(KX_GetProductNameW, KX_GetProductNameA)(file.c_str(), text, MAX_PATH) == 1});
                 }});
  out.push_back({"sound memory" + tag, 2, [=](Ledger&) {
                   const S file = t("C:\\KXTest\\Balance\\sound@.wav");
                   void* const sound = k(KX_SND_LoadSoundW, KX_SND_LoadSoundA)(file.c_str());
                   KX_SND_DeleteSoundMemory(sound);
                   return sound != nullptr;
                 }});
  out.push_back({"icon count" + tag, 1, [=](Ledger&) {
                   const S file = t("C:\\windows\\system32\\shell32.dll");
                   return k(KX_GetExtractIconCountW, KX_GetExtractIconCountA)(GetModuleHandleW(nullptr),
                                                                               file.c_str()) > 0;
                 }});
  out.push_back({"notification icon" + tag, 4, [=](Ledger& l) {
                   const Window window;
                   const S tip = t("balance");
                   const HICON app = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
                   return all({k(KX_TaskBarAddIconW, KX_TaskBarAddIconA)(window.h, 7, l.handed_over(CopyIcon(app)),
                                                                        tip.c_str(), WM_APP) != 0,
                               k(KX_TaskBarModifyIconW, KX_TaskBarModifyIconA)(
                                   window.h, 7, l.handed_over(CopyIcon(app)), tip.c_str()) != 0,
                               k(KX_TaskBarModifyTipW, KX_TaskBarModifyTipA)(window.h, 7, tip.c_str()) != 0,
                               k(KX_TaskBarDeleteIconW, KX_TaskBarDeleteIconA)(window.h, 7) != 0});
                 }});
  out.push_back({"folder browser" + tag, 1, [=](Ledger&) {
                   C path[MAX_PATH];
                   const S title = t("balance"), root = t("C:\\windows");
                   return k(KX_BrowseForFolderW, KX_BrowseForFolderA)(nullptr, title.c_str(), root.c_str(), path) ==
                              1 &&
                          t("C:\\") == path;
                 }});
}

std::vector<Case> all_cases() {
  std::vector<Case> cases;
  add_cases<wchar_t>(cases);
  add_cases<char>(cases);
  cases.push_back({"input method", 4, [](Ledger&) {
                     const Window window;
                     return all({KX_ImeOpen(window.h) != 0, KX_ImeIsOpen(window.h) != 0, KX_ImeClose(window.h) != 0,
                                 KX_ImeIsOpen(window.h) == 0});
                   }});
  cases.push_back({"platform", 5, [](Ledger&) {
                     const int arch = KX_QueryArchitecture();
                     return all({arch >= 0 && arch <= 2, KX_QueryProductTypeW() == KX_QueryProductTypeA(),
                                 KX_IsPlatformXP_LaterW(-1) + KX_IsPlatformXP_x64_LaterW(-1) == 1});
                   }});
  return cases;
}

// One run of a case on the thread its apartment asks for.
bool run(const Case& c, Ledger& ledger) {
  bool ok = false;
  const auto body = [&] {
    ok = c.run(ledger);
    ledger.settle();
  };
  if (c.apartment == kNoCom) {
    body();
    return ok;
  }
  std::thread([&] {
    CoInitializeEx(nullptr, c.apartment == kSta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    body();
    CoUninitialize();
  }).join();
  return ok;
}

TEST(Balance, EveryAcquisitionIsReleasedOnSuccessAndOnEveryFailurePath) {
  CreateDirectoryW(L"C:\\KXTest", nullptr);
  CreateDirectoryW(kFolder, nullptr);
  for (const wchar_t* width : {L"W", L"A"}) {
    const std::wstring sound = std::wstring(kFolder) + L"\\sound" + width + L".wav";
    const HANDLE file = CreateFileW(sound.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "RIFF\x24\0\0\0WAVEdata", 16, &written, nullptr);
    CloseHandle(file);
  }

  int runs = 0, calls = 0, injected = 0;
  std::array<int, kKinds> acquired{}, released{};
  for (const Case& c : all_cases()) {
    const auto check = [&](int fail_at) {
      Ledger ledger(fail_at);
      const bool ok = run(c, ledger);
      const std::string what = c.name + (fail_at < 0 ? "" : ", failing call " + std::to_string(fail_at));
      if (fail_at < 0) {
        EXPECT_TRUE(ok) << what;
      }
      for (int k = 0; k < kKinds; ++k) {
        EXPECT_EQ(ledger.acquired[k], ledger.released[k]) << what << ": " << kKindNames[k];
        acquired[k] += ledger.acquired[k];
        released[k] += ledger.released[k];
      }
      ++runs;
      calls += c.exports;
      return ledger.points;
    };
    const int points = check(-1);
    for (int i = 0; i < points; ++i) check(i);
    injected += points;
    check(-1);  // and every failure left the family in working order
  }

  std::printf("balance: %d sequences run (%d export calls), %d failure paths injected\n", runs, calls, injected);
  for (int k = 0; k < kKinds; ++k) {
    std::printf("balance: %-20s %5d acquired = %5d released\n", kKindNames[k], acquired[k], released[k]);
  }
  EXPECT_GT(injected, 0);
}

}  // namespace
