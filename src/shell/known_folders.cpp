// Known folders of the user and the machine, optionally with sub-folder names
// appended, and the folder of a loaded module. The shell is asked for the
// folder's current location only: no folder is created or tested here.
#include <windows.h>
#include <shlobj.h>

#include <cstddef>

#include "KX_Brindel.h"
#include "KX_Pellam.h"
#include "kx/twins.h"

namespace {

struct FoldersW : kx::Wide {
  static HRESULT shell_folder(int csidl, wchar_t* folder) noexcept {
    return ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
  }
  static DWORD module_file(HMODULE module, wchar_t* path, DWORD capacity) noexcept {
    return ::GetModuleFileNameW(module, path, capacity);
  }
  static void directory_of(const wchar_t* path, wchar_t* out, int capacity) noexcept {
    ::KX_GetDirectoryNameW(path, out, capacity);
  }
};

struct FoldersA : kx::Narrow {
  static HRESULT shell_folder(int csidl, char* folder) noexcept {
    return ::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
  }
  static DWORD module_file(HMODULE module, char* path, DWORD capacity) noexcept {
    return ::GetModuleFileNameA(module, path, capacity);
  }
  static void directory_of(const char* path, char* out, int capacity) noexcept {
    ::KX_GetDirectoryNameA(path, out, capacity);
  }
};

// Empties the output as far as it has room. A size of 0 or below promises no
// room at all, so not even the terminator is written then.
template <class C>
void clear_output(C* out, int size) noexcept {
  if (size > 0) out[0] = 0;
}

// Steps shared by both kinds of shell family. The folder buffer starts empty
// (PathBuffer's constructor), so a shell that succeeds without writing leaves
// an empty path rather than stale stack contents. An empty or unterminated
// folder is refused: composing onto "" would name the root of the current
// drive, and an installer would write there.
template <class T>
bool ask_shell(int csidl, typename T::Char* out, int size, kx::PathBuffer<typename T::Char>& folder,
               std::size_t& folder_length) noexcept {
  if (out == nullptr) return false;
  clear_output(out, size);
  if (FAILED(T::shell_folder(csidl, folder.data()))) return false;
  folder_length = kx::capped_length(folder.c_str(), static_cast<std::size_t>(kx::kPathCapacity));
  return folder_length != 0 && folder_length < static_cast<std::size_t>(kx::kPathCapacity);
}

template <class T>
int plain_folder(int csidl, typename T::Char* out, int size) noexcept {
  kx::PathBuffer<typename T::Char> folder;
  std::size_t n = 0;
  if (!ask_shell<T>(csidl, out, size, folder, n)) return 0;
  if (static_cast<long long>(n) + 1 > size) return 0;
  return kx::bounded_copy(out, static_cast<std::size_t>(size), folder.c_str()) ? 1 : 0;
}

template <class T>
int composed_folder(int csidl, typename T::Char* out, int size, const typename T::Char* first,
                    const typename T::Char* second) noexcept {
  using C = typename T::Char;
  kx::PathBuffer<C> folder;
  std::size_t n = 0;
  if (!ask_shell<T>(csidl, out, size, folder, n)) return 0;

  // The room asked for: the folder's terminator counts even when a name
  // follows, so one name or none needs one character more than it fills.
  std::size_t required = n + 1;
  if (first != nullptr) required += kx::length(first) + 1;
  if (second != nullptr) required += kx::length(second);
  if (size <= 0 || required >= static_cast<std::size_t>(size)) return 0;

  // The formatter also refuses a composition past wsprintf's 1,024-character
  // limit, which a caller's large buffer would otherwise receive cut.
  const auto room = static_cast<std::size_t>(size);
  bool written = false;
  if (first == nullptr && second == nullptr) {
    written = T::format(out, room, KX_TEXT(C, "%s"), folder.c_str());
  } else if (second == nullptr) {
    written = T::format(out, room, KX_TEXT(C, "%s\\%s"), folder.c_str(), first);
  } else if (first == nullptr) {
    // A second name alone goes straight below the folder (folder, backslash,
    // name): exactly the room the size test reserved, and the folder the
    // caller evidently meant rather than a refusal.
    written = T::format(out, room, KX_TEXT(C, "%s\\%s"), folder.c_str(), second);
  } else {
    written = T::format(out, room, KX_TEXT(C, "%s\\%s\\%s"), folder.c_str(), first, second);
  }
  if (!written) return 0;
  return 1;
}

template <class T>
int module_folder(HMODULE module, typename T::Char* out, int size) noexcept {
  using C = typename T::Char;
  if (out == nullptr) return 0;
  clear_output(out, size);
  kx::PathBuffer<C> path;
  const DWORD got = T::module_file(module, path.data(), static_cast<DWORD>(kx::kPathCapacity));
  // A result of the full capacity means the name was cut (and, on older
  // systems, left unterminated): its directory could be a different folder.
  if (got == 0 || got >= static_cast<DWORD>(kx::kPathCapacity)) return 0;
  const std::size_t n = kx::capped_length(path.c_str(), static_cast<std::size_t>(kx::kPathCapacity));
  if (static_cast<long long>(n) + 1 > size) return 0;
  // The size test covers the directory and its backslash only because the
  // directory part of a name that holds a backslash is shorter than the name;
  // a module name without one is no full path to take a folder from.
  static constexpr C kBackslash[] = {C('\\'), C(0)};
  bool has_backslash = false;
  for (std::size_t i = 0; i < n; ++i) has_backslash = has_backslash || path.c_str()[i] == C('\\');
  if (!has_backslash) return 0;
  T::directory_of(path.c_str(), out, kx::kPathCapacity);
  if (!kx::bounded_append(out, static_cast<std::size_t>(size < kx::kPathCapacity ? size : kx::kPathCapacity),
                          kBackslash)) {
    out[0] = 0;
    return 0;
  }
  return 1;
}

}  // namespace

