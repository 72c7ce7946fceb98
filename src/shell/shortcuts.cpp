// Shortcut files through the shell's own link object: the library never reads
// or writes a .lnk byte itself, so whatever the shell writes is what another
// program reads back. Each call lives through one COM start-up, one link
// object and its file interface, all released before the call returns.
#include <windows.h>
#include <msi.h>
#include <objbase.h>
#include <shlobj.h>

#include "KX_Pellam.h"
#include "frame/owners.h"
#include "kx/results.h"
#include "kx/twins.h"

namespace {

// The link object hands text over in fixed buffers of this many characters.
constexpr int kLinkCapacity = kx::kPathCapacity;

// SLR_NO_UI with SLR_NO_UI_WITH_MSG_PUMP; the time-out word stays 0 so the
// shell's default applies. A resolve never shows a dialog.
constexpr DWORD kSilentResolve = SLR_NO_UI | 0x100;

struct LinkW : kx::Wide {
  using Link = IShellLinkW;
  using FindData = WIN32_FIND_DATAW;
  static const IID& link_iid() noexcept { return IID_IShellLinkW; }
  // The file interface takes wide names only; a wide name goes as it is.
  static bool file_name(const wchar_t* path, wchar_t (&wide)[kLinkCapacity]) noexcept {
    (void)wide;
    return path != nullptr;
  }
  static const wchar_t* persist_name(const wchar_t* path, const wchar_t* wide) noexcept {
    (void)wide;
    return path;
  }
  static UINT shortcut_target(const wchar_t* path, wchar_t* product, wchar_t* feature, wchar_t* component) noexcept {
    return ::MsiGetShortcutTargetW(path, product, feature, component);
  }
  static INSTALLSTATE component_path(const wchar_t* product, const wchar_t* component, wchar_t* path,
                                     DWORD* count) noexcept {
    return ::MsiGetComponentPathW(product, component, path, count);
  }
};

struct LinkA : kx::Narrow {
  using Link = IShellLinkA;
  using FindData = WIN32_FIND_DATAA;
  static const IID& link_iid() noexcept { return IID_IShellLinkA; }
  // A narrow name that does not convert whole into a path buffer is refused:
  // a cut name would save over, or load, a different file.
  static bool file_name(const char* path, wchar_t (&wide)[kLinkCapacity]) noexcept {
    if (path == nullptr) return false;
    return ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kLinkCapacity) > 0;
  }
  static const wchar_t* persist_name(const char* path, const wchar_t* wide) noexcept {
    (void)path;
    return wide;
  }
  static UINT shortcut_target(const char* path, char* product, char* feature, char* component) noexcept {
    return ::MsiGetShortcutTargetA(path, product, feature, component);
  }
  static INSTALLSTATE component_path(const char* product, const char* component, char* path, DWORD* count) noexcept {
    return ::MsiGetComponentPathA(product, component, path, count);
  }
};

// The link object of one call and its file interface; members are destroyed
// in reverse order, so the file interface is released first.
template <class T>
struct LinkObject {
  kx::ComPtr<typename T::Link> link;
  kx::ComPtr<IPersistFile> file;

  HRESULT create() noexcept {
    return ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, T::link_iid(), link.put_void());
  }
  HRESULT open_file() noexcept { return link->QueryInterface(IID_IPersistFile, file.put_void()); }
};

template <class T>
HRESULT create_shortcut(const typename T::Char* shortcut, const typename T::Char* target,
                        const typename T::Char* arguments, const typename T::Char* directory,
                        const typename T::Char* description, WORD hotkey, int show) noexcept {
  wchar_t wide[kLinkCapacity];
  if (target == nullptr || !T::file_name(shortcut, wide)) return kx::kComRefused;

  kx::ComInit com;
  LinkObject<T> object;
  HRESULT result = object.create();
  if (FAILED(result)) return result;
  // A setter that fails leaves its field empty; the file is written all the
  // same and the setters' results are not reported.
  object.link->SetPath(target);
  if (arguments != nullptr) object.link->SetArguments(arguments);
  if (directory != nullptr) object.link->SetWorkingDirectory(directory);
  if (description != nullptr) object.link->SetDescription(description);
  object.link->SetHotkey(hotkey);
  object.link->SetShowCmd(show);

  result = object.open_file();
  if (FAILED(result)) return result;
  return object.file->Save(T::persist_name(shortcut, wide), TRUE);
}

