#!/bin/sh
# kxcall.exe as a user drives it. $1 kxcall.exe, $2 the export catalogue
# header, $3 the registry view (32 or 64) of the build under test.
set -u
kx="$1" catalogue="$2" view="/reg:$3"
passed=0 failed=0
check() { # name, condition (shell text) that must hold after the last call
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1 (exit $rc)"; echo "$out"; fi
}
call() { out=$(wine "$kx" "$@" 2>&1 </dev/null); rc=$?; out=$(printf '%s' "$out" | tr -d '\r'); }
has() { printf '%s\n' "$out" | grep -qF -- "$1"; }
reg() { wine reg query "$@" "$view" 2>/dev/null </dev/null | tr -d '\r'; }
absent() { ! wine reg query "$@" "$view" >/dev/null 2>&1 </dev/null; }

call --list
check "--list lists 200 exports" '[ $rc = 0 ] && [ $(printf "%s\n" "$out" | grep -c "^KX_") = 200 ]'
missing=$(grep -o '"KX_[A-Za-z0-9_]*"' "$catalogue" | tr -d '"' | while read -r n; do
  printf '%s\n' "$out" | grep -q "^$n(" || echo "$n"; done)
check "--list holds every catalogue name" '[ -z "$missing" ]'
check "--list shows argument kinds" 'has "KX_CreateShortcutA(str, str, str, str, str, word, int) -> hresult"'

call --help KX_InstRegistAppPathW
check "--help prints the contract" '[ $rc = 0 ] && has "App Paths" && has "(wstr, wstr) -> status"'

app='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\kxcall-tool.exe'
call KX_InstRegistAppPathW kxcall-tool.exe 'C:\Apps\Tool\'
check "App Path registered" '[ $rc = 0 ] && reg "$app" /v Path | grep -qF "C:\\Apps\\Tool\\"'
call KX_InstQueryAppPathA kxcall-tool.exe
check "App Path queried back" '[ $rc = 0 ] && has "out 2: C:\\Apps\\Tool\\"'
call KX_InstDeleteAppPathW kxcall-tool.exe
check "App Path deleted" '[ $rc = 0 ] && absent "$app"'
call KX_InstQueryAppPathW kxcall-tool.exe
check "a missing App Path exits 1 with status 2" '[ $rc = 1 ] && has "result: 2 (error)"'

lnk="$WINEPREFIX/drive_c/kxcall-test.lnk"
call KX_CreateShortcutW 'C:\kxcall-test.lnk' 'C:\windows\notepad.exe' :null 'C:\windows' 'Notes' 0x0641 1
check "shortcut written" '[ $rc = 0 ] && [ -s "$lnk" ]'
call KX_ResolveShortcutA 'C:\kxcall-test.lnk'
check "shortcut resolved" '[ $rc = 0 ] && has "notepad.exe" && has "out 4: Notes" && has "out 5: 1601 (0x641)"'
rm -f "$lnk"

dlls='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
call KX_InstCountUpSharedDLLsW 'C:\kxcall\shared.dll'
check "shared DLL counted up" '[ $rc = 0 ]'
call KX_InstCountUpSharedDLLsA 'C:\kxcall\shared.dll'
check "shared DLL counted up twice" '[ $rc = 0 ] && reg "$dlls" /v "C:\\kxcall\\shared.dll" | grep -q "0x2$"'
call KX_InstGetCountSharedDLLsW 'C:\kxcall\shared.dll'
check "shared DLL count read" '[ $rc = 0 ] && has "result: 2"'
call KX_InstDeleteSharedDLLsW 'C:\kxcall\shared.dll'
call KX_InstGetCountSharedDLLsA 'C:\kxcall\shared.dll'
check "a missing count exits 1" '[ $rc = 1 ] && has "result: -1"'

# Bad arguments: exit 2 with a message, and nothing is called.
call KX_NoSuchExport 1
check "unknown export" '[ $rc = 2 ] && has "no export named \"KX_NoSuchExport\""'
call kx_instregistapppathw a b
check "a near miss is named" '[ $rc = 2 ] && has "did you mean KX_InstRegistAppPathW"'
call KX_InstCountUpSharedDLLsW 'C:\kxcall\extra.dll' surplus
check "wrong argument count" '[ $rc = 2 ] && has "takes 1 argument(s), 2 given"'
check "...and nothing was counted" 'absent "$dlls" /v "C:\\kxcall\\extra.dll"'
call KX_InstRegistExtW kxcalltest Test kxcall.test 'C:\x.ico' 12x
check "a number that does not parse" '[ $rc = 2 ] && has "\"12x\" is not a 32-bit number"'
check "...and nothing was registered" 'absent "HKCR\\.kxcalltest"'
out=$(LC_ALL=C.UTF-8 wine "$kx" KX_InstRegistAppPathA 'Ж.exe' 'C:\Apps\' 2>&1 </dev/null); rc=$?
check "text the ANSI code page lacks" '[ $rc = 2 ] && has "cannot be written in the ANSI code page"'

call KX_SetDoublequoteW 'C:\a b.wav'
check "KX_Brindel exports too" '[ $rc = 0 ] && has "out 2: \"C:\\a b.wav\""'

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
