#!/bin/sh
# $1 demo/round_trip.sh, $2 kx_demo.exe, $3 the registry view (32 or 64).
set -u
script="$1" demo="$2" view="$3"
passed=0 failed=0
check() { # name, condition (shell text)
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1 (exit $rc)"; printf '%s\n' "$out"; fi
}
run() { out=$("$@" 2>&1 </dev/null); rc=$?; out=$(printf '%s' "$out" | tr -d '\r'); }
has() { printf '%s\n' "$out" | grep -qF -- "$1"; }

run sh "$script" "$demo"
check "the round trip holds every proof" '[ $rc = 0 ] && ! has FAIL && [ $(printf "%s\n" "$out" | grep -c "^   ok ") -ge 29 ]'
if [ "$view" = 32 ]; then
  programs='C:\Program Files (x86)' wow='WOW6432Node\KX Demo Makers'
else
  programs='C:\Program Files' wow='KX Demo Makers'
fi
check "the application key is proved in this process's registry view" \
  'has "HKLM\\SOFTWARE\\$wow" && { [ "$view" = 32 ] || ! has WOW6432Node; }'

# Another product already counts the DLL: the demo must say so and keep it.
dlls='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
dll="$programs\\KX Demo Makers\\KX Sample Notes\\KX_Pellam.dll"
wine reg add "$dlls" /v "$dll" /t REG_DWORD /d 1 /f "/reg:$view" >/dev/null 2>&1 </dev/null
run wine "$demo" install
check "a count of 2 fails the install proof" '[ $rc = 1 ] && has "FAIL  HKLM" && has "REG_DWORD 2"'
run wine "$demo" uninstall
check "a remaining count keeps the DLL and fails the clean state" '[ $rc = 1 ] && has "still counts 1" &&
  [ -f "$(winepath -u "$dll" 2>/dev/null)" ]'
wine reg delete "$dlls" /v "$dll" /f "/reg:$view" >/dev/null 2>&1 </dev/null
run wine "$demo" uninstall
check "once the other product is gone, the uninstall completes" '[ $rc = 0 ] && ! has FAIL'
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
