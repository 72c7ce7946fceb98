#!/bin/sh
# check.sh PACKAGE BITS WORK [--tables | --no-program]
# The sample package (kxnotes.wxs, built by wix/build.sh) proved from
# outside: its tables as msiinfo reads them; then, unless --tables, installed
# with `wine msiexec /i PACKAGE /qn`, what the Installer wrote read back with
# Wine's own programs (reg, uninstaller, start) and lnkinfo, removed with /x,
# and what is left shown. BITS is the package's bitness (32 or 64). The
# install part runs inside a Wine session; --no-program leaves out starting
# the installed program, for a machine that cannot run programs of that
# bitness (Wine's 64-bit msiexec installs a 32-bit package without running
# any 32-bit code). WORK is a folder for scratch files. Exits 1 when a proof
# fails.
set -u
package=$1 bits=$2 work=$3 mode=${4:-}
passed=0 failed=0
check() { # what, condition (shell text)
  if eval "$2"; then passed=$((passed + 1)); echo "   ok    $1"; else failed=$((failed + 1)); echo "   FAIL  $1"; fi
}
show() { sed 's/^/            /'; }
rows() { msiinfo export "$package" "$1" | tr -d '\r' | sed 1,3d; }
column() { rows "$1" | awk -F '\t' -v key="$2" -v col="$3" '$1 == key { print $col }'; }
mkdir -p "$work"
. "$(dirname "$0")/../../tests/support/lnkinfo.sh"

echo "== $package: the tables ($bits-bit package)"
if [ "$bits" = 64 ]; then template='x64;1033' win64=256 common=CommonFiles64Folder
else template='Intel;1033' win64=0 common=CommonFilesFolder; fi
check "summary template '$template'" '[ "$(msiinfo suminfo "$package" | sed -n "s/^Template: //p")" = "$template" ]'
rows Component | show
for dll in KX_Pellam.dll KX_Brindel.dll; do
  check "$dll: shared-count bit (8) and bitness bit ($win64), its own file as key path" \
    '[ "$(column Component $dll 4)" = $((8 + win64)) ] && [ "$(column Component $dll 6)" = $dll ]'
  check "$dll: versioned ($(column File $dll 5)), no file hash" \
    '[ -n "$(column File $dll 5)" ] && [ -z "$(column MsiFileHash $dll 1)" ]'
done
check "the fragment's component codes" \
  '[ "$(column Component KX_Pellam.dll 2)" = "$(sed -n "s/.*KX_PellamComponent = \(.*\)?>/{\1}/p" "$(dirname "$0")/../KX_Pellam.wxs" | sed -n $((3 - bits / 32))p)" ]'
check "the DLLs' folder is <$common>\\KX_Pellam" '[ "$(column Directory KX_PellamFolder 2)" = $common ]'
rows File | show
rows Registry | cut -f2- | show
rows Shortcut | cut -f1-7 | show
[ "$mode" = --tables ] && { echo "== $passed passed, $failed failed (tables only)"; [ "$failed" = 0 ]; exit; }

# The rest reads what the Installer wrote, in the package's registry view.
reg_value() { # key, value name ("" = default), [view]: its data, "" when missing
  view=${3:-$bits}
  if [ -z "$2" ]; then set -- "$1" /ve; else set -- "$1" /v "$2"; fi
  wine reg query "$@" "/reg:$view" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^    .*    REG_[A-Z_]*    //p'
}
has_key() { wine reg query "$1" "/reg:${2:-$bits}" </dev/null >/dev/null 2>&1; }
other=$((96 - bits))
code=$(rows Property | awk -F '\t' '$1 == "ProductCode" { print $2 }')
if [ "$bits" = 64 ]; then programs='C:\Program Files'; else programs='C:\Program Files (x86)'; fi
dir="$programs\\KX Demo Makers\\KX Sample Notes" lib="$programs\\Common Files\\KX_Pellam"
cv='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion'
app_path="$cv\\App Paths\\kxnotes.exe" entry="$cv\\Uninstall\\$code" counts="$cv\\SharedDLLs"
ext_key='HKCR\.kxnote' class_key='HKCR\KXSampleNotes.Note'
keys="$app_path|$entry|$ext_key|$class_key"
# Wine 8 prints its list of installed programs on standard output, Wine 10
# through its debug output on standard error: both into one file. A control
# entry written with reg.exe must show in every reading, or nothing was read.
control="$cv\\Uninstall\\KX_MSI_Sample_Control"
wine reg add "$control" /v DisplayName /d 'KX MSI Sample Control' /f </dev/null >/dev/null 2>&1
wine reg add "$control" /v UninstallString /d 'C:\control.exe' /f </dev/null >/dev/null 2>&1
listed() { # 0 listed, 1 not, 2 the list was not read
  wine uninstaller --list </dev/null >"$work/programs.txt" 2>&1
  tr -d '\r' <"$work/programs.txt" | grep -qxF 'KX_MSI_Sample_Control|||KX MSI Sample Control' ||
    { echo "   (the list was not read: no control entry)"; return 2; }
  tr -d '\r' <"$work/programs.txt" | grep -qxF "$code|||KX Sample Notes 1.0"
}
left() { (cd "$WINEPREFIX/drive_c" && find . \( -name 'KX Demo Makers' -o -name KX_Pellam -o -name 'KX Sample Notes*' \) -prune -exec find {} \;); }

