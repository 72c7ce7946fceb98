/*
 * KX_Brindel: string helpers shared by the KX libraries.
 * WINAPI, undecorated names; compiles as C and as C++.
 */
#ifndef KX_BRINDEL_H
#define KX_BRINDEL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Directory part of a path ---------------------------------------------
 * Writes the directory that holds the last component of path into out,
 * zero-terminated and without a trailing separator, so that appending one
 * backslash gives a folder to put a file name after:
 *   "C:\dir\app.exe"  -> "C:\dir"        "C:\dir\\app.exe" -> "C:\dir"
 *   "C:\app.exe"      -> "C:"            "\app.exe"        -> ""
 *   "app.exe"         -> "."             "C:app.exe"       -> "C:."
 *   "\\srv\share\a"   -> "\\srv\share"
 * Both backslash and slash separate. capacity counts characters (bytes for
 * the A form) and includes the terminator; nothing is written at or past it.
 * out may be the same buffer as path.
 * Returns 1 on success; 0 when out is null or capacity is 0 or below (out
 * untouched), or when path is null or empty or the result does not fit (out
 * set to the empty string). The A form treats path as text in the ANSI code
 * page, double-byte characters included. */
int WINAPI KX_GetDirectoryNameW(LPCWSTR path, LPWSTR out, int capacity);
int WINAPI KX_GetDirectoryNameA(LPCSTR path, LPSTR out, int capacity);

/* ---- A string in double quotes ---------------------------------------------
 * Writes source enclosed in one pair of double quotes into out, e.g.
 *   C:\a b.wav  ->  "C:\a b.wav"
 * A source that already begins and ends with a double quote (and holds no
 * other) is written unchanged, so quoting twice gives the same text.
 * capacity counts characters (bytes for the A form) and includes the
 * terminator; nothing is written at or past it. out may be source itself.
 * Returns 1 when the quoted text fits; 0 when out is null or capacity is 0 or
 * below (out untouched), or when source is null, holds a double quote other
 * than an enclosing pair, or its quoted form does not fit (out set to the
 * empty string). A source of n characters needs a capacity of n + 3. */
int WINAPI KX_SetDoublequoteW(LPCWSTR source, LPWSTR out, int capacity);
int WINAPI KX_SetDoublequoteA(LPCSTR source, LPSTR out, int capacity);

#ifdef __cplusplus
}
#endif

#endif /* KX_BRINDEL_H */