// A shortcut that Windows Installer advertises names a component rather than
// a file; when that component is installed locally, its path is the target.
// Otherwise the target is left empty again: the component-path query fills
// in the path of a component that is absent (its key file gone), and the
// shell's GetPath writes nothing at all for an advertised link, so that path
// would otherwise come back as the target of a file that is not there.
template <class T>
bool installed_target(const typename T::Char* shortcut, typename T::Char* target) noexcept {
  using C = typename T::Char;
  C product[kLinkCapacity];
  C feature[kLinkCapacity];
  C component[kLinkCapacity];
  if (T::shortcut_target(shortcut, product, feature, component) != ERROR_SUCCESS) return false;
  DWORD count = kLinkCapacity;
  if (T::component_path(product, component, target, &count) == INSTALLSTATE_LOCAL) return true;
  target[0] = 0;
  return false;
}

// The starting value of every output is what the caller finds when a step
// does not reach it. An icon path without an index address breaks the
// call's contract (the index is written with the path), so such a call is
// refused before anything is written, like a missing target buffer.
template <class T>
HRESULT resolve_shortcut(const typename T::Char* shortcut, typename T::Char* target, typename T::Char* directory,
                         typename T::Char* description, WORD* hotkey, int* show, typename T::Char* icon_path,
                         int* icon_index) noexcept {
  wchar_t wide[kLinkCapacity];
  if (target == nullptr || (icon_path != nullptr && icon_index == nullptr)) return kx::kComRefused;
  if (!T::file_name(shortcut, wide)) return kx::kComRefused;

  kx::ComInit com;
  target[0] = 0;
  if (directory != nullptr) directory[0] = 0;
  if (description != nullptr) description[0] = 0;
  if (hotkey != nullptr) *hotkey = 0;
  if (show != nullptr) *show = SW_SHOWNORMAL;
  if (icon_path != nullptr) {
    icon_path[0] = 0;
    *icon_index = 0;
  }

  LinkObject<T> object;
  HRESULT result = object.create();
  if (FAILED(result)) return result;
  result = object.open_file();
  if (FAILED(result)) return result;

  result = object.file->Load(T::persist_name(shortcut, wide), STGM_READ);
  if (FAILED(result)) return result;
  result = object.link->Resolve(nullptr, kSilentResolve);
  if (FAILED(result)) return result;
  if (!installed_target<T>(shortcut, target)) {
    typename T::FindData scratch{};
    result = object.link->GetPath(target, kLinkCapacity, &scratch, SLGP_UNCPRIORITY);
    if (FAILED(result)) return result;
  }
  if (directory != nullptr) {
    result = object.link->GetWorkingDirectory(directory, kLinkCapacity);
    if (FAILED(result)) return result;
  }
  if (description != nullptr) {
    result = object.link->GetDescription(description, kLinkCapacity);
    if (FAILED(result)) return result;
  }
  if (hotkey != nullptr) {
    result = object.link->GetHotkey(hotkey);
    if (FAILED(result)) return result;
  }
  if (show != nullptr) {
    result = object.link->GetShowCmd(show);
    if (FAILED(result)) return result;
  }
  if (icon_path != nullptr) result = object.link->GetIconLocation(icon_path, kLinkCapacity, icon_index);
  return result;
}

}  // namespace

extern "C" HRESULT WINAPI KX_CreateShortcutW(LPCWSTR shortcutFile, LPCWSTR target, LPCWSTR arguments,
                                             LPCWSTR workingDirectory, LPCWSTR description, WORD hotkey,
                                             int showCommand) {
  return create_shortcut<LinkW>(shortcutFile, target, arguments, workingDirectory, description, hotkey, showCommand);
}
extern "C" HRESULT WINAPI KX_CreateShortcutA(LPCSTR shortcutFile, LPCSTR target, LPCSTR arguments,
                                             LPCSTR workingDirectory, LPCSTR description, WORD hotkey,
                                             int showCommand) {
  return create_shortcut<LinkA>(shortcutFile, target, arguments, workingDirectory, description, hotkey, showCommand);
}
extern "C" HRESULT WINAPI KX_ResolveShortcutW(LPCWSTR shortcutFile, LPWSTR target, LPWSTR workingDirectory,
                                              LPWSTR description, WORD* hotkey, int* showCommand, LPWSTR iconFile,
                                              int* iconIndex) {
  return resolve_shortcut<LinkW>(shortcutFile, target, workingDirectory, description, hotkey, showCommand, iconFile,
                                 iconIndex);
}
extern "C" HRESULT WINAPI KX_ResolveShortcutA(LPCSTR shortcutFile, LPSTR target, LPSTR workingDirectory,
                                              LPSTR description, WORD* hotkey, int* showCommand, LPSTR iconFile,
                                              int* iconIndex) {
  return resolve_shortcut<LinkA>(shortcutFile, target, workingDirectory, description, hotkey, showCommand, iconFile,
                                 iconIndex);
}