echo "== wine msiexec /i $(basename "$package") /qn"
wine msiexec /i "$(winepath -w "$package" 2>/dev/null)" /qn </dev/null >/dev/null 2>&1
rc=$?
check "the Installer succeeds" '[ $rc = 0 ]'
check "the uninstall entry $code is the Installer's, in the $bits-bit view only" \
  '[ "$(reg_value "$entry" DisplayName)" = "KX Sample Notes 1.0" ] && [ "$(reg_value "$entry" WindowsInstaller)" = 0x1 ] &&
   ! has_key "$entry" $other'
check "wine uninstaller --list shows it" 'listed'
# What the Installer wrote into it (no DisplayIcon from ARPPRODUCTICON under Wine).
wine reg query "$entry" "/reg:$bits" </dev/null 2>/dev/null | tr -d '\r' | grep -v '^$\|^HKEY' |
  grep -v 'REG_SZ    $' | show
check "App Paths names the program, and its Path the library's folder" \
  '[ "$(reg_value "$app_path" "")" = "$dir\\kxnotes.exe" ] && [ "$(reg_value "$app_path" Path)" = "$dir\\;$lib\\" ]'
check "the file type opens with the program" \
  '[ "$(reg_value "$ext_key" "")" = KXSampleNotes.Note ] &&
   [ "$(reg_value "$class_key\\shell\\open\\command" "")" = "\"$dir\\kxnotes.exe\" \"%1\"" ]'
for dll in KX_Pellam.dll KX_Brindel.dll; do
  check "$dll counted once by the Installer, in the $bits-bit view only" \
    '[ "$(reg_value "$counts" "$lib\\$dll")" = 0x1 ] && [ -z "$(reg_value "$counts" "$lib\\$dll" $other)" ]'
done
installed=$(left)
printf '%s\n' "$installed" | show
check "program, shared DLLs and shortcut are in place" \
  '[ $(printf "%s\n" "$installed" | grep -c "/kxnotes.exe$\|/KX_Pellam/KX_Pellam.dll$\|/KX_Pellam/KX_Brindel.dll$\|/KX Sample Notes.lnk$") = 4 ]'
link="$WINEPREFIX/drive_c/$(printf '%s\n' "$installed" | grep '\.lnk$')"
target=$(lnk_field "$(lnkinfo "$link" 2>/dev/null)" "Local path")
check "lnkinfo reads the shortcut's target: $target" '[ "$target" = "$dir\\kxnotes.exe" ]'
if [ "$mode" = --no-program ]; then
  echo "   (the $bits-bit program is not started: this machine cannot run it)"
else
  # The program imports both DLLs, which are only in the common folder: it
  # starts when the shell finds it by name through App Paths (whose Path puts
  # that folder on its PATH) and not by its full path. It leaves a line in its
  # data folder when it runs.
  data="$(winepath -u "$(wine cmd /c echo %APPDATA% </dev/null 2>/dev/null | tr -d '\r')")/KX Demo Makers/KX Sample Notes"
  mkdir -p "$data"
  wine start /wait kxnotes.exe hello </dev/null >/dev/null 2>&1
  rc=$?
  check "started by name (wine start kxnotes.exe), it runs with the shared DLLs: exit $rc, wrote: $(cat "$data/opened.log" 2>/dev/null | tr -d '\r')" \
    '[ $rc = 0 ] && grep -qF "started as $dir\\kxnotes.exe" "$data/opened.log"'
  wine "$dir\\kxnotes.exe" hello </dev/null >/dev/null 2>&1
  rc=$?
  check "started by its full path, the loader does not find them: exit $rc" '[ $rc != 0 ]'
  rm -rf "$(dirname "$data")"
fi

echo "== wine msiexec /x $code /qn"
wine msiexec /x "$code" /qn </dev/null >/dev/null 2>&1
rc=$?
check "the Installer removes it" '[ $rc = 0 ]'
gone=1
IFS='|'
for key in $keys; do if has_key "$key"; then gone=0; echo "            left: $key"; fi; done
unset IFS
# A reading that finds nothing proves absence only while reg.exe reads at
# all: the control entry must still read back.
reads() { [ "$(reg_value "$control" DisplayName 64)" = "KX MSI Sample Control" ]; }
check "no key of the product is left" '[ $gone = 1 ] && reads'
listed
check "wine uninstaller --list no longer shows it" '[ $? = 1 ]'
check "no shared count is left" '[ -z "$(reg_value "$counts" "$lib\\KX_Pellam.dll")$(reg_value "$counts" "$lib\\KX_Brindel.dll")" ] && reads'
echo "-- what is left below C:\\"
left | show
check "no file is left" '[ -z "$(left | grep "\.[a-z]*$")" ]'
# The empty folders the Installer leaves would count as the product's
# remains for the next installer run in this prefix: rmdir takes only those.
left | sort -r | while IFS= read -r folder; do rmdir "$WINEPREFIX/drive_c/$folder" 2>/dev/null; done
wine reg delete "$control" /f </dev/null >/dev/null 2>&1
echo "== $passed passed, $failed failed"
[ "$failed" = 0 ]
