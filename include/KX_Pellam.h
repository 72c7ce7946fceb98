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

/* ---- Uninstaller entry and product icon ------------------------------------ */

/* ---- Shared DLL reference counts --------------------------------------------- */
/* Reference counts of shared files, kept as REG_DWORD values of
 * HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs,
 * one per file, named by fileName (by convention the file's full path, at
 * most 259 characters).
 * CountUp, CountDown and Delete return a registry status: 0 on success, 1 when
 * fileName is null, empty or 260 characters or longer (nothing is touched),
 * else the Win32 error of the failing registry call (2 when there is no count
 * to lower or delete).
 * CountUp: a missing count, or a value that is no 4-byte count, becomes 1;
 *   a count of 0xFFFFFFFF stays 0xFFFFFFFF. Creates the key when missing.
 * CountDown: lowers the count by one; a count of 1 (or 0) is removed.
 * GetCount: the count, or -1 when there is none, when fileName is null or
 *   too long, or when the stored count is 0xFFFFFFFF. An empty fileName reads
 *   the key's default value.
 * Delete: removes the count whatever its value. */
KX_PELLAM_API int WINAPI KX_InstCountUpSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstCountUpSharedDLLsA(LPCSTR fileName);
KX_PELLAM_API int WINAPI KX_InstCountDownSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstCountDownSharedDLLsA(LPCSTR fileName);
KX_PELLAM_API int WINAPI KX_InstGetCountSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstGetCountSharedDLLsA(LPCSTR fileName);
KX_PELLAM_API int WINAPI KX_InstDeleteSharedDLLsW(LPCWSTR fileName);
KX_PELLAM_API int WINAPI KX_InstDeleteSharedDLLsA(LPCSTR fileName);

/* ---- File-type association ------------------------------------------------- */

/* ---- Shell verb keys --------------------------------------------------------- */

/* ---- Known-folder paths -------------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* KX_PELLAM_H */
