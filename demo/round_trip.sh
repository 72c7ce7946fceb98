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
listed() { wine uninstaller --list </dev/null 2>/dev/null | tr -d '\r' | grep -F 'KX_Sample_Notes|||'; }

wine "$demo" install </dev/null || fail "the install phase"
echo "== Outside the program, after the install"
echo "-- wine uninstaller --list (Wine's list of installed programs)"
if entry=$(listed); then echo "   ok    $entry"; else fail "KX_Sample_Notes is not listed"; fi
echo "-- find C:\\ -name 'KX Demo Makers' -o -name 'KX Sample Notes'"
made=$(folders)
printf '%s\n' "$made" | sed 's/^/   /'
[ "$(printf '%s\n' "$made" | grep -c 'kxnotes.exe\|KX_Pellam.dll\|KX_Brindel.dll\|Welcome.kxnote\|\.lnk$')" = 5 ] ||
  fail "the installed files are not all there"

echo
wine "$demo" uninstall </dev/null || fail "the uninstall phase"
echo "== Outside the program, after the uninstall"
echo "-- wine uninstaller --list"
if entry=$(listed); then fail "still listed: $entry"; else echo "   ok    KX_Sample_Notes is no longer listed"; fi
echo "-- find C:\\ -name 'KX Demo Makers' -o -name 'KX Sample Notes'"
left=$(folders)
if [ -n "$left" ]; then fail "left behind: $left"; else echo "   ok    nothing found"; fi
[ $status = 0 ] && echo "== Round trip complete: every proof held" || echo "== Round trip FAILED"
exit $status
