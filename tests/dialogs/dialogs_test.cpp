// Dialogs and the icon count. Real dialogs under Wine, clicked through by the
// dialog driver, both widths; the recorder only for the record bytes, the
// size decision, item-list balance and icon handles, which no dialog shows.
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "support/dialog_driver.h"
#include "support/recorder.h"

namespace {

using kxtest::Dialog;
using kxtest::DialogDriver;

// Control ids of the platform's dialogs (dlgs.h, colordlg.h, Wine's browser).
constexpr int kFileNameBox = 0x47C, kFileTypeBox = 0x470;  // cmb13, cmb1
constexpr int kRed = 706, kGreen = 707, kBlue = 708, kAddCustom = 712;

template <class C>
std::basic_string<C> text(const std::wstring& ascii) {
  return std::basic_string<C>(ascii.begin(), ascii.end());
}
template <class C>
std::wstring wide(const C* s) {
  std::wstring out;
  for (; *s != 0; ++s) out.push_back(sizeof(C) == 1 ? static_cast<unsigned char>(*s) : static_cast<wchar_t>(*s));
  return out;
}

std::wstring temp_path(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

std::wstring module_dir() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring s = self;
  return s.substr(0, s.rfind(L'\\') + 1);
}

struct ComThread : testing::Test {
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

// The driver itself: a call that shows no dialog, and a dialog it is not
// looking for, fail the test instead of hanging the run.
TEST(DialogDriver, FailsInsteadOfHanging) {
  EXPECT_NONFATAL_FAILURE(
      {
        DialogDriver driver([](Dialog&) {}, 2000);
        Sleep(100);
      },
      "without showing a dialog");
  EXPECT_NONFATAL_FAILURE(
      {
        DialogDriver driver([](Dialog&) {}, 1000, L"kx no such class");
        MessageBoxW(nullptr, L"closed by the dialog driver", L"kx", MB_OK);
      },
      "no dialog appeared within 1000 ms");
}

// A dialog shown by a thread that has fetched no message for over 5 s, and
// stays busy a moment after showing it, is what a file dialog is on a busy
// machine; Wine calls such a thread hung, and a read that gave up on hung
// threads read the caption as empty.
TEST(DialogDriver, ReadsADialogWhoseThreadWasBusy) {
  std::wstring caption;
  {
    DialogDriver driver([&](Dialog& d) {
      caption = d.text();
      d.press(IDOK);
    });
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    Sleep(5500);
    const HWND dialog = CreateWindowExW(0, L"#32770", L"kx busy", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 200, 100,
                                        nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    Sleep(500);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0 && !(msg.hwnd == dialog && msg.message == WM_COMMAND)) {
      DispatchMessageW(&msg);
    }
    DestroyWindow(dialog);
  }
  EXPECT_EQ(caption, L"kx busy");
}

// ---------------------------------------------------------------------------
// File dialogs, real.

template <class C>
using FileFn = int(WINAPI*)(HWND, const C*, const C*, DWORD, C*);

// OK after typing a name, then Cancel after typing one: the title, the first
// filter and the initial name show both times; only OK hands the typed name
// back.
template <class C>
void check_file_dialog(FileFn<C> fn, const std::wstring& chosen) {
  const auto title = text<C>(L"KX title");
  const C filter[] = {'T', 0, '*', '.', 't', 'x', 't', 0, 'A', 0, '*', 0, 0};
  for (int button : {IDOK, IDCANCEL}) {
    C file[MAX_PATH] = {'k', 'x', '.', 't', 'x', 't', 0};
    std::wstring caption, type, shown;
    int result;
    {
      DialogDriver driver([&](Dialog& d) {
        caption = d.text();
        type = d.text(kFileTypeBox);
        shown = d.text(kFileNameBox);
        d.set_text(kFileNameBox, chosen);
        d.press(button);
      });
      result = fn(nullptr, title.c_str(), filter, OFN_NOCHANGEDIR, file);
    }
    EXPECT_EQ(caption + L"|" + type + L"|" + shown, L"KX title|T|kx.txt");
    EXPECT_EQ(result != 0, button == IDOK);
    EXPECT_EQ(wide(file), button == IDOK ? chosen : L"kx.txt");
  }
}

TEST(FileDialogs, InitialNameShowsTypedNameComesBackCancelReturnsZero) {
  const std::wstring chosen = temp_path(L"kx_dialog_choice.txt");
  CloseHandle(CreateFileW(chosen.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  check_file_dialog(FileFn<wchar_t>(KX_GetOpenFileNameW), chosen);
  check_file_dialog(FileFn<char>(KX_GetOpenFileNameA), chosen);
  check_file_dialog(FileFn<wchar_t>(KX_GetSaveFileNameW), chosen);
  check_file_dialog(FileFn<char>(KX_GetSaveFileNameA), chosen);
  DeleteFileW(chosen.c_str());
}

// ---------------------------------------------------------------------------
// Folder browser, real.

std::wstring item_text(const Dialog& d, HWND tree, UINT which) {
  const auto item = reinterpret_cast<HTREEITEM>(d.send(tree, TVM_GETNEXTITEM, which, 0));
  wchar_t label[MAX_PATH] = {};
  TVITEMW tv{};
  tv.mask = TVIF_TEXT;
  tv.hItem = item;
  tv.pszText = label;
  tv.cchTextMax = MAX_PATH;
  if (item != nullptr) d.send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
  return label;
}

class FolderBrowser : public ComThread {
 protected:
  void SetUp() override {
    ComThread::SetUp();
    CreateDirectoryW(base_.c_str(), nullptr);
    CreateDirectoryW(sub_.c_str(), nullptr);
    // Wine builds the shell's system image list on its first use in a
    // process; a folder browser that meets that build on a busy machine has
    // been seen to drop its initial selection. Built here, the browsers
    // below show only what the library asks of them.
    SHFILEINFOW info{};
    SHGetFileInfoW(sub_.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  }
  void TearDown() override {
    RemoveDirectoryW(sub_.c_str());
    RemoveDirectoryW(base_.c_str());
    ComThread::TearDown();
  }

  // The caller's folder is selected at the start, so OK without a click
  // hands it back; Cancel leaves the buffer as it was.
  template <class C>
  void check(int(WINAPI* fn)(HWND, const C*, const C*, C*)) {
    struct Case {
      const wchar_t* root;
      int button;
      const wchar_t* tree_root;
    };
    const Case cases[] = {{nullptr, IDOK, L"Desktop"},
                          {nullptr, IDCANCEL, L"Desktop"},
                          {base_.c_str(), IDOK, L"kx_browse"},
                          {L"C:\\kx no such folder\\at all", IDOK, L"Desktop"}};
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (c.root ? std::string(c.root, c.root + wcslen(c.root)) : "no root"));
      const auto root = text<C>(c.root ? c.root : L"");
      const auto start = text<C>(sub_);
      C path[MAX_PATH] = {};
      std::copy(start.begin(), start.end(), path);
      std::wstring tree_root, selected;
      int result;
      {
        DialogDriver driver([&](Dialog& d) {
          // Wine fills and selects in the tree after the dialog shows.
          const HWND tree = d.control_of_class(WC_TREEVIEWW);
          // Filling the desktop's tree down to the folder takes Wine
          // seconds when the machine is busy with other tests.
          kxtest::wait_until([&] { return item_text(d, tree, TVGN_CARET) == L"inner"; }, 30000);
          tree_root = item_text(d, tree, TVGN_ROOT);
          selected = item_text(d, tree, TVGN_CARET);
          d.press(c.button);
        }, 60000);
        result = fn(nullptr, nullptr, c.root ? root.c_str() : nullptr, path);
      }
      EXPECT_EQ(tree_root, c.tree_root);
      EXPECT_EQ(selected, L"inner") << "the caller's folder is selected at the start";
      EXPECT_EQ(result, c.button == IDOK ? 1 : 0);
      EXPECT_EQ(lstrcmpiW(wide(path).c_str(), sub_.c_str()), 0);
    }
  }
  const std::wstring base_ = temp_path(L"kx_browse"), sub_ = base_ + L"\\inner";
};

TEST_F(FolderBrowser, SelectsChoosesCancelsAndHonoursTheRoot) {
  check(KX_BrowseForFolderW);
  check(KX_BrowseForFolderA);
}

// ---------------------------------------------------------------------------
// Colour chooser, real; its starting table through the recorder.

struct ColourCase {
  const char* name;
  DWORD flags;
  int rgb[3];  // typed into the full dialog's red, green, blue; -1 types nothing
  int button;
  COLORREF want;
};
constexpr COLORREF kInitial = 0x00123456;
const ColourCase kColours[] = {
    {"initial", CC_RGBINIT, {-1}, IDOK, kInitial},
    {"changed", CC_RGBINIT | CC_FULLOPEN, {0x10, 0x20, 0x30}, IDOK, 0x00302010},
    {"cancelled", CC_RGBINIT | CC_FULLOPEN, {0x10, 0x20, 0x30}, IDCANCEL, kInitial},
};

// In a row: the custom colours the earlier calls added never show in a later
// call's table, which the recorder reads as each call starts.
TEST(ColourChooser, ReturnsInitialOrChangedColourAndEveryCallStartsAfresh) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  std::vector<CHOOSECOLORA> records;
  std::vector<std::vector<COLORREF>> tables;
  rec.hook<decltype(ChooseColorA)>("comdlg32.dll", "ChooseColorA").observe = [&](LPCHOOSECOLORA r) {
    records.push_back(*r);
    tables.emplace_back(r->lpCustColors, r->lpCustColors + 16);
  };
  for (const ColourCase& c : kColours) {
    SCOPED_TRACE(c.name);
    COLORREF colour = kInitial;
    int result;
    {
      DialogDriver driver([&](Dialog& d) {
        if (c.rgb[0] >= 0) {
          const int ids[] = {kRed, kGreen, kBlue};
          for (int i = 0; i < 3; ++i) d.set_text(ids[i], std::to_wstring(c.rgb[i]));
          d.press(kAddCustom);
        }
        d.press(c.button);
      });
      result = KX_BrowseColor(nullptr, &colour, c.flags);
    }
    EXPECT_EQ(result != 0, c.button == IDOK);
    EXPECT_EQ(colour, c.want);

    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0][0], kInitial);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(tables[0][i], 0x00FFFFFFu) << "custom colour " << i;
    CHOOSECOLORA want{};
    want.lStructSize = sizeof(void*) == 8 ? 72 : 36;
    want.rgbResult = kInitial;
    want.lpCustColors = records[0].lpCustColors;
    want.Flags = c.flags;
    EXPECT_EQ(std::memcmp(&records[0], &want, sizeof want), 0) << "every other field zero";
    records.clear();
    tables.clear();
  }
}

