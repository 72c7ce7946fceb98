// The platform's file, folder and colour dialogs with the library's fixed
// settings, and the number of icons a file holds. Every record is built afresh
// on the stack of the call; nothing a dialog returns outlives the call except
// what it writes into the caller's own buffer or variable.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstddef>

#include "KX_Pellam.h"
#include "frame/owners.h"
#include "kx/results.h"
#include "kx/twins.h"

// lStructSize values the platform tells record versions apart by: the full
// record, or the record without its last three fields (pvReserved,
// dwReserved, FlagsEx) that systems before Windows 2000 reject.
#ifdef _WIN64
static_assert(sizeof(OPENFILENAMEW) == 152 && sizeof(OPENFILENAMEA) == 152, "full file dialog record");
static_assert(offsetof(OPENFILENAMEW, pvReserved) == 136 && offsetof(OPENFILENAMEA, pvReserved) == 136, "short");
static_assert(sizeof(CHOOSECOLORA) == 72, "colour record");
#else
static_assert(sizeof(OPENFILENAMEW) == 88 && sizeof(OPENFILENAMEA) == 88, "full file dialog record");
static_assert(offsetof(OPENFILENAMEW, pvReserved) == 76 && offsetof(OPENFILENAMEA, pvReserved) == 76, "short");
static_assert(sizeof(CHOOSECOLORA) == 36, "colour record");
#endif

namespace {

constexpr DWORD kFileCapacity = MAX_PATH;
constexpr int kFirstFilter = 1;
constexpr int kCustomColours = 16;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr int kIconSearchStart = 0x4000;  // halved each probe: at most 15 probes

// The shell parses display names in wide form only; the narrow twin converts
// its root into this buffer, the wide one copies it there so that the shell
// never receives (and may never write) the caller's own string.
using WideRoot = wchar_t[kx::kPathCapacity];

struct DialogsW : kx::Wide {
  using FileRecord = OPENFILENAMEW;
  using FolderRecord = BROWSEINFOW;
  static constexpr DWORD kShortRecord = offsetof(FileRecord, pvReserved);
  static constexpr UINT kSetSelection = BFFM_SETSELECTIONW;

  // Asked through the export, as any caller would: the record size follows
  // whatever that predicate answers, and only that.
  static bool platform2000_or_later() noexcept { return KX_IsPlatform2000_LaterW(-1) != 0; }
  static BOOL open(FileRecord* r) noexcept { return ::GetOpenFileNameW(r); }
  static BOOL save(FileRecord* r) noexcept { return ::GetSaveFileNameW(r); }
  static bool wide_root(const wchar_t* root, WideRoot& out) noexcept {
    return kx::bounded_copy(out, kx::kPathCapacity, root);
  }
  static LPITEMIDLIST browse(FolderRecord* r) noexcept { return ::SHBrowseForFolderW(r); }
  static void path_of(LPCITEMIDLIST list, wchar_t* out) noexcept { ::SHGetPathFromIDListW(list, out); }
  static LRESULT send(HWND window, UINT message, WPARAM w, LPARAM l) noexcept {
    return ::SendMessageW(window, message, w, l);
  }
  static HICON extract(HINSTANCE instance, const wchar_t* file, UINT index) noexcept {
    return ::ExtractIconW(instance, file, index);
  }
};

struct DialogsA : kx::Narrow {
  using FileRecord = OPENFILENAMEA;
  using FolderRecord = BROWSEINFOA;
  static constexpr DWORD kShortRecord = offsetof(FileRecord, pvReserved);
  static constexpr UINT kSetSelection = BFFM_SETSELECTIONA;

  static bool platform2000_or_later() noexcept { return KX_IsPlatform2000_LaterA(-1) != 0; }
  static BOOL open(FileRecord* r) noexcept { return ::GetOpenFileNameA(r); }
  static BOOL save(FileRecord* r) noexcept { return ::GetSaveFileNameA(r); }
  // The conversion fails (0) rather than cut when the root needs more than
  // the buffer, and a failed conversion may leave the buffer unterminated:
  // either way there is no root to parse, and no dialog may be shown over a
  // tree rooted somewhere the caller did not name.
  static bool wide_root(const char* root, WideRoot& out) noexcept {
    return ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, root, -1, out, kx::kPathCapacity) != 0;
  }
  static LPITEMIDLIST browse(FolderRecord* r) noexcept { return ::SHBrowseForFolderA(r); }
  static void path_of(LPCITEMIDLIST list, char* out) noexcept { ::SHGetPathFromIDListA(list, out); }
  static LRESULT send(HWND window, UINT message, WPARAM w, LPARAM l) noexcept {
    return ::SendMessageA(window, message, w, l);
  }
  static HICON extract(HINSTANCE instance, const char* file, UINT index) noexcept {
    return ::ExtractIconA(instance, file, index);
  }
};

// The caller's buffers carry an initial value in, which the platform reads as
// a string: a missing buffer, or one without a terminator within the 260
// characters the contract promises, would have it read past the caller's
// memory. Such a call is refused before any dialog.
template <class C>
bool usable_path_buffer(const C* buffer) noexcept {
  return kx::fits(buffer, kx::kPathCapacity);
}

enum class FileDialog { kOpen, kSave };

template <class T>
int file_dialog(FileDialog kind, HWND owner, const typename T::Char* title, const typename T::Char* filter,
                DWORD flags, typename T::Char* file) noexcept {
  if (!usable_path_buffer(file)) return kx::kNotDone;
  typename T::FileRecord r;
  ZeroMemory(&r, sizeof r);
  r.lStructSize = T::platform2000_or_later() ? sizeof r : T::kShortRecord;
  r.hwndOwner = owner;
  r.lpstrTitle = title;
  r.lpstrFilter = filter;
  r.Flags = flags;
  r.lpstrFile = file;
  r.nMaxFile = kFileCapacity;
  r.nFilterIndex = kFirstFilter;
  return kind == FileDialog::kOpen ? T::open(&r) : T::save(&r);
}

