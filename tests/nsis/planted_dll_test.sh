#!/bin/sh
# An attacker's KX_Brindel.dll beside an installer built with ${KX_Load} and
# in the folder it is started from: the installer must load the real one
# from its plug-ins folder. The attacker's DLL exports what KX_Pellam.dll
# imports and leaves <its path>.loaded when loaded; a control phase loads
# it by path to show the marker works. Runs inside a Wine session.
# $1 makensis  $2 planted_dll.nsi  $3 folder of KX_Pellam.nsh  $4 bin folder
# $5 KX_Brindel.def  $6 C compiler  $7 work folder  $8... NSIS targets
set -u
makensis=$1 nsi=$2 include=$3 bin=$4 def=$5 cc=$6 work=$7
shift 7
passed=0 failed=0
check() { # what, condition (shell text)
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL [$target]: $1"; return 1; fi
}

rm -rf "$work" && mkdir -p "$work/downloads" "$work/current"
cat >"$work/planted.c" <<'C'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  WCHAR path[MAX_PATH + 8];
  DWORD n;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  n = GetModuleFileNameW(self, path, MAX_PATH);
  lstrcpyW(path + n, L".loaded");
  CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  return TRUE;
}
int WINAPI KX_GetDirectoryNameW(LPCWSTR p, LPWSTR o, int c) { return (void)p, (void)o, (void)c, 0; }
int WINAPI KX_GetDirectoryNameA(LPCSTR p, LPSTR o, int c) { return (void)p, (void)o, (void)c, 0; }
int WINAPI KX_SetDoublequoteW(LPCWSTR s, LPWSTR o, int c) { return (void)s, (void)o, (void)c, 0; }
int WINAPI KX_SetDoublequoteA(LPCSTR s, LPSTR o, int c) { return (void)s, (void)o, (void)c, 0; }
C
"$cc" -shared -s -o "$work/downloads/KX_Brindel.dll" "$work/planted.c" "$def" -Wl,--kill-at >"$work/cc.log" 2>&1 ||
  { cat "$work/cc.log"; echo "FAIL: the planted DLL does not build"; exit 1; }
cp "$work/downloads/KX_Brindel.dll" "$work/current/KX_Brindel.dll"

for target in "$@"; do
  setup="$work/downloads/setup-$target.exe"
  rm -f "$work"/*/*.loaded "$work/downloads"/*.log
  "$makensis" -V2 "-DKX_BIN=$bin" "-DKX_TARGET=$target" "-DKX_OUTFILE=$setup" "-X!addincludedir $include" "$nsi" \
    >"$work/makensis-$target.log" 2>&1
  rc=$?
  check "makensis builds planted_dll.nsi" '[ $rc = 0 ]' || continue

  (cd "$work/current" && wine "$setup" /S /PHASE=load </dev/null >/dev/null 2>&1)
  log=$(tr -d '\r' <"$work/downloads/load.log" 2>/dev/null)
  folder=$(printf '%s\n' "$log" | sed -n 's/^folder: //p')
  exedir=$(printf '%s\n' "$log" | sed -n 's/^exedir: //p')
  check "the call through KX_Brindel.dll answers the installer's folder ($folder)" \
    '[ -n "$exedir" ] && [ "$folder" = "$exedir" ] && printf "%s\n" "$log" | grep -qx "result: 1"' || printf '%s\n' "$log"
  check "neither planted KX_Brindel.dll was loaded" \
    '[ ! -e "$work/downloads/KX_Brindel.dll.loaded" ] && [ ! -e "$work/current/KX_Brindel.dll.loaded" ]'

  (cd "$work/current" && wine "$setup" /S /PHASE=control </dev/null >/dev/null 2>&1)
  check "control: loaded by its path, the planted DLL leaves its marker" \
    '[ -e "$work/downloads/KX_Brindel.dll.loaded" ]' || tr -d '\r' <"$work/downloads/control.log"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