// ---------------------------------------------------------------------------
// Recorded records: the size decision and every field the library sets.

// Stands in for the version facts KX_IsPlatform2000_Later* reads: a 32-bit
// workstation system at the version asked for, or one below it.
struct PresentPlatform2000 {
  explicit PresentPlatform2000(kxtest::Recorder& rec, bool later) {
    rec.hook<decltype(VerifyVersionInfoW)>("kernel32.dll", "VerifyVersionInfoW").script =
        [later](LPOSVERSIONINFOEXW, DWORD, DWORDLONG) -> std::optional<BOOL> { return later; };
    rec.hook<decltype(VerifyVersionInfoA)>("kernel32.dll", "VerifyVersionInfoA").script =
        [later](LPOSVERSIONINFOEXA, DWORD, DWORDLONG) -> std::optional<BOOL> { return later; };
    rec.hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress").script =
        [](HMODULE, LPCSTR) -> std::optional<FARPROC> { return nullptr; };
    rec.hook<decltype(GetSystemInfo)>("kernel32.dll", "GetSystemInfo").script = [](LPSYSTEM_INFO info) {
      std::memset(info, 0, sizeof *info);
      info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
      return true;
    };
  }
};

template <class Record, class C>
void check_file_record(kxtest::Recorder& rec, const char* dialog, FileFn<C> fn, bool later) {
  std::vector<Record> seen;
  auto& hook = rec.hook<BOOL WINAPI(Record*)>("comdlg32.dll", dialog);
  hook.observe = [&](Record* r) { seen.push_back(*r); };
  hook.script = [](Record*) -> std::optional<BOOL> { return FALSE; };
  const HWND owner = reinterpret_cast<HWND>(0x4321);
  const auto title = text<C>(L"Title");
  const C filter[] = {'A', 0, '*', 0, 0};
  C file[MAX_PATH] = {'x', 0};
  const DWORD flags = OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | 0x80000000u;
  EXPECT_EQ(fn(owner, title.c_str(), filter, flags, file), 0);
  ASSERT_EQ(seen.size(), 1u);
  Record want{};
  want.lStructSize = later ? sizeof(Record) : (sizeof(void*) == 8 ? 136 : 76);
  want.hwndOwner = owner;
  want.lpstrTitle = title.c_str();
  want.lpstrFilter = filter;
  want.Flags = flags;
  want.lpstrFile = file;
  want.nMaxFile = 260;
  want.nFilterIndex = 1;
  EXPECT_EQ(seen[0].lStructSize, want.lStructSize) << dialog << (later ? " on 2000 or later" : " before 2000");
  EXPECT_EQ(std::memcmp(&seen[0], &want, sizeof want), 0) << dialog << ": every other field zero";
}

