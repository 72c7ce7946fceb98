#!/bin/sh
# The sample installer of nsis/examples, built for each NSIS target given,
# run silently under Wine, then its uninstaller; Wine's own programs,
# lnkinfo and windres show what each left behind. Runs inside a Wine session.
# $1 makensis  $2 kxnotes.nsi  $3 folder of KX_Pellam.nsh  $4 bin folder
# $5 work folder  $6 registry view (32 or 64)  $7 windres  $8... NSIS targets
set -u
makensis=$1 nsi=$2 include=$3 bin=$4 work=$5 view=$6 windres=$7
shift 7
passed=0 failed=0
check() { # what, condition (shell text)
  if eval "$2"; then passed=$((passed + 1)); echo "   ok    $1"; else failed=$((failed + 1)); echo "   FAIL  $1"; fi
}
show() { sed 's/^ */            /'; }  # evidence, indented under its proof
reg_value() { # key, value name ("" = default): its data, "" when missing
  if [ -z "$2" ]; then set -- "$1" /ve; else set -- "$1" /v "$2"; fi
  wine reg query "$@" "/reg:$view" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^    .*    REG_[A-Z_]*    //p'
}
has_key() { wine reg query "$1" "/reg:${2:-$view}" </dev/null >/dev/null 2>&1; }
# Whether Wine's list of installed programs shows the sample: 0 listed, 1 not,
# 2 not read. Wine 8 prints the list on standard output, Wine 10 through its
# own debug output on standard error; a reading without the control entry
# (written with reg.exe, not the library) read nothing and proves nothing.
listed() {
  wine uninstaller --list </dev/null >"$work/programs.txt" 2>&1
  tr -d '\r' <"$work/programs.txt" | grep -qxF 'KX_Sample_Control|||KX Sample Control' ||
    { echo "   (the list was not read: no control entry)"; return 2; }
  tr -d '\r' <"$work/programs.txt" | grep -qxF 'KX_Sample_Notes|||KX Sample Notes 1.0'
}
unlisted() { listed; [ $? = 1 ]; }
# Everything of the product below C:\ (not following the profile's links home).
left() { (cd "$WINEPREFIX/drive_c" && find . \( -name 'KX Demo Makers' -o -name 'KX Sample Notes' \) -prune -exec find {} \;); }
# The version strings of the DLL as binutils reads them, without Wine.
version_string() { "$windres" -i "$bin/KX_Pellam.dll" -O rc 2>/dev/null | sed -n "s/^ *VALUE \"$1\", \"\(.*\)\"$/\1/p"; }

if [ "$view" = 32 ]; then programs='C:\Program Files (x86)'; else programs='C:\Program Files'; fi
dir="$programs\\KX Demo Makers\\KX Sample Notes"
lib="$dir\\KX_Pellam.dll"
cv='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion'
app_path="$cv\\App Paths\\kxnotes.exe" entry="$cv\\Uninstall\\KX_Sample_Notes" counts="$cv\\SharedDLLs"
app_key='HKLM\SOFTWARE\KX Demo Makers' ext_key='HKCR\.kxnote' class_key='HKCR\KXSampleNotes.Note'

control='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KX_Sample_Control'
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/lnkinfo.sh"

# Runs the uninstaller the entry names the way NSIS's own stub runs it: a
# copy elsewhere, with _?= so that it works on the folder in place and
# returns when done. (Started plainly it returns at once and finishes in the
# background; _?= after a quoted argument is not seen, so cmd passes it raw.)
uninstall() {
  command=$(reg_value "$entry" UninstallString)
  exe=$(printf '%s' "$command" | tr -d '"')
  mkdir -p "$WINEPREFIX/drive_c/kx-uninstall"
  cp "$(winepath -u "$exe" 2>/dev/null)" "$WINEPREFIX/drive_c/kx-uninstall/uninst.exe" &&
    wine cmd /c "C:\\kx-uninstall\\uninst.exe /S _?=${exe%\\*}" </dev/null >/dev/null 2>&1
  status=$?
  rm -rf "$WINEPREFIX/drive_c/kx-uninstall"
  return $status
}

