#!/bin/sh
# platform_tests.nsi for each NSIS target given, run under each Windows
# version the prefix can report (winecfg -v), restored afterwards. Every
# LogicLib test must agree with its call, answer 1 exactly on the systems
# below, and each "at least" test must agree with WinVer.nsh's except where
# WinVer reads XP x64 as 5.1. Runs inside a Wine session.
# $1 makensis  $2 platform_tests.nsi  $3 folder of KX_Pellam.nsh  $4 bin
# $5 work folder  $6... NSIS targets
set -u
makensis=$1 nsi=$2 include=$3 bin=$4 work=$5
shift 5
failed=0
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
mkdir -p "$work" && cd "$work" || exit 1
# One line per test of the include, the call's name from the test's.
sed -n 's/^!define KX_Is\([A-Za-z0-9_]*\) `"" .*/!insertmacro Predicate KX_IsPlatform\1 KX_Is\1/p
        s/^;   \(KX_AtLeast[A-Za-z0-9]*\) .*(WinVer.nsh: \([A-Za-z0-9]*\))$/!insertmacro AtLeast \1 \2/p' \
  "$include/KX_Pellam.nsh" >tests.nsh
[ "$(grep -c Predicate tests.nsh)" = 30 ] && [ "$(grep -c AtLeast tests.nsh)" = 5 ] ||
  { echo "FAIL: $(wc -l <tests.nsh) tests listed from the include, not 30 + 5"; exit 1; }

# What a process of either bitness sees on a 64-bit system: only the _x64
# predicates (and Server 2008 R2, which is 64-bit only) can answer 1; then
# the "at least" tests up to the system's version.
expect() {
  case $1 in
    winxp64) set -- 2003 KX_IsXP_x64 KX_IsXP_x64_Later ;;
    win2003) set -- 2003 KX_Is2003Server_x64 KX_Is2003Server_x64_Later ;;
    vista) set -- Vista KX_IsVista_x64 KX_IsXP_x64_Later KX_IsVista_x64_Later ;;
    win2008) set -- Vista KX_Is2008Server_x64 KX_Is2003Server_x64_Later KX_Is2008Server_x64_Later ;;
    win7) set -- 7 KX_Is7_x64 KX_IsXP_x64_Later KX_IsVista_x64_Later KX_Is7_x64_Later ;;
    win2008r2) set -- 7 KX_Is2008R2Server KX_Is2003Server_x64_Later KX_Is2008Server_x64_Later KX_Is2008R2Server_Later ;;
    win10) set -- 7 KX_IsXP_x64_Later KX_IsVista_x64_Later KX_Is7_x64_Later ;;
  esac
  upto=$1
  shift
  printf '%s ' "$@" $(echo 2000 XP 2003 Vista 7 | sed "s/ *$upto .*/ $upto/; s/[^ ]*/KX_AtLeast&/g")
}

wine winecfg -v </dev/null >version.txt 2>/dev/null
original=$(tr -d '\r' <version.txt)
[ -n "$original" ] || { original=win7; echo "(the prefix's version not read: win7 restored afterwards)"; }
trap 'wine winecfg -v "$original" </dev/null >/dev/null 2>&1' EXIT
for target in "$@"; do
  setup="$work/platform-$target.exe"
  "$makensis" -V2 -WX "-DKX_BIN=$bin" "-DKX_TARGET=$target" "-DKX_OUTFILE=$setup" "-X!addincludedir $include" \
    "-X!addincludedir $work" "$nsi" >makensis-$target.log 2>&1 || { fail "makensis $target"; cat makensis-$target.log; continue; }
  for version in win7 win2008r2 win10 vista win2008 winxp64 win2003; do
    wine winecfg -v $version </dev/null >/dev/null 2>&1
    rm -f platform.log
    wine "$setup" </dev/null >/dev/null 2>&1
    [ -s platform.log ] || { fail "$target $version: no answers written"; continue; }
    tr -d '\r' <platform.log >answers
    [ "$(wc -l <answers)" = 35 ] || fail "$target $version: $(wc -l <answers) answers, not 35"
    true_ones=$(awk '/^KX_Is/ && $3 == 1 || /^KX_AtLeast/ && $2 == 1 { print $1 }' answers | tr '\n' ' ')
    winver=$(awk '/^KX_AtLeast/ && $3 == 1 { print $1 }' answers | sed 's/KX_AtLeast/Win/' | tr '\n' ' ')
    echo "$target $version: KX: $true_ones| WinVer.nsh: $winver"
    awk '/^KX_Is/ && $2 != $3 { print "test and call disagree: " $0 }
      /^KX_AtLeast/ && $2 != $3 && !(v == "winxp64" && $1 == "KX_AtLeast2003") { print "WinVer.nsh disagrees: " $0 }' \
      v=$version answers >bad
    [ "$true_ones" = "$(expect $version)" ] || echo "answers 1 where it should not, or 0 where it should" >>bad
    [ -s bad ] && fail "$target $version:" && cat bad
  done
done
echo "platform_tests: $failed failure(s)"
[ $failed = 0 ]
