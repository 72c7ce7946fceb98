#!/bin/sh
# exit_paths.nsi built for each NSIS target given and ended every way it can
# end under /S: success, Abort in .onInit, Abort in a section (a failed
# install), Quit, and its uninstaller. After each, the plug-ins folder it
# used is gone and the temporary folder holds nothing new. Runs inside a
# Wine session.
# $1 makensis  $2 exit_paths.nsi  $3 folder of KX_Pellam.nsh  $4 bin folder
# $5 work folder  $6... NSIS targets
set -u
makensis=$1 nsi=$2 include=$3 bin=$4 work=$5
shift 5
failed=0
fail() { failed=$((failed + 1)); echo "FAIL [$target]: $*"; }
mkdir -p "$work" && cd "$work" || exit 1
wine cmd /c echo %TEMP% </dev/null >temp.txt 2>/dev/null
temp=$(winepath -u "$(tr -d '\r' <temp.txt)" 2>/dev/null)
[ -n "$temp" ] && [ -d "$temp" ] || { echo "FAIL: the prefix's TEMP is not read ('$temp')"; exit 1; }
for target in "$@"; do
  setup="$work/exit_paths-$target.exe"
  "$makensis" -V2 -WX "-DKX_BIN=$bin" "-DKX_TARGET=$target" "-DKX_OUTFILE=$setup" \
    "-DKX_LOG=$(winepath -w "$work" 2>/dev/null)\\exit_paths.log" "-X!addincludedir $include" "$nsi" \
    >makensis-$target.log 2>&1 || { fail "makensis: $(cat makensis-$target.log)"; continue; }
  rm -rf installed
  # install last: it leaves the uninstaller that the last run starts.
  for run in oninit:2 section:2 quit:2 install:0 uninstall:0; do
    phase=${run%:*}
    rm -f exit_paths.log
    ls -A "$temp" >before.txt
    if [ $phase = uninstall ]; then
      wine "$work/installed/uninst.exe" /S "_?=$(winepath -w "$work/installed" 2>/dev/null)" </dev/null >/dev/null 2>&1
    else
      wine "$setup" /S "/PHASE=$phase" </dev/null >/dev/null 2>&1
    fi
    rc=$?
    ls -A "$temp" | comm -13 before.txt - >new.txt
    line=$(tr -d '\r' <exit_paths.log 2>/dev/null)
    plugins=$(winepath -u "${line#* * }" 2>/dev/null)
    printf '%s\n' "$target $phase: exit code $rc; used ${line#* * }; left in TEMP: $(tr '\n' ' ' <new.txt)"
    [ $rc = ${run#*:} ] || fail "$phase: exit code $rc, not ${run#*:}"
    case "$line" in "$phase "[12]" "?*) ;; *) fail "$phase: no call was logged ('$line')"; continue ;; esac
    [ -n "$plugins" ] && ! [ -e "$plugins" ] || fail "$phase: $plugins is left: $(ls "$plugins" 2>&1)"
    [ -s new.txt ] && fail "$phase: new in TEMP: $(cat new.txt)"
  done
  [ -z "$(ls -A installed 2>/dev/null | grep -v '^uninst.exe$')" ] || fail "the uninstaller left $(ls installed)"
  rm -rf installed
done
echo "exit_paths: $failed failure(s)"
[ $failed = 0 ]
