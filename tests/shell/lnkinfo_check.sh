#!/bin/sh
# Reads each shortcut the Wine test left in $1 with lnkinfo and compares its
# target, arguments, working directory and description with the lines of the
# .expected file beside it.
. "$(dirname "$0")/../support/lnkinfo.sh"
status=0 checked=0
for expected in "$1"/*.expected; do
  [ -f "$expected" ] || continue
  report="$(lnkinfo "${expected%.expected}.lnk")" || { echo "lnkinfo failed on $expected"; exit 1; }
  n=0
  for field in "Local path" "Command line arguments" "Working directory" "Description"; do
    n=$((n + 1))
    want="$(sed -n "${n}p" "$expected" | tr -d '\r')"
    got="$(lnk_field "$report" "$field")"
    [ "$got" = "$want" ] || { printf "%s: %s is '%s', expected '%s'\n" "$expected" "$field" "$got" "$want"; status=1; }
  done
  checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || { echo "no shortcut to check in $1"; exit 1; }
[ $status = 0 ] && echo "lnkinfo read $checked shortcut(s) as written"
exit $status