TEST(FileDialogRecord, SizeFollowsThePredicateAndOnlyTheFixedFieldsAreSet) {
  EXPECT_EQ(sizeof(OPENFILENAMEW), sizeof(void*) == 8 ? 152u : 88u);
  for (bool later : {true, false}) {
    kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
    PresentPlatform2000 platform(rec, later);
    EXPECT_EQ(KX_IsPlatform2000_LaterW(-1), later ? 1 : 0);
    check_file_record<OPENFILENAMEW>(rec, "GetOpenFileNameW", FileFn<wchar_t>(KX_GetOpenFileNameW), later);
    check_file_record<OPENFILENAMEW>(rec, "GetSaveFileNameW", FileFn<wchar_t>(KX_GetSaveFileNameW), later);
    check_file_record<OPENFILENAMEA>(rec, "GetOpenFileNameA", FileFn<char>(KX_GetOpenFileNameA), later);
    check_file_record<OPENFILENAMEA>(rec, "GetSaveFileNameA", FileFn<char>(KX_GetSaveFileNameA), later);
  }
}

// ---------------------------------------------------------------------------
// Folder browser through the recorder: record, callback, item-list balance.
// The browser is scripted: it runs the library's callback as the dialog would
// at its start, then answers with a fresh item list or a cancel.