// Selects the caller's folder once the dialog exists; an empty string is
// sent too, which leaves the dialog's own first choice.
template <class T>
int CALLBACK select_initial_folder(HWND dialog, UINT message, LPARAM, LPARAM caller_path) noexcept {
  if (message == BFFM_INITIALIZED) T::send(dialog, T::kSetSelection, TRUE, caller_path);
  return 0;
}

template <class T>
int browse_for_folder(HWND owner, const typename T::Char* title, const typename T::Char* root_path,
                      typename T::Char* path) noexcept {
  using C = typename T::Char;
  if (!usable_path_buffer(path)) return kx::kNotDone;

  kx::ItemIdList root;
  if (root_path != nullptr) {
    WideRoot wide;
    if (!T::wide_root(root_path, wide)) return kx::kNotDone;
    kx::ComPtr<IShellFolder> desktop;
    if (::SHGetDesktopFolder(desktop.put()) != S_OK || !desktop) return kx::kNotDone;
    ULONG parsed = 0;
    ULONG attributes = 0;  // no attributes asked for
    // An unparsable root is no error: the tree then starts at the desktop.
    // Anything the shell handed out along with a failure is freed here.
    if (desktop->ParseDisplayName(nullptr, nullptr, wide, &parsed, root.put(), &attributes) != S_OK) root.reset();
  }

  C display_name[kx::kPathCapacity];
  display_name[0] = 0;
  typename T::FolderRecord r;
  ZeroMemory(&r, sizeof r);
  r.hwndOwner = owner;
  r.pidlRoot = root.get();
  r.pszDisplayName = display_name;
  r.lpszTitle = title;
  r.ulFlags = BIF_RETURNONLYFSDIRS;
  r.lpfn = &select_initial_folder<T>;
  r.lParam = reinterpret_cast<LPARAM>(path);

  kx::ItemIdList chosen(T::browse(&r));
  if (!chosen) return kx::kNotDone;
  // A chosen folder counts even where it has no file-system path to write.
  T::path_of(chosen.get(), path);
  return kx::kDone;
}

template <class T>
int extract_icon_count(HINSTANCE instance, const typename T::Char* file) noexcept {
  // No file name names no file, which holds no icons.
  if (file == nullptr) return 0;
  int count = 0;
  for (int step = kIconSearchStart; step > 0; step /= 2) {
    const HICON answer = T::extract(instance, file, static_cast<UINT>(count + step - 1));
    // ExtractIcon answers 1 for a file that holds no icons at all.
    if (reinterpret_cast<UINT_PTR>(answer) == 1) break;
    const kx::Icon icon(answer);
    if (icon) count += step;
  }
  return count;
}

}  // namespace

extern "C" int WINAPI KX_GetOpenFileNameW(HWND owner, LPCWSTR title, LPCWSTR filter, DWORD flags, LPWSTR file) {
  return file_dialog<DialogsW>(FileDialog::kOpen, owner, title, filter, flags, file);
}
extern "C" int WINAPI KX_GetOpenFileNameA(HWND owner, LPCSTR title, LPCSTR filter, DWORD flags, LPSTR file) {
  return file_dialog<DialogsA>(FileDialog::kOpen, owner, title, filter, flags, file);
}
extern "C" int WINAPI KX_GetSaveFileNameW(HWND owner, LPCWSTR title, LPCWSTR filter, DWORD flags, LPWSTR file) {
  return file_dialog<DialogsW>(FileDialog::kSave, owner, title, filter, flags, file);
}
extern "C" int WINAPI KX_GetSaveFileNameA(HWND owner, LPCSTR title, LPCSTR filter, DWORD flags, LPSTR file) {
  return file_dialog<DialogsA>(FileDialog::kSave, owner, title, filter, flags, file);
}

extern "C" int WINAPI KX_BrowseForFolderW(HWND owner, LPCWSTR title, LPCWSTR root, LPWSTR path) {
  return browse_for_folder<DialogsW>(owner, title, root, path);
}
extern "C" int WINAPI KX_BrowseForFolderA(HWND owner, LPCSTR title, LPCSTR root, LPSTR path) {
  return browse_for_folder<DialogsA>(owner, title, root, path);
}

// The custom colours start afresh on every call: the table lives on this
// call's stack, so no earlier choice can show through.
extern "C" int WINAPI KX_BrowseColor(HWND owner, COLORREF* colour, DWORD flags) {
  // Without a variable there is no initial colour to show and nowhere to put
  // the choice: no dialog is worth showing.
  if (colour == nullptr) return kx::kNotDone;
  const COLORREF initial = *colour;
  COLORREF custom[kCustomColours];
  for (COLORREF& c : custom) c = kWhite;
  custom[0] = initial;

  CHOOSECOLORA r;
  ZeroMemory(&r, sizeof r);
  r.lStructSize = sizeof r;
  r.hwndOwner = owner;
  r.rgbResult = initial;
  r.lpCustColors = custom;
  r.Flags = flags;
  const BOOL chosen = ::ChooseColorA(&r);
  if (chosen) *colour = r.rgbResult;
  return chosen;
}

extern "C" int WINAPI KX_GetExtractIconCountW(HINSTANCE instance, LPCWSTR file) {
  return extract_icon_count<DialogsW>(instance, file);
}
extern "C" int WINAPI KX_GetExtractIconCountA(HINSTANCE instance, LPCSTR file) {
  return extract_icon_count<DialogsA>(instance, file);
}
