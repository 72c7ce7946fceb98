#!/bin/sh
# The installer round trip: kx_demo.exe installs the pretend product, Wine's
# own programs show what landed, kx_demo.exe uninstalls it, and the same
# programs show it gone. Runs inside a Wine session (WINEPREFIX set).
# $1 kx_demo.exe. Exits 1 when any proof failed.
set -u
demo="$1"
status=0
fail() { echo "   FAIL  $1"; status=1; }
# The product's folders below C:\ (find does not follow the profile's links
# into the Linux home).
folders() {
  (cd "$WINEPREFIX/drive_c" &&
    find . \( -name 'KX Demo Makers' -o -name 'KX Sample Notes' \) -prune -exec find {} \; | sort)
}
# Wine's list of installed programs: Wine 8 prints it on standard output, Wine
# 10 through its own debug output on standard error. A control entry written
# with reg.exe must show in every reading: a reading without it read nothing
# and proves nothing, listed or gone. (Into a file: a service Wine starts may
# keep a pipe open.)
control='KX_Round_Trip_Control'
control_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$control"
listing=$(mktemp)
programs() {
  wine uninstaller --list </dev/null >"$listing" 2>&1
  tr -d '\r' <"$listing" | grep -qxF "$control|||KX Round Trip Control" && tr -d '\r' <"$listing"
}
wine reg add "$control_key" /v DisplayName /d 'KX Round Trip Control' /f </dev/null >/dev/null 2>&1
wine reg add "$control_key" /v UninstallString /d 'C:\control.exe' /f </dev/null >/dev/null 2>&1

wine "$demo" install </dev/null || fail "the install phase"
echo "== Outside the program, after the install"
echo "-- wine uninstaller --list (Wine's list of installed programs)"
if ! list=$(programs); then fail "the list was not read: no control entry"
elif entry=$(printf '%s\n' "$list" | grep -F 'KX_Sample_Notes|||'); then echo "   ok    $entry"
else fail "KX_Sample_Notes is not listed"; fi
echo "-- find C:\\ -name 'KX Demo Makers' -o -name 'KX Sample Notes'"
made=$(folders)
printf '%s\n' "$made" | sed 's/^/   /'
[ "$(printf '%s\n' "$made" | grep -c 'kxnotes.exe\|KX_Pellam.dll\|KX_Brindel.dll\|Welcome.kxnote\|\.lnk$')" = 5 ] ||
  fail "the installed files are not all there"

echo
wine "$demo" uninstall </dev/null || fail "the uninstall phase"
echo "== Outside the program, after the uninstall"
echo "-- wine uninstaller --list"
if ! list=$(programs); then fail "the list was not read: no control entry"
elif entry=$(printf '%s\n' "$list" | grep -F 'KX_Sample_Notes|||'); then fail "still listed: $entry"
else echo "   ok    KX_Sample_Notes is no longer listed (the control entry is)"; fi
echo "-- find C:\\ -name 'KX Demo Makers' -o -name 'KX Sample Notes'"
left=$(folders)
if [ -n "$left" ]; then fail "left behind: $left"; else echo "   ok    nothing found"; fi
wine reg delete "$control_key" /f </dev/null >/dev/null 2>&1
rm -f "$listing"
[ $status = 0 ] && echo "== Round trip complete: every proof held" || echo "== Round trip FAILED"
exit $status