template <class Record, class C>
void check_browser_record(kxtest::Recorder& rec, int(WINAPI* fn)(HWND, const C*, const C*, C*), UINT set_selection,
                          const char* browse, const char* path_of, const char* send) {
  const LPITEMIDLIST windows = ILCreateFromPathW(L"C:\\windows");
  std::vector<Record> records;
  bool choose = false;
  auto& browse_hook = rec.hook<LPITEMIDLIST WINAPI(Record*)>("shell32.dll", browse);
  browse_hook.script = [&](Record* r) -> std::optional<LPITEMIDLIST> {
    records.push_back(*r);
    r->lpfn(reinterpret_cast<HWND>(0x777), BFFM_INITIALIZED, 0, r->lParam);
    return choose ? ILClone(windows) : nullptr;
  };
  auto& path_hook = rec.hook<BOOL WINAPI(LPCITEMIDLIST, C*)>("shell32.dll", path_of);
  auto& send_hook = rec.hook<LRESULT WINAPI(HWND, UINT, WPARAM, LPARAM)>("user32.dll", send);
  send_hook.script = [](HWND, UINT, WPARAM, LPARAM) -> std::optional<LRESULT> { return 0; };
  auto& desktop = rec.hook<decltype(SHGetDesktopFolder)>("shell32.dll", "SHGetDesktopFolder");
  auto& task_free = rec.hook<decltype(CoTaskMemFree)>("ole32.dll", "CoTaskMemFree");

  const HWND owner = reinterpret_cast<HWND>(0x5678);
  const auto title = text<C>(L"Pick");
  const auto root = text<C>(L"C:\\windows");
  for (int with_root : {0, 1}) {
    for (int chosen : {0, 1}) {
      SCOPED_TRACE(testing::Message() << browse << " root " << with_root << " chosen " << chosen);
      rec.clear();
      records.clear();
      choose = chosen;
      C path[MAX_PATH] = {};
      EXPECT_EQ(fn(owner, title.c_str(), with_root ? root.c_str() : nullptr, path), chosen);
      EXPECT_EQ(desktop.count(), std::size_t(with_root)) << "the desktop folder is asked for only for a root";
      ASSERT_EQ(records.size(), 1u);
      const Record& r = records[0];
      EXPECT_EQ(r.pidlRoot != nullptr, with_root == 1);
      Record want{};
      want.hwndOwner = owner;
      want.pidlRoot = r.pidlRoot;
      want.pszDisplayName = r.pszDisplayName;
      want.lpszTitle = title.c_str();
      want.ulFlags = BIF_RETURNONLYFSDIRS;
      want.lpfn = r.lpfn;
      want.lParam = reinterpret_cast<LPARAM>(path);
      EXPECT_NE(r.pszDisplayName, nullptr);
      EXPECT_EQ(std::memcmp(&r, &want, sizeof want), 0) << "every other field zero";

      // The callback selects the caller's path, empty here, at the start.
      ASSERT_EQ(send_hook.count(), 1u);
      const auto& sent = send_hook.calls[0];
      EXPECT_EQ(sent, std::make_tuple(reinterpret_cast<HWND>(0x777), set_selection, WPARAM(1),
                                      reinterpret_cast<LPARAM>(path)));

      // Every item list handed out is freed: the chosen one, then the root.
      std::vector<const void*> freed;
      for (const auto& call : task_free.calls) {
        if (std::get<0>(call) != nullptr) freed.push_back(std::get<0>(call));
      }
      ASSERT_EQ(freed.size(), std::size_t(with_root + chosen));
      if (with_root) {
        EXPECT_EQ(freed.back(), static_cast<const void*>(r.pidlRoot));
      }
      EXPECT_EQ(path_hook.count(), std::size_t(chosen));
      EXPECT_EQ(lstrcmpiW(wide(path).c_str(), chosen ? L"C:\\windows" : L""), 0);
    }
  }
  ILFree(windows);
}

