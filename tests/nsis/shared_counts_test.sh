#!/bin/sh
# shared_counts.nsi built for each NSIS target given and run phase by phase
# under Wine, the registry read with `wine reg query` between the phases.
# Runs inside a Wine session.
# $1 makensis  $2 shared_counts.nsi  $3 folder of KX_Pellam.nsh  $4 bin folder
# $5 work folder  $6 registry view (32 or 64)  $7... NSIS targets
set -u
makensis=$1 nsi=$2 include=$3 bin=$4 work=$5 view=$6
shift 6
passed=0 failed=0
check() { # what, condition (shell text)
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL [$target]: $1"; return 1; fi
}
counts='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths'
query() { wine reg query "$@" "/reg:$view" </dev/null 2>/dev/null | tr -d '\r'; }
phase() { # name, expected log: runs the phase and compares what it saw
  rm -f "$work/$1.log"
  wine "$setup" /S "/PHASE=$1" </dev/null >/dev/null 2>&1
  seen=$(tr -d '\r' <"$work/$1.log" 2>/dev/null) expected=$2
  check "phase $1 sees what it should" '[ "$seen" = "$expected" ]' || printf '%s\n--- expected:\n%s\n' "$seen" "$expected"
}
unloaded="after unloading: '', error flag set"

mkdir -p "$work"
for target in "$@"; do
  setup="$work/counts-$target.exe"
  "$makensis" -V2 "-DKX_BIN=$bin" "-DKX_TARGET=$target" "-DKX_OUTFILE=$setup" "-X!addincludedir $include" "$nsi" \
    >"$work/makensis-counts-$target.log" 2>&1
  rc=$?
  check "makensis builds shared_counts.nsi" '[ $rc = 0 ]'
  # The counted file's name as the installer saw it: $EXEDIR\shared\KX_Brindel.dll.
  dll="$(winepath -w "$work" 2>/dev/null | tr -d '\r')\\shared\\KX_Brindel.dll"

  # InstallLib counts 1, the library reads 1 and raises it to 2, NSIS reads 2.
  phase up "InstallLib: library 1, NSIS 1
KX_InstCountUpSharedDLLs 0: library 2, NSIS 2
$unloaded"
  check "the registry holds the count 2 as REG_DWORD" \
    'query "$counts" /v "$dll" | grep -qxF "    $dll    REG_DWORD    0x2"'
  # UnInstallLib lowers the library's count to 1, the library takes it to none.
  phase down "UnInstallLib: library 1, NSIS 1
KX_InstCountDownSharedDLLs 0: library -1, NSIS none
$unloaded"
  check "the count is gone from the registry" '! query "$counts" /v "$dll" | grep -qF "$dll"'

  # Refusals as C callers get them; the refused App Paths entry changes nothing.
  before=$(query "$app_paths" /s)
  phase refuse "App Paths entry named by 300 characters: 1
App Paths entry with an empty name: 1
count up of an empty name: 1
count of an empty name: -1
program folder longer than the buffer: 0 ''
App Paths query into no buffer: 1
$unloaded"
  check "the App Paths list is as it was" '[ -n "$before" ] && [ "$(query "$app_paths" /s)" = "$before" ]'
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