mkdir -p "$work"
wine reg add "$control" /v DisplayName /d 'KX Sample Control' /f </dev/null >/dev/null 2>&1
wine reg add "$control" /v UninstallString /d 'C:\control.exe' /f </dev/null >/dev/null 2>&1
for target in "$@"; do
  echo "== $target: makensis, then kxnotes-$target.exe /S"
  setup="$work/kxnotes-$target.exe"
  "$makensis" -V2 "-DKX_BIN=$bin" "-DKX_TARGET=$target" "-DKX_OUTFILE=$setup" "-X!addincludedir $include" "$nsi" \
    >"$work/makensis-$target.log" 2>&1
  rc=$?
  check "makensis builds the sample (see $work/makensis-$target.log)" '[ $rc = 0 ]'
  wine "$setup" /S </dev/null >/dev/null 2>&1
  rc=$?
  check "the installer succeeds" '[ $rc = 0 ]'

  check "App Paths names the program and its folder" \
    '[ "$(reg_value "$app_path" "")" = "$dir\\kxnotes.exe" ] && [ "$(reg_value "$app_path" Path)" = "$dir\\" ]'
  # binutils finds the same strings, or no version resource at all.
  library=$(version_string ProductName) && [ -n "$library" ] && library="$library $(version_string FileVersion)"
  check "the application key holds the DLL's product and version ('$library')" \
    '[ "$(reg_value "$app_key\\KX Sample Notes\\1.0" Library)" = "$library" ] && has_key "$app_key\\KX Sample Notes\\1.0"'
  check "the uninstall entry runs uninst.exe, its icon filled with the program" \
    '[ "$(reg_value "$entry" DisplayName)" = "KX Sample Notes 1.0" ] &&
     [ "$(reg_value "$entry" UninstallString)" = "\"$dir\\uninst.exe\"" ] &&
     [ "$(reg_value "$entry" DisplayIcon)" = "$dir\\kxnotes.exe" ] && listed'
  wine reg query "$entry" "/reg:$view" </dev/null 2>/dev/null | tr -d '\r' | grep REG_ | show
  check "the entry and the application key are in the $view-bit registry view only" \
    'has_key "$entry" && has_key "$app_key" && ! has_key "$entry" $((96 - view)) && ! has_key "$app_key" $((96 - view))'
  check "KX_Pellam.dll is counted once" '[ "$(reg_value "$counts" "$lib")" = 0x1 ]'
  check "the file type opens with the program" \
    '[ "$(reg_value "$ext_key" "")" = KXSampleNotes.Note ] &&
     [ "$(reg_value "$class_key\\shell\\open\\command" "")" = "\"$dir\\kxnotes.exe\" \"%1\"" ]'
  installed=$(left)
  check "program, DLLs, uninstaller, document and shortcut are in place" \
    '[ $(printf "%s\n" "$installed" | grep -c "/kxnotes.exe$\|/KX_Pellam.dll$\|/KX_Brindel.dll$\|/uninst.exe$\|/Welcome.kxnote$\|/KX Sample Notes.lnk$") = 6 ]'
  printf '%s\n' "$installed" | grep '/[^/]*\.[A-Za-z]*$' | show
  link="$WINEPREFIX/drive_c/$(printf '%s\n' "$installed" | grep '\.lnk$')"
  info=$(lnkinfo "$link" 2>/dev/null)
  lnk_target=$(lnk_field "$info" "Local path") lnk_dir=$(lnk_field "$info" "Working directory")
  lnk_about=$(lnk_field "$info" Description)
  check "lnkinfo reads the shortcut's target, folder and description" \
    '[ "$lnk_target" = "$dir\\kxnotes.exe" ] && [ "$lnk_dir" = "$dir" ] && [ "$lnk_about" = "Take notes" ]'
  printf 'Local path : %s\nWorking directory : %s\nDescription : %s\n' "$lnk_target" "$lnk_dir" "$lnk_about" | show

  echo "== $target: the uninstaller the entry names, /S _?=<folder>"
  uninstall
  rc=$?
  check "the uninstaller succeeds" '[ $rc = 0 ]'
  gone=1
  for key in "$app_path" "$app_key" "$entry" "$ext_key" "$class_key"; do
    if has_key "$key"; then gone=0; echo "left: $key"; fi
  done
  check "no key of the product is left" '[ $gone = 1 ]'
  check "Wine's list of installed programs no longer shows it" 'unlisted'
  check "no shared count, no file or folder is left" '[ -z "$(reg_value "$counts" "$lib")" ] && [ -z "$(left)" ]'
done

echo "== Another product counts the same KX_Pellam.dll: install, uninstall"
wine reg add "$counts" /v "$lib" /t REG_DWORD /d 1 /f "/reg:$view" </dev/null >/dev/null 2>&1
wine "$setup" /S </dev/null >/dev/null 2>&1 && uninstall
check "a DLL another product counts stays, counted once, with KX_Brindel.dll" \
  '[ "$(reg_value "$counts" "$lib")" = 0x1 ] && [ "$(left | grep -c "/KX_[A-Za-z]*\.dll$")" = 2 ] &&
   [ "$(left | wc -l)" = 4 ]'
wine reg delete "$counts" /v "$lib" /f "/reg:$view" </dev/null >/dev/null 2>&1
rm -rf "$WINEPREFIX/drive_c/Program Files"*"/KX Demo Makers"
wine reg delete "$control" /f </dev/null >/dev/null 2>&1

echo "== $passed passed, $failed failed"
[ "$failed" = 0 ]