class FolderBrowserRecord : public ComThread {};

TEST_F(FolderBrowserRecord, FieldsCallbackAndItemListsOnEveryPath) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  check_browser_record<BROWSEINFOW>(rec, KX_BrowseForFolderW, BFFM_SETSELECTIONW, "SHBrowseForFolderW",
                                    "SHGetPathFromIDListW", "SendMessageW");
  check_browser_record<BROWSEINFOA>(rec, KX_BrowseForFolderA, BFFM_SETSELECTIONA, "SHBrowseForFolderA",
                                    "SHGetPathFromIDListA", "SendMessageA");
}

// A root that does not fit a path buffer (narrow: does not convert into one)
// is refused before the desktop folder is asked for or any dialog shown.
TEST_F(FolderBrowserRecord, RootBeyondAPathBufferIsRefusedBeforeAnyDialog) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& browse_w = rec.hook<decltype(SHBrowseForFolderW)>("shell32.dll", "SHBrowseForFolderW");
  auto& browse_a = rec.hook<decltype(SHBrowseForFolderA)>("shell32.dll", "SHBrowseForFolderA");
  auto& desktop = rec.hook<decltype(SHGetDesktopFolder)>("shell32.dll", "SHGetDesktopFolder");
  browse_w.script = [](LPBROWSEINFOW) -> std::optional<LPITEMIDLIST> { return nullptr; };
  browse_a.script = [](LPBROWSEINFOA) -> std::optional<LPITEMIDLIST> { return nullptr; };
  for (std::size_t length : {259u, 260u, 70000u}) {
    SCOPED_TRACE(length);
    const bool fits = length < MAX_PATH;
    const std::string narrow_root = "C:\\" + std::string(length - 3, 'a');
    const std::wstring wide_root(narrow_root.begin(), narrow_root.end());
    char path_a[MAX_PATH] = "C:\\";
    wchar_t path_w[MAX_PATH] = L"C:\\";
    rec.clear();
    EXPECT_EQ(KX_BrowseForFolderA(nullptr, nullptr, narrow_root.c_str(), path_a), 0);
    EXPECT_EQ(KX_BrowseForFolderW(nullptr, nullptr, wide_root.c_str(), path_w), 0);
    EXPECT_EQ(browse_a.count(), fits ? 1u : 0u);
    EXPECT_EQ(browse_w.count(), fits ? 1u : 0u);
    EXPECT_EQ(desktop.count(), fits ? 2u : 0u);
  }
}