#define KX_COMPOSING_FOLDER(name, csidl)                                                         \
  extern "C" int WINAPI name##W(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2) { \
    return composed_folder<FoldersW>(csidl, buffer, size, subFolder1, subFolder2);              \
  }                                                                                              \
  extern "C" int WINAPI name##A(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2) {    \
    return composed_folder<FoldersA>(csidl, buffer, size, subFolder1, subFolder2);              \
  }

#define KX_PLAIN_FOLDER(name, csidl)                                                             \
  extern "C" int WINAPI name##W(LPWSTR buffer, int size) { return plain_folder<FoldersW>(csidl, buffer, size); } \
  extern "C" int WINAPI name##A(LPSTR buffer, int size) { return plain_folder<FoldersA>(csidl, buffer, size); }

KX_COMPOSING_FOLDER(KX_GetAppDataPath, CSIDL_APPDATA)
KX_COMPOSING_FOLDER(KX_GetAppLocalDataPath, CSIDL_LOCAL_APPDATA)
KX_COMPOSING_FOLDER(KX_GetAppCommonDataPath, CSIDL_COMMON_APPDATA)
KX_COMPOSING_FOLDER(KX_GetProgramPath, CSIDL_PROGRAM_FILES)
KX_COMPOSING_FOLDER(KX_GetProgramCommonPath, CSIDL_PROGRAM_FILES_COMMON)
KX_COMPOSING_FOLDER(KX_GetStartMenuPath, CSIDL_STARTMENU)
KX_COMPOSING_FOLDER(KX_GetStartProgramPath, CSIDL_PROGRAMS)
KX_COMPOSING_FOLDER(KX_GetCommonStartMenuPath, CSIDL_COMMON_STARTMENU)
KX_COMPOSING_FOLDER(KX_GetCommonStartProgramPath, CSIDL_COMMON_PROGRAMS)

KX_PLAIN_FOLDER(KX_GetStartUpPath, CSIDL_STARTUP)
KX_PLAIN_FOLDER(KX_GetCommonStartUpPath, CSIDL_COMMON_STARTUP)
KX_PLAIN_FOLDER(KX_GetMyDocumentPath, CSIDL_PERSONAL)
KX_PLAIN_FOLDER(KX_GetMyPicturePath, CSIDL_MYPICTURES)
KX_PLAIN_FOLDER(KX_GetMyMusicPath, CSIDL_MYMUSIC)
KX_PLAIN_FOLDER(KX_GetMyVideoPath, CSIDL_MYVIDEO)
KX_PLAIN_FOLDER(KX_GetDesktopPath, CSIDL_DESKTOPDIRECTORY)
KX_PLAIN_FOLDER(KX_GetFavoritesPath, CSIDL_FAVORITES)
KX_PLAIN_FOLDER(KX_GetRecentPath, CSIDL_RECENT)
KX_PLAIN_FOLDER(KX_GetSendToPath, CSIDL_SENDTO)
KX_PLAIN_FOLDER(KX_GetCommonDocumentPath, CSIDL_COMMON_DOCUMENTS)
KX_PLAIN_FOLDER(KX_GetCommonDesktopPath, CSIDL_COMMON_DESKTOPDIRECTORY)
KX_PLAIN_FOLDER(KX_GetFontPath, CSIDL_FONTS)

extern "C" int WINAPI KX_GetCurrentProgramPathW(HMODULE module, LPWSTR buffer, int size) {
  return module_folder<FoldersW>(module, buffer, size);
}
extern "C" int WINAPI KX_GetCurrentProgramPathA(HMODULE module, LPSTR buffer, int size) {
  return module_folder<FoldersA>(module, buffer, size);
}
