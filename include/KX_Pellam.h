/*
 * KX_Pellam: everyday Windows installer and desktop chores as plain functions.
 *
 * Every export uses the system calling convention (WINAPI) and an undecorated
 * name in both the 64-bit and the 32-bit DLL. Functions ending in W take
 * UTF-16 strings, their A twins strings in the ANSI code page. Capacities are
 * counted in characters. Nothing is kept between calls.
 *
 * This header compiles as C and as C++.
 */
#ifndef KX_PELLAM_H
#define KX_PELLAM_H

#include <windows.h>

#ifndef KX_PELLAM_API
#define KX_PELLAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Platform identification ----------------------------------------------
 * Each predicate answers 1 when the running system is the named Windows
 * edition, 0 otherwise. servicePack is -1 for any service pack, else the
 * major service-pack number: exactly that one for the exact predicates, that
 * one or later for the _Later ones, which accept the named version or any
 * later. Names without _x64 mean the 32-bit edition, names with _x64 the
 * 64-bit edition (a 32-bit process under WOW64 counts as 64-bit edition).
 * Workstation predicates need product type 1, server predicates 3, so a
 * domain controller (2) matches none.
 */
KX_PELLAM_API int WINAPI KX_IsPlatform2000W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXPW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXPA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXP_x64W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXP_x64A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVistaW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVistaA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVista_x64W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVista_x64A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7_x64W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7_x64A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000ServerW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000ServerA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003ServerW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003ServerA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003Server_x64W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003Server_x64A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServerW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServerA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServer2011W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServer2011A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008ServerW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008ServerA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008Server_x64W(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008Server_x64A(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008R2ServerW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008R2ServerA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXP_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXP_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXP_x64_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformXP_x64_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVista_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVista_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVista_x64_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformVista_x64_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7_x64_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform7_x64_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000Server_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2000Server_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003Server_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003Server_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003Server_x64_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2003Server_x64_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServer_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServer_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServer2011_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatformHomeServer2011_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008Server_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008Server_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008Server_x64_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008Server_x64_LaterA(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008R2Server_LaterW(int servicePack);
KX_PELLAM_API int WINAPI KX_IsPlatform2008R2Server_LaterA(int servicePack);

/* 0: a 32-bit system; 1: a 64-bit process on a 64-bit system;
 * 2: a 32-bit process on a 64-bit system (WOW64). */
KX_PELLAM_API int WINAPI KX_QueryArchitecture(void);
/* The system's product type: 1 workstation, 2 domain controller, 3 server;
 * 0 when the version cannot be read. */
KX_PELLAM_API int WINAPI KX_QueryProductTypeW(void);
KX_PELLAM_API int WINAPI KX_QueryProductTypeA(void);

/* ---- Application registration: App Paths entry and application key -------- */
/* Everything lies under HKEY_LOCAL_MACHINE, so the caller needs write access
 * to the machine's registry. Results are Win32 registry codes: 0 success,
 * 1 a refused call (a null or empty name or directory, a name beginning with
 * a backslash, a null output buffer, or a key path or value of 260 characters
 * or more), else the platform's code, e.g. 2 not found, 5 access denied. A
 * refused call touches neither the registry nor the output buffer. */

/* Writes App Paths\<fileName>: "Path" = directory, and as default value the
 * directory followed directly by fileName, so pass the directory with its
 * trailing backslash. Returns 0 when the key and both values were written,
 * else the code of the failed creation or of the first failed write (both
 * values are attempted). */
KX_PELLAM_API int WINAPI KX_InstRegistAppPathW(LPCWSTR fileName, LPCWSTR directory);
KX_PELLAM_API int WINAPI KX_InstRegistAppPathA(LPCSTR fileName, LPCSTR directory);
/* Reads "Path" of App Paths\<fileName> into directory, a buffer of 260
 * characters (MAX_PATH), always terminated; it is the empty string on every
 * failure. 2 when there is no entry or no "Path", 234 (ERROR_MORE_DATA) when
 * the value does not fit in 259 characters. */
KX_PELLAM_API int WINAPI KX_InstQueryAppPathW(LPCWSTR fileName, LPWSTR directory);
KX_PELLAM_API int WINAPI KX_InstQueryAppPathA(LPCSTR fileName, LPSTR directory);
/* Deletes App Paths\<fileName> (which must have no sub-keys); 2 when it does
 * not exist. */
KX_PELLAM_API int WINAPI KX_InstDeleteAppPathW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstDeleteAppPathA(LPCSTR fileName);
/* Creates the empty key SOFTWARE\<first>\<second>\<third>; 0 also when it
 * exists already. */
KX_PELLAM_API int WINAPI KX_InstRegistAppW(LPCWSTR first, LPCWSTR second, LPCWSTR third);
KX_PELLAM_API int WINAPI KX_InstRegistAppA(LPCSTR first, LPCSTR second, LPCSTR third);
/* Deletes SOFTWARE\<first>\<second>\<third>, then <second> and <first> as
 * far as they have no other sub-keys left. Returns 0 whenever SOFTWARE can be
 * opened, also when nothing was there to delete. */
KX_PELLAM_API int WINAPI KX_InstDeleteAppW(LPCWSTR first, LPCWSTR second, LPCWSTR third);
KX_PELLAM_API int WINAPI KX_InstDeleteAppA(LPCSTR first, LPCSTR second, LPCSTR third);

/* ---- Uninstaller entry and product icon ------------------------------------ */
/* The entry SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<keyName>
 * under HKEY_LOCAL_MACHINE. keyName must not be null or empty, must not
 * begin with a backslash, and the entry's key path must stay below 260
 * characters. */

/* Creates or opens the entry and writes "DisplayName" and "UninstallString"
 * (both required, non-empty), then "Publisher", "DisplayIcon",
 * "DisplayVersion", "InstallLocation" and "URLInfoAbout" for each of those
 * arguments that is not null (an empty string gives an empty value); other
 * values of the entry stay. Returns 1 for a refused call (nothing touched),
 * the creation's code if that fails, else the code of the first value write
 * that failed (every value is still attempted), else 0. */
KX_PELLAM_API int WINAPI KX_InstRegistUninstallerW(LPCWSTR keyName, LPCWSTR displayName,
                                                   LPCWSTR uninstallString, LPCWSTR publisher,
                                                   LPCWSTR displayIcon, LPCWSTR displayVersion,
                                                   LPCWSTR installLocation, LPCWSTR urlInfoAbout);
KX_PELLAM_API int WINAPI KX_InstRegistUninstallerA(LPCSTR keyName, LPCSTR displayName,
                                                   LPCSTR uninstallString, LPCSTR publisher,
                                                   LPCSTR displayIcon, LPCSTR displayVersion,
                                                   LPCSTR installLocation, LPCSTR urlInfoAbout);
/* Deletes the entry (which must have no sub-keys). Returns 0 when it is gone,
 * also when there was none; 1 for a refused keyName; else the code of opening
 * the list or of the deletion (e.g. 5 for an entry with sub-keys). */
KX_PELLAM_API int WINAPI KX_InstDeleteUninstallerW(LPCWSTR keyName);
KX_PELLAM_API int WINAPI KX_InstDeleteUninstallerA(LPCSTR keyName);
/* When the entry has a "DisplayIcon" value that is empty, writes the full
 * path of module into it (a null module: the calling process's executable)
 * and returns 1 once it is written. Returns 0 and writes nothing when the
 * entry or its "DisplayIcon" is missing, the value is not empty, keyName is
 * refused, or the platform gives no path of 259 characters or less for the
 * module; 0 also when the write fails. */
KX_PELLAM_API int WINAPI KX_InstMsiProductIconW(HMODULE module, LPCWSTR keyName);
KX_PELLAM_API int WINAPI KX_InstMsiProductIconA(HMODULE module, LPCSTR keyName);

/* ---- Shared DLL reference counts --------------------------------------------- */
/* Reference counts of shared files, kept as REG_DWORD values of
 * HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs,
 * one per file, named by fileName (by convention the file's full path, at
 * most 259 characters).
 * CountUp, CountDown and Delete return a registry status: 0 on success, 1 when
 * fileName is null, empty or 260 characters or longer (nothing is touched),
 * else the Win32 error of the failing registry call (2 when there is no count
 * to lower or delete).
 * CountUp: a missing count, or a value longer than 4 bytes, becomes 1;
 *   a count of 0xFFFFFFFF stays 0xFFFFFFFF. Creates the key when missing.
 * CountDown: lowers the count by one; a count of 1 (or 0) is removed.
 * GetCount: the count, or -1 when there is none, when fileName is null or
 *   too long, or when the stored count is 0xFFFFFFFF. An empty fileName reads
 *   the key's default value.
 * Delete: removes the count whatever its value.
 * CountUp, CountDown and Delete hold one named mutex ("KX_Pellam.SharedDLLs",
 * global where the caller may create global objects, else per session) for
 * the length of the call, so that callers in any thread or process never
 * lose a change; ERROR_TIMEOUT (1460) when it cannot be had within a minute. */
KX_PELLAM_API int WINAPI KX_InstCountUpSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstCountUpSharedDLLsA(LPCSTR fileName);
KX_PELLAM_API int WINAPI KX_InstCountDownSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstCountDownSharedDLLsA(LPCSTR fileName);
KX_PELLAM_API int WINAPI KX_InstGetCountSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstGetCountSharedDLLsA(LPCSTR fileName);
KX_PELLAM_API int WINAPI KX_InstDeleteSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstDeleteSharedDLLsA(LPCSTR fileName);

/* ---- File-type association ------------------------------------------------- */
/* Keys below HKEY_CLASSES_ROOT: ".<extension>" names the class, the class key
 * holds the description, "<class>\DefaultIcon" the icon as "<file>,<index>",
 * and "<class>\shell\<verb>\<action>" an action's string. Extensions are
 * given without the leading dot. Every key name, and the icon string, must
 * stay below 260 characters; a class name must not start with a backslash.
 * RegistExt: 0 on success; 1 when extension, className or iconFile is null
 *   or empty, when a name would not fit, or when a key cannot be created or
 *   its default value cannot be written (keys written before stay). A null description is written as an empty
 *   value. The shell is not notified.
 * RegistExtAction: 0 on success; 1 when an argument is null or empty or the
 *   action key name would not fit (nothing is touched); else the Win32 error
 *   of creating the action key or of writing its default value. Notifies the shell of changed associations
 *   once its arguments are accepted, also when the key cannot be created.
 * UnregistExt: deletes the extension key and the class key with everything
 *   below them. 0 when both existed and were deleted; 1 when either could not
 *   be deleted (the other is deleted all the same) or when an argument is null,
 *   empty or too long (nothing is touched). Notifies the shell once the
 *   arguments are accepted.
 * QueryClassName: copies keyPath's first component (up to the first
 *   backslash, or all of it) into className, which must hold 260 characters
 *   (MAX_PATH, terminator included); nothing is written beyond that. className
 *   is empty when keyPath is null or empty, starts with a backslash, or its
 *   first component has 260 characters or more. The A form keeps a double-byte
 *   character of the ANSI code page whole, also when its second byte is 0x5C. */
KX_PELLAM_API int WINAPI KX_InstRegistExtW(LPCWSTR extension, LPCWSTR description, LPCWSTR className,
                                           LPCWSTR iconFile, int iconIndex);
KX_PELLAM_API int WINAPI KX_InstRegistExtA(LPCSTR extension, LPCSTR description, LPCSTR className,
                                           LPCSTR iconFile, int iconIndex);
KX_PELLAM_API int WINAPI KX_InstRegistExtActionW(LPCWSTR className, LPCWSTR verb, LPCWSTR actionKey,
                                                 LPCWSTR action);
KX_PELLAM_API int WINAPI KX_InstRegistExtActionA(LPCSTR className, LPCSTR verb, LPCSTR actionKey, LPCSTR action);
KX_PELLAM_API int WINAPI KX_InstUnregistExtW(LPCWSTR extension, LPCWSTR className);
KX_PELLAM_API int WINAPI KX_InstUnregistExtA(LPCSTR extension, LPCSTR className);
KX_PELLAM_API void WINAPI KX_InstQueryClassNameW(LPCWSTR keyPath, LPWSTR className);
KX_PELLAM_API void WINAPI KX_InstQueryClassNameA(LPCSTR keyPath, LPSTR className);


/* ---- Shell verb keys --------------------------------------------------------- */
/* A file type and one key below its class in one call. keyPath is the key's
 * path below HKEY_CLASSES_ROOT, e.g. "MyType.Doc\shell\open\command"; its
 * first component is the class name. No argument may be null or empty; the
 * extension key, keyPath and value must stay below 260 characters. Neither
 * export notifies the shell.
 * RegistShellKey: writes ".<extension>" = class name, class key = description,
 *   keyPath = value (when keyPath is the class name alone, value replaces the
 *   description). Returns 0 or the Win32 error of creating keyPath or writing
 *   its value; 1 when the call is refused (nothing is touched).
 * UnregistShellKey: deletes ".<extension>" and the class key, each only when it
 *   has no sub-keys (so the class of a longer keyPath stays; remove it with
 *   KX_InstUnregistExtW). Returns 0, 1 when refused, or the Win32 error of
 *   opening HKEY_CLASSES_ROOT. */
KX_PELLAM_API int WINAPI KX_InstRegistShellKeyW(LPCWSTR extension, LPCWSTR description, LPCWSTR keyPath,
                                                LPCWSTR value);
KX_PELLAM_API int WINAPI KX_InstRegistShellKeyA(LPCSTR extension, LPCSTR description, LPCSTR keyPath, LPCSTR value);
KX_PELLAM_API int WINAPI KX_InstUnregistShellKeyW(LPCWSTR extension, LPCWSTR keyPath);
KX_PELLAM_API int WINAPI KX_InstUnregistShellKeyA(LPCSTR extension, LPCSTR keyPath);

/* ---- Known-folder paths -------------------------------------------------------- */

/* Each returns 1 with the folder's path in buffer, or 0 with buffer empty:
 * when the system has no such folder, or when buffer is too small (nothing is
 * ever cut). size counts characters (bytes for A) including the terminator.
 * A null buffer returns 0 and nothing happens; a size of 0 or below returns 0
 * and buffer is not written. No folder is created; no trailing backslash.
 *
 * These append up to two sub-folder names, each after one backslash, exactly
 * as given (either may be NULL): folder\subFolder1\subFolder2, folder\subFolder1,
 * folder\subFolder2, or the folder alone. For a folder of n characters, size
 * must be at least n + 2 with no name, n + m + 3 with one name of m
 * characters, n + a + b + 3 with both; the composed path is at most 1,023
 * characters. */
KX_PELLAM_API int WINAPI KX_GetAppDataPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetAppDataPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetAppLocalDataPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetAppLocalDataPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetAppCommonDataPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetAppCommonDataPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetProgramPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetProgramPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetProgramCommonPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetProgramCommonPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetStartMenuPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetStartMenuPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetStartProgramPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetStartProgramPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetCommonStartMenuPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetCommonStartMenuPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetCommonStartProgramPathW(LPWSTR buffer, int size, LPCWSTR subFolder1, LPCWSTR subFolder2);
KX_PELLAM_API int WINAPI KX_GetCommonStartProgramPathA(LPSTR buffer, int size, LPCSTR subFolder1, LPCSTR subFolder2);
/* These return the folder alone; size must be at least its length + 1. */
KX_PELLAM_API int WINAPI KX_GetStartUpPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetStartUpPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCommonStartUpPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCommonStartUpPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyDocumentPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyDocumentPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyPicturePathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyPicturePathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyMusicPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyMusicPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyVideoPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetMyVideoPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetDesktopPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetDesktopPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetFavoritesPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetFavoritesPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetRecentPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetRecentPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetSendToPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetSendToPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCommonDocumentPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCommonDocumentPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCommonDesktopPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCommonDesktopPathA(LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetFontPathW(LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetFontPathA(LPSTR buffer, int size);
/* The folder holding module's file, ending in a backslash (module NULL: the
 * program's executable). size must be at least the length of the module's
 * full file name + 1, although the result is shorter. Returns 1, or 0 with
 * buffer empty when module is no loaded module or buffer is too small. */
KX_PELLAM_API int WINAPI KX_GetCurrentProgramPathW(HMODULE module, LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetCurrentProgramPathA(HMODULE module, LPSTR buffer, int size);

/* ---- Shortcut files ------------------------------------------------------------ */
/* Shortcut (.lnk) files written and read by the shell's own link object.
 * Both return an HRESULT: S_OK (0) on success, not 1; a negative value is the
 * platform's error, passed on (a missing folder or no access on save, a
 * missing or broken file on resolve), or E_INVALIDARG when the call is refused
 * before any COM work: shortcutFile or target NULL, iconFile given without
 * iconIndex, or (A forms) a shortcutFile that does not convert into 260 wide
 * characters with its terminator; nothing is written or read then.
 * Each call initialises COM on the calling thread for its own duration and
 * ends it again; on a thread already in the multithreaded model it works in
 * the caller's COM and leaves it running.
 * CreateShortcut: writes shortcutFile (full name with its extension, which is
 *   neither added nor checked) pointing at target; arguments, workingDirectory
 *   and description are set when not NULL; hotkey (virtual key in the low
 *   byte, HOTKEYF_* in the high byte) and showCommand (SW_*) always. The
 *   target need not exist. No icon location is set.
 * ResolveShortcut: loads shortcutFile and resolves it without any UI. Every
 *   given output starts empty / 0 (showCommand SW_SHOWNORMAL) and keeps that
 *   value when a step before it fails. target and every string buffer given
 *   must hold 260 characters (MAX_PATH, terminator included). For a shortcut
 *   advertised by Windows Installer whose component is installed locally,
 *   target is the component's path. The arguments are not returned. */
KX_PELLAM_API HRESULT WINAPI KX_CreateShortcutW(LPCWSTR shortcutFile, LPCWSTR target, LPCWSTR arguments,
                                                LPCWSTR workingDirectory, LPCWSTR description, WORD hotkey,
                                                int showCommand);
KX_PELLAM_API HRESULT WINAPI KX_CreateShortcutA(LPCSTR shortcutFile, LPCSTR target, LPCSTR arguments,
                                                LPCSTR workingDirectory, LPCSTR description, WORD hotkey,
                                                int showCommand);
KX_PELLAM_API HRESULT WINAPI KX_ResolveShortcutW(LPCWSTR shortcutFile, LPWSTR target, LPWSTR workingDirectory,
                                                 LPWSTR description, WORD *hotkey, int *showCommand,
                                                 LPWSTR iconFile, int *iconIndex);
KX_PELLAM_API HRESULT WINAPI KX_ResolveShortcutA(LPCSTR shortcutFile, LPSTR target, LPSTR workingDirectory,
                                                 LPSTR description, WORD *hotkey, int *showCommand,
                                                 LPSTR iconFile, int *iconIndex);

/* ---- Version resources ---------------------------------------------------------- */
/* One string of fileName's version resource, looked up under the first
 * language and code page of its translation table only. keyIndex: 0 Comments,
 * 1 CompanyName, 2 FileDescription, 3 FileVersion, 4 InternalName,
 * 5 LegalCopyright, 6 LegalTrademarks, 7 OriginalFilename, 8 PrivateBuild,
 * 9 ProductName, 10 ProductVersion, 11 SpecialBuild. size counts characters
 * (bytes for A) including the terminator.
 * Returns 1 when the file's version resource was read, whether or not the
 * string was found; 0 when the file is missing, unreadable or has no version
 * resource, when keyIndex is outside 0..11, or when fileName or buffer is NULL
 * or size is 0 or below (buffer is then not written). buffer holds the string,
 * or is empty: a string that does not fit size is never cut. GetProductName is
 * GetResourceVersionInfo with keyIndex 9. */
KX_PELLAM_API int WINAPI KX_GetResourceVersionInfoW(LPCWSTR fileName, int keyIndex, LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetResourceVersionInfoA(LPCSTR fileName, int keyIndex, LPSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetProductNameW(LPCWSTR fileName, LPWSTR buffer, int size);
KX_PELLAM_API int WINAPI KX_GetProductNameA(LPCSTR fileName, LPSTR buffer, int size);

/* ---- Common dialogs and icon count -----------------------------------------
 * Modal dialogs run on the calling thread. The file dialogs show no initial
 * directory and no default extension, select the first filter pair and pass
 * flags (OFN_*) unchanged; file is a buffer of at least 260 characters that
 * holds the initial name (empty for none) and receives the chosen path.
 * They return nonzero when the user chose a file, 0 on cancel or failure, and
 * 0 without a dialog when file is NULL or holds no terminator within 260
 * characters. On systems where KX_IsPlatform2000_LaterW/A(-1) answers 0 the
 * dialog is given the short (pre-2000) record size.
 */
KX_PELLAM_API int WINAPI KX_GetOpenFileNameW(HWND owner, LPCWSTR title, LPCWSTR filter, DWORD flags, LPWSTR file);
KX_PELLAM_API int WINAPI KX_GetOpenFileNameA(HWND owner, LPCSTR title, LPCSTR filter, DWORD flags, LPSTR file);
KX_PELLAM_API int WINAPI KX_GetSaveFileNameW(HWND owner, LPCWSTR title, LPCWSTR filter, DWORD flags, LPWSTR file);
KX_PELLAM_API int WINAPI KX_GetSaveFileNameA(HWND owner, LPCSTR title, LPCSTR filter, DWORD flags, LPSTR file);
/* Folder browser (file-system folders only). The calling thread must have
 * initialised COM (CoInitialize / OleInitialize); the library does not.
 * root: folder the tree starts at, or NULL for the desktop; a root that
 * cannot be parsed also starts at the desktop, while a root longer than 259
 * characters (narrow: one that does not convert into 260 wide characters)
 * returns 0 without a dialog. path: buffer of at least 260 characters, on
 * entry the folder to select first (may be empty), on success the chosen
 * folder's path. Returns 1 when the user chose a folder, else 0. */
KX_PELLAM_API int WINAPI KX_BrowseForFolderW(HWND owner, LPCWSTR title, LPCWSTR root, LPWSTR path);
KX_PELLAM_API int WINAPI KX_BrowseForFolderA(HWND owner, LPCSTR title, LPCSTR root, LPSTR path);
/* Colour chooser. colour: on entry the initial colour (0x00BBGGRR), on success
 * the chosen one, unchanged otherwise. flags (CC_*) are passed unchanged; pass
 * CC_RGBINIT to start at the initial colour. The custom colours start afresh
 * on every call: the initial colour, then 15 times white. Returns nonzero
 * when the user chose a colour; 0 on cancel, or when colour is NULL. */
KX_PELLAM_API int WINAPI KX_BrowseColor(HWND owner, COLORREF *colour, DWORD flags);
/* Number of icons in an executable, DLL or icon file (0 to 32767), found with
 * at most 15 ExtractIcon probes; every icon handle is destroyed. 0 for a
 * missing file, one without icons, or a NULL file name. instance is passed
 * to ExtractIcon. */
KX_PELLAM_API int WINAPI KX_GetExtractIconCountW(HINSTANCE instance, LPCWSTR file);
KX_PELLAM_API int WINAPI KX_GetExtractIconCountA(HINSTANCE instance, LPCSTR file);

/* ---- Notification-area icons -------------------------------------------------
 * The shell knows an icon by (window, id); pass the same pair on every call.
 * Each function makes one shell call and returns its answer: nonzero on
 * success, 0 on failure (adding a pair that is there, changing or deleting
 * one that is not). tip is at most 127 characters (bytes for A); a longer or
 * NULL tip is refused with 0 and nothing is sent. An empty tip is fine.
 *
 * Ownership: AddIcon and ModifyIcon take over icon and destroy it right after
 * the shell call, whether it succeeded or not, so never use or destroy it
 * afterwards; ModifyIcon does so also when it refuses a long tip. Only when
 * AddIcon refuses (icon NULL, tip NULL or too long) does the icon stay yours.
 * Mouse and keyboard events on the icon arrive at window as callbackMessage.
 * ModifyIcon with tip NULL changes the icon and keeps the shown tip. */
KX_PELLAM_API int WINAPI KX_TaskBarAddIconW(HWND window, UINT id, HICON icon, LPCWSTR tip, UINT callbackMessage);
KX_PELLAM_API int WINAPI KX_TaskBarAddIconA(HWND window, UINT id, HICON icon, LPCSTR tip, UINT callbackMessage);
KX_PELLAM_API int WINAPI KX_TaskBarModifyIconW(HWND window, UINT id, HICON icon, LPCWSTR tip);
KX_PELLAM_API int WINAPI KX_TaskBarModifyIconA(HWND window, UINT id, HICON icon, LPCSTR tip);
KX_PELLAM_API int WINAPI KX_TaskBarModifyTipW(HWND window, UINT id, LPCWSTR tip);
KX_PELLAM_API int WINAPI KX_TaskBarModifyTipA(HWND window, UINT id, LPCSTR tip);
KX_PELLAM_API int WINAPI KX_TaskBarDeleteIconW(HWND window, UINT id);
KX_PELLAM_API int WINAPI KX_TaskBarDeleteIconA(HWND window, UINT id);

/* ---- Window, input and input-method helpers ------------------------------------
 * The Ime functions act on window's input context and return 0 when it has
 * none. Open, Close and Toggle switch the input method (only when its state
 * differs) and return nonzero when the context was released; IsOpen returns
 * the open state, nonzero when on. */
KX_PELLAM_API int WINAPI KX_ImeOpen(HWND window);
KX_PELLAM_API int WINAPI KX_ImeClose(HWND window);
KX_PELLAM_API int WINAPI KX_ImeToggle(HWND window);
KX_PELLAM_API int WINAPI KX_ImeIsOpen(HWND window);

/* Filled by KX_AttachInput, read by KX_DetachInput; keep it in between. */
typedef struct KX_INPUT_ATTACHMENT {
    DWORD attachingThread;  /* the thread that called KX_AttachInput */
    DWORD foregroundThread; /* the thread of the window then in the foreground */
} KX_INPUT_ATTACHMENT;

/* KX_AttachInput brings window (unless NULL) to the top and to the
 * foreground, then attaches the calling thread's input to the thread of the
 * foreground window, fills record and returns AttachThreadInput's answer
 * (nonzero on success; 0 when the foreground window is the caller's own).
 * KX_DetachInput undoes it from any thread. A NULL record returns 0 and
 * nothing is done. */
KX_PELLAM_API int WINAPI KX_AttachInput(HWND window, KX_INPUT_ATTACHMENT* record);
KX_PELLAM_API int WINAPI KX_DetachInput(const KX_INPUT_ATTACHMENT* record);

/* Stops the system from replacing this process's unresponsive windows with
 * ghost windows, for the rest of the process's life. Does nothing on a
 * system that lacks the feature. */
KX_PELLAM_API void WINAPI KX_DisableGhostWindowW(void);
KX_PELLAM_API void WINAPI KX_DisableGhostWindowA(void);

/* Makes window translucent: percent 0 (invisible) .. 99 makes it layered
 * with alpha percent * 255 / 100 and returns nonzero when it was redrawn;
 * 100 makes it opaque and no longer layered and returns its previous
 * extended style (0 on failure). Other values wrap into 0..255 (101 gives
 * alpha 1, -1 gives 254), so keep percent within 0..100. */
KX_PELLAM_API int WINAPI KX_SetAlphaLayer(HWND window, int percent);

/* ---- MCI devices and sound playback ---------------------------------------- */
/* MCI commands sent as strings (winmm). The alias is the caller's name for
 * one open device and is inserted as given, without quotes; MCI keeps the
 * device, the library keeps nothing. Each returns 1 when MCI answered 0, else
 * 0; a command that would not fit is refused with 0 and never sent:
 * OpenDevice: sends  open "<file>" alias <alias>  (no callback window). The
 *   quoted file name must fit 260 characters (file of at most 257; one given
 *   already in quotes is kept as is, any other double quote refuses), and the
 *   quoted name and the alias together at most 507 characters.
 * PlayDevice: sends  play <alias> from 0 Notify  with window as the callback
 *   window (may be NULL); MCI posts MM_MCINOTIFY to it when the play ends.
 *   Always plays from the start. Alias at most 492 characters.
 * StopDevice, CloseDevice: send  stop <alias>, close <alias>  (no callback
 *   window). Alias at most 506 and 505 characters.
 * A null file or alias returns 0 and sends nothing. */
KX_PELLAM_API int WINAPI KX_MCI_OpenDeviceW(LPCWSTR file, LPCWSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_OpenDeviceA(LPCSTR file, LPCSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_PlayDeviceW(HWND window, LPCWSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_PlayDeviceA(HWND window, LPCSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_StopDeviceW(LPCWSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_StopDeviceA(LPCSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_CloseDeviceW(LPCWSTR alias);
KX_PELLAM_API int WINAPI KX_MCI_CloseDeviceA(LPCSTR alias);

/* SoundPlayStart: KX_MCI_OpenDevice(file, alias), then, if it succeeded,
 *   KX_MCI_PlayDevice(window, alias). 1 when both succeeded; 0 otherwise.
 *   The device stays open also when the play step failed: call
 *   KX_SoundPlayStop with the same alias in either case. The library does not
 *   wait for the sound.
 * SoundPlayStop: KX_MCI_StopDevice(alias), then KX_MCI_CloseDevice(alias),
 *   both always; returns 1, also for an alias that was never opened. */
KX_PELLAM_API int WINAPI KX_SoundPlayStartW(HWND window, LPCWSTR file, LPCWSTR alias);
KX_PELLAM_API int WINAPI KX_SoundPlayStartA(HWND window, LPCSTR file, LPCSTR alias);
KX_PELLAM_API int WINAPI KX_SoundPlayStopW(LPCWSTR alias);
KX_PELLAM_API int WINAPI KX_SoundPlayStopA(LPCSTR alias);

/* A sound held in memory. SND_LoadSound reads the whole file (opened without
 * sharing and closed before returning) into a zero-filled block of the process
 * heap of exactly the file's size, and returns the block, or NULL when the
 * file cannot be opened or read, is 4 GB or larger, or memory runs out (no
 * block is left then). The caller owns the block and must free it only with
 * KX_SND_DeleteSoundMemory.
 * SND_PlaySound: PlaySoundW(sound, NULL, flags | SND_MEMORY); returns its
 *   result (nonzero on success). With SND_ASYNC the block must stay alive
 *   while it plays.
 * SND_StopSound: stops whatever PlaySound plays; returns PlaySound's result.
 * SND_DeleteSoundMemory: stops whatever PlaySound plays, then frees sound
 *   (NULL: only stops). */
KX_PELLAM_API LPVOID WINAPI KX_SND_LoadSoundW(LPCWSTR file);
KX_PELLAM_API LPVOID WINAPI KX_SND_LoadSoundA(LPCSTR file);
KX_PELLAM_API int WINAPI KX_SND_PlaySound(LPCVOID sound, DWORD flags);
KX_PELLAM_API int WINAPI KX_SND_StopSound(void);
KX_PELLAM_API void WINAPI KX_SND_DeleteSoundMemory(LPVOID sound);

#ifdef __cplusplus
}
#endif

#endif /* KX_PELLAM_H */
