#include <cstring>

#include "table.h"

namespace kxcall {
namespace {

#define KX_W(base, B, R, help, ...) \
  row<decltype(&base##W), true, B, R __VA_OPT__(, ) __VA_ARGS__>(#base "W", help)
#define KX_A(base, B, R, help, ...) \
  row<decltype(&base##A), false, B, R __VA_OPT__(, ) __VA_ARGS__>(#base "A", help)
#define TWIN(base, R, help, ...) KX_W(base, false, R, help, __VA_ARGS__), KX_A(base, false, R, help, __VA_ARGS__)
#define ONE(fn, R, help, ...) row<decltype(&fn), true, false, R __VA_OPT__(, ) __VA_ARGS__>(#fn, help)
#define EXACT(base, what) \
  TWIN(base, flag, "1 when the system is " what "; servicePack -1 for any, else exactly that one.", i)
#define LATER(base, what) \
  TWIN(base, flag, "1 when the system is " what " or later; servicePack -1 for any, else that one or later.", i)
#define FOLDER2(base, what)                                                                          \
  TWIN(base, flag,                                                                                   \
       "1 with the " what " folder, with subFolder1 and subFolder2 appended when not :null; 0 with " \
       "an empty buffer.",                                                                           \
       buf, cap, s, s)
#define FOLDER(base, what) TWIN(base, flag, "1 with the " what " folder in buffer; 0 with an empty buffer.", buf, cap)

constexpr Export kExports[] = {
    // Platform identification
    EXACT(KX_IsPlatform2000, "Windows 2000 Professional"),
    EXACT(KX_IsPlatformXP, "Windows XP (32-bit)"),
    EXACT(KX_IsPlatformXP_x64, "Windows XP x64"),
    EXACT(KX_IsPlatformVista, "Windows Vista (32-bit)"),
    EXACT(KX_IsPlatformVista_x64, "Windows Vista x64"),
    EXACT(KX_IsPlatform7, "Windows 7 (32-bit)"),
    EXACT(KX_IsPlatform7_x64, "Windows 7 x64"),
    EXACT(KX_IsPlatform2000Server, "Windows 2000 Server"),
    EXACT(KX_IsPlatform2003Server, "Windows Server 2003 (32-bit)"),
    EXACT(KX_IsPlatform2003Server_x64, "Windows Server 2003 x64"),
    EXACT(KX_IsPlatformHomeServer, "Windows Home Server"),
    EXACT(KX_IsPlatformHomeServer2011, "Windows Home Server 2011"),
    EXACT(KX_IsPlatform2008Server, "Windows Server 2008 (32-bit)"),
    EXACT(KX_IsPlatform2008Server_x64, "Windows Server 2008 x64"),
    EXACT(KX_IsPlatform2008R2Server, "Windows Server 2008 R2"),
    LATER(KX_IsPlatform2000_Later, "Windows 2000 Professional"),
    LATER(KX_IsPlatformXP_Later, "Windows XP (32-bit)"),
    LATER(KX_IsPlatformXP_x64_Later, "Windows XP x64"),
    LATER(KX_IsPlatformVista_Later, "Windows Vista (32-bit)"),
    LATER(KX_IsPlatformVista_x64_Later, "Windows Vista x64"),
    LATER(KX_IsPlatform7_Later, "Windows 7 (32-bit)"),
    LATER(KX_IsPlatform7_x64_Later, "Windows 7 x64"),
    LATER(KX_IsPlatform2000Server_Later, "Windows 2000 Server"),
    LATER(KX_IsPlatform2003Server_Later, "Windows Server 2003 (32-bit)"),
    LATER(KX_IsPlatform2003Server_x64_Later, "Windows Server 2003 x64"),
    LATER(KX_IsPlatformHomeServer_Later, "Windows Home Server"),
    LATER(KX_IsPlatformHomeServer2011_Later, "Windows Home Server 2011"),
    LATER(KX_IsPlatform2008Server_Later, "Windows Server 2008 (32-bit)"),
    LATER(KX_IsPlatform2008Server_x64_Later, "Windows Server 2008 x64"),
    LATER(KX_IsPlatform2008R2Server_Later, "Windows Server 2008 R2"),
    ONE(KX_QueryArchitecture, arch, "0 a 32-bit system, 1 a 64-bit process on a 64-bit system, 2 a 32-bit process there."),
    TWIN(KX_QueryProductType, code, "1 workstation, 2 domain controller, 3 server; 0 when it cannot be read."),

    // Application registration (HKLM)
    TWIN(KX_InstRegistAppPath, status,
         "fileName directory: writes App Paths\\fileName, Path = directory, default = directory+fileName "
         "(give directory with its trailing backslash). 0 done, 1 refused, else the Win32 error.",
         s, s),
    TWIN(KX_InstQueryAppPath, status, "fileName: prints the entry's Path. 0 done, 2 no entry, 1 refused.", s, buf260),
    TWIN(KX_InstDeleteAppPath, status, "fileName: deletes App Paths\\fileName. 0 done, 2 none, 1 refused.", s),
    TWIN(KX_InstRegistApp, status, "first second third: creates HKLM\\SOFTWARE\\first\\second\\third. 0 done, 1 refused.",
         s, s, s),
    TWIN(KX_InstDeleteApp, status,
         "first second third: deletes SOFTWARE\\first\\second\\third and the emptied parents. 0 done.", s, s, s),
    TWIN(KX_InstRegistUninstaller, status,
         "keyName displayName uninstallString publisher displayIcon displayVersion installLocation urlInfoAbout: "
         "writes the uninstall entry (the last five may be :null). 0 done, 1 refused.",
         s, s, s, s, s, s, s, s),
    TWIN(KX_InstDeleteUninstaller, status, "keyName: deletes the uninstall entry; 0 also when there was none.", s),
    TWIN(KX_InstMsiProductIcon, flag,
         "module keyName: fills the entry's empty DisplayIcon with module's path (0: this program). 1 written.", hmod, s),

    // Shared DLL counts (HKLM SharedDLLs)
    TWIN(KX_InstCountUpSharedDLLs, status, "fileName: raises the file's shared count by one. 0 done, 1 refused.", s),
    TWIN(KX_InstCountDownSharedDLLs, status,
         "fileName: lowers the count by one, removing it at 1. 0 done, 2 no count, 1 refused.", s),
    TWIN(KX_InstGetCountSharedDLLs, count, "fileName: the file's shared count; -1 when there is none.", s),
    TWIN(KX_InstDeleteSharedDLLs, status, "fileName: removes the count whatever its value. 0 done, 2 none.", s),

    // File types and shell verbs (HKCR)
    TWIN(KX_InstRegistExt, status,
         "extension description className iconFile iconIndex: registers .extension as className with its icon. "
         "0 done, 1 failed or refused.",
         s, s, s, s, i),
    TWIN(KX_InstRegistExtAction, status,
         "className verb actionKey action: writes className\\shell\\verb\\actionKey = action. 0 done, 1 refused.", s, s,
         s, s),
    TWIN(KX_InstUnregistExt, status, "extension className: deletes both keys and all below. 0 done, 1 failed.", s, s),
    TWIN(KX_InstQueryClassName, none, "keyPath: prints its first component (empty when refused).", s, buf260),
    TWIN(KX_InstRegistShellKey, status,
         "extension description keyPath value: .extension = class, class = description, keyPath = value. 0 done.", s, s,
         s, s),
    TWIN(KX_InstUnregistShellKey, status,
         "extension keyPath: deletes .extension and the class key where they have no sub-keys. 0 done.", s, s),

    // Known folders
    FOLDER2(KX_GetAppDataPath, "user's roaming application-data"),
    FOLDER2(KX_GetAppLocalDataPath, "user's local application-data"),
    FOLDER2(KX_GetAppCommonDataPath, "all users' application-data"),
    FOLDER2(KX_GetProgramPath, "Program Files"),
    FOLDER2(KX_GetProgramCommonPath, "Common Files"),
    FOLDER2(KX_GetStartMenuPath, "user's Start Menu"),
    FOLDER2(KX_GetStartProgramPath, "user's Start Menu Programs"),
    FOLDER2(KX_GetCommonStartMenuPath, "all users' Start Menu"),
    FOLDER2(KX_GetCommonStartProgramPath, "all users' Start Menu Programs"),
    FOLDER(KX_GetStartUpPath, "user's Startup"),
    FOLDER(KX_GetCommonStartUpPath, "all users' Startup"),
    FOLDER(KX_GetMyDocumentPath, "user's Documents"),
    FOLDER(KX_GetMyPicturePath, "user's Pictures"),
    FOLDER(KX_GetMyMusicPath, "user's Music"),
    FOLDER(KX_GetMyVideoPath, "user's Videos"),
    FOLDER(KX_GetDesktopPath, "user's Desktop"),
    FOLDER(KX_GetFavoritesPath, "user's Favorites"),
    FOLDER(KX_GetRecentPath, "user's Recent"),
    FOLDER(KX_GetSendToPath, "user's SendTo"),
    FOLDER(KX_GetCommonDocumentPath, "all users' Documents"),
    FOLDER(KX_GetCommonDesktopPath, "all users' Desktop"),
    FOLDER(KX_GetFontPath, "Fonts"),
    TWIN(KX_GetCurrentProgramPath, flag,
         "module: the folder of module's file with a trailing backslash (0: this program). 0 with an empty buffer.",
         hmod, buf, cap),

    // Shortcuts and version resources
    TWIN(KX_CreateShortcut, hres,
         "shortcutFile target arguments workingDirectory description hotkey showCommand: writes a .lnk "
         "(the three texts may be :null). 0 (S_OK) done, negative the HRESULT of the failure.",
         s, s, s, s, s, w, i),
    TWIN(KX_ResolveShortcut, hres,
         "shortcutFile: prints target, working directory, description, hotkey, show command, icon file and "
         "index. 0 (S_OK) done.",
         s, buf260, buf260, buf260, outw, outi, buf260, outi),
    TWIN(KX_GetResourceVersionInfo, flag,
         "fileName keyIndex: one version string (0 Comments .. 9 ProductName, 10 ProductVersion, 11 SpecialBuild). "
         "1 when the resource was read.",
         s, i, buf, cap),
    TWIN(KX_GetProductName, flag, "fileName: the ProductName version string; 1 when the resource was read.", s, buf,
         cap),

    // Dialogs and icon count
    TWIN(KX_GetOpenFileName, flag,
         "owner title filter flags file: the open dialog (filter as Text|*.txt|All|*.*|); prints the chosen file. "
         "Nonzero when chosen.",
         hwnd, s, filter, dw, io260),
    TWIN(KX_GetSaveFileName, flag,
         "owner title filter flags file: the save dialog (filter as Text|*.txt|); prints the chosen file. Nonzero "
         "when chosen.",
         hwnd, s, filter, dw, io260),
    TWIN(KX_BrowseForFolder, flag,
         "owner title root path: the folder browser (root :null for the desktop); prints the chosen folder.", hwnd, s, s,
         io260),
    ONE(KX_BrowseColor, flag, "owner colour flags: the colour chooser (colour 0x00BBGGRR); prints the chosen colour.",
        hwnd, iocolour, dw),
    TWIN(KX_GetExtractIconCount, count, "instance file: the number of icons in file; 0 for none or a missing file.",
         hmod, s),

    // Notification icons, window and input helpers
    TWIN(KX_TaskBarAddIcon, flag,
         "window id icon tip callbackMessage: adds a notification icon (takes over icon). Nonzero done.", hwnd, u,
         hicon, s, u),
    TWIN(KX_TaskBarModifyIcon, flag, "window id icon tip: changes the icon (takes over icon); tip :null keeps it.",
         hwnd, u, hicon, s),
    TWIN(KX_TaskBarModifyTip, flag, "window id tip: changes the tool-tip (at most 127 characters).", hwnd, u, s),
    TWIN(KX_TaskBarDeleteIcon, flag, "window id: removes the notification icon.", hwnd, u),
    ONE(KX_ImeOpen, flag, "window: switches its input method on; nonzero when its context was released.", hwnd),
    ONE(KX_ImeClose, flag, "window: switches its input method off.", hwnd),
    ONE(KX_ImeToggle, flag, "window: switches its input method over.", hwnd),
    ONE(KX_ImeIsOpen, flag, "window: nonzero when its input method is on.", hwnd),
    ONE(KX_AttachInput, flag,
        "window: brings window forward and attaches this thread's input to the foreground thread; prints the record.",
        hwnd, recout),
    ONE(KX_DetachInput, flag, "attachingThread foregroundThread: detaches what KX_AttachInput attached.", recin),
    TWIN(KX_DisableGhostWindow, none, "stops ghosting of this process's windows."),
    ONE(KX_SetAlphaLayer, flag, "window percent: 0..99 translucent, 100 opaque; nonzero on success.", hwnd, i),

    // Sound and MCI
    TWIN(KX_MCI_OpenDevice, flag, "file alias: MCI open \"file\" alias alias; 1 when MCI answered 0.", s, s),
    TWIN(KX_MCI_PlayDevice, flag, "window alias: MCI play alias from 0 Notify; 1 when MCI answered 0.", hwnd, s),
    TWIN(KX_MCI_StopDevice, flag, "alias: MCI stop alias; 1 when MCI answered 0.", s),
    TWIN(KX_MCI_CloseDevice, flag, "alias: MCI close alias; 1 when MCI answered 0.", s),
    TWIN(KX_SoundPlayStart, flag, "window file alias: opens file under alias and plays it; 1 when both worked.", hwnd, s,
         s),
    TWIN(KX_SoundPlayStop, flag, "alias: stops and closes alias; always 1.", s),
    TWIN(KX_SND_LoadSound, addr,
         "file: reads file into a heap block and prints its address (freed when kxcall ends); null on failure.", s),
    ONE(KX_SND_PlaySound, flag, "sound flags: PlaySound from the memory block at address sound; nonzero done.", cptr, dw),
    ONE(KX_SND_StopSound, flag, "stops whatever PlaySound plays."),
    ONE(KX_SND_DeleteSoundMemory, none, "sound: stops PlaySound and frees the block (0: only stops).", ptr),

    // KX_Brindel
    KX_W(KX_GetDirectoryName, true, flag, "path: the directory holding path's last component. 1 done.", s, buf, cap),
    KX_A(KX_GetDirectoryName, true, flag, "path: the directory holding path's last component. 1 done.", s, buf, cap),
    KX_W(KX_SetDoublequote, true, flag, "source: source in one pair of double quotes. 1 done.", s, buf, cap),
    KX_A(KX_SetDoublequote, true, flag, "source: source in one pair of double quotes. 1 done.", s, buf, cap),
};

constexpr bool same(const char* a, const char* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

constexpr bool all_distinct() {
  for (const Export& x : kExports)
    for (const Export& y : kExports)
      if (&x != &y && same(x.name, y.name)) return false;
  return true;
}

// 196 of KX_Pellam and 4 of KX_Brindel; being distinct and each matching a
// declaration, they are the whole surface of both headers.
static_assert(sizeof(kExports) / sizeof(kExports[0]) == 200);
static_assert(all_distinct());

}  // namespace

const Export* begin() { return kExports; }
const Export* end() { return kExports + sizeof(kExports) / sizeof(kExports[0]); }

const Export* find(const char* name) {
  for (const Export& e : kExports)
    if (std::strcmp(e.name, name) == 0) return &e;
  return nullptr;
}

const Export* find_ignoring_case(const char* name) {
  for (const Export& e : kExports)
    if (lstrcmpiA(e.name, name) == 0) return &e;
  return nullptr;
}

}  // namespace kxcall