// Buffers the platform would read past are refused before any dialog.
TEST(Dialogs, MissingOrUnterminatedBuffersAreRefused) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& open = rec.hook<decltype(GetOpenFileNameW)>("comdlg32.dll", "GetOpenFileNameW");
  auto& browse = rec.hook<decltype(SHBrowseForFolderA)>("shell32.dll", "SHBrowseForFolderA");
  auto& colour = rec.hook<decltype(ChooseColorA)>("comdlg32.dll", "ChooseColorA");
  wchar_t unterminated[MAX_PATH];
  std::fill(std::begin(unterminated), std::end(unterminated), L'x');
  EXPECT_EQ(KX_GetOpenFileNameW(nullptr, nullptr, nullptr, 0, nullptr), 0);
  EXPECT_EQ(KX_GetOpenFileNameW(nullptr, nullptr, nullptr, 0, unterminated), 0);
  EXPECT_EQ(KX_BrowseForFolderA(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(KX_BrowseColor(nullptr, nullptr, 0), 0);
  EXPECT_EQ(open.count() + browse.count() + colour.count(), 0u);
}

// ---------------------------------------------------------------------------
// Icon count.

struct IconFile {
  std::wstring path;
  int count;
  int shell;  // ExtractIconExW(file, -1, ...): Wine answers -1 for a missing file
};

std::vector<IconFile> icon_files() {
  const std::wstring text_file = temp_path(L"kx_not_an_image.txt");
  HANDLE h = CreateFileW(text_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(h, "plain text", 10, &written, nullptr);
  CloseHandle(h);
  const std::wstring dir = module_dir();
  return {{dir + L"kx_icons_1.exe", 1, 1},
          {dir + L"kx_icons_3.exe", 3, 3},
          {dir + L"kx_icons_40.exe", 40, 40},
          {text_file, 0, 0},
          {dir + L"kx_no_such_file.exe", 0, -1}};
}

// Real files, both widths, against the shell's own count; every probe's icon
// destroyed. Wine answers null, never 1, past the last icon and for files
// without icons, so every search here takes all 15 probes.
TEST(IconCount, AgreesWithTheShellAndDestroysEveryIcon) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& extract = rec.hook<decltype(ExtractIconW)>("shell32.dll", "ExtractIconW");
  auto& destroy = rec.hook<decltype(DestroyIcon)>("user32.dll", "DestroyIcon");
  std::vector<HICON> handed_out;
  extract.script = [&](HINSTANCE i, LPCWSTR file, UINT index) -> std::optional<HICON> {
    const HICON h = extract.call_real(i, file, index);
    if (h != nullptr && h != reinterpret_cast<HICON>(1)) handed_out.push_back(h);
    return h;
  };
  for (const IconFile& f : icon_files()) {
    SCOPED_TRACE(testing::Message() << std::string(f.path.begin(), f.path.end()));
    EXPECT_EQ(static_cast<int>(ExtractIconExW(f.path.c_str(), -1, nullptr, nullptr, 0)), f.shell);
    EXPECT_EQ(KX_GetExtractIconCountA(GetModuleHandleW(nullptr), text<char>(f.path).c_str()), f.count);
    rec.clear();
    handed_out.clear();
    EXPECT_EQ(KX_GetExtractIconCountW(GetModuleHandleW(nullptr), f.path.c_str()), f.count);
    EXPECT_EQ(extract.count(), 15u);
    ASSERT_EQ(destroy.count(), handed_out.size());
    for (std::size_t i = 0; i < handed_out.size(); ++i) EXPECT_EQ(std::get<0>(destroy.calls[i]), handed_out[i]);
    if (f.count == 3) {
      const UINT probes[] = {16383, 8191, 4095, 2047, 1023, 511, 255, 127, 63, 31, 15, 7, 3, 1, 2};
      for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(std::get<2>(extract.calls[i]), probes[i]);
    }
  }
  EXPECT_EQ(KX_GetExtractIconCountW(nullptr, nullptr), 0);
}

// Answers Wine never gives: "not a file with icons" at the first probe, and
// an icon at every index.
TEST(IconCount, NotAnIconFileEndsAtOnceAndTheSearchStopsAt32767) {
  struct Case {
    const char* name;
    bool not_icons;
    int count;
    std::size_t probes, destroyed;
  };
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& extract = rec.hook<decltype(ExtractIconA)>("shell32.dll", "ExtractIconA");
  auto& destroy = rec.hook<decltype(DestroyIcon)>("user32.dll", "DestroyIcon");
  for (const Case& c : {Case{"answers 1", true, 0, 1, 0}, Case{"icons everywhere", false, 32767, 15, 15}}) {
    SCOPED_TRACE(c.name);
    rec.clear();
    extract.script = [&](HINSTANCE, LPCSTR, UINT) -> std::optional<HICON> {
      static const BYTE kAnd[] = {0xFF}, kXor[] = {0};
      return c.not_icons ? reinterpret_cast<HICON>(1) : CreateIcon(nullptr, 1, 1, 1, 1, kAnd, kXor);
    };
    EXPECT_EQ(KX_GetExtractIconCountA(nullptr, "C:\\file"), c.count);
    EXPECT_EQ(extract.count(), c.probes);
    EXPECT_EQ(destroy.count(), c.destroyed);
  }
}

}  // namespace
