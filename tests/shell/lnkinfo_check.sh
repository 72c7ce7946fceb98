#!/bin/sh
# Reads each shortcut the Wine test left in $1 with lnkinfo and compares its
# target, arguments, working directory and description with the lines of the
# .expected file written beside it.
set -u
dir="$1"
command -v lnkinfo >/dev/null || { echo "lnkinfo missing (Debian liblnk-utils)"; exit 1; }
status=0 checked=0
for expected in "$dir"/*.expected; do
  [ -f "$expected" ] || continue
  link="${expected%.expected}.lnk"
  report="$(lnkinfo "$link")" || { echo "lnkinfo failed on $link"; status=1; continue; }
  n=0
  for field in "Local path" "Command line arguments" "Working directory" "Description"; do
    n=$((n + 1))
    want="$(sed -n "${n}p" "$expected" | tr -d '\r')"
    got="$(printf '%s\n' "$report" | sed -n "s/^[[:space:]]*$field[[:space:]]*: //p" | head -n 1)"
    if [ "$got" != "$want" ]; then
      printf "%s: %s is '%s', expected '%s'\n" "$link" "$field" "$got" "$want"
      status=1
    fi
  done
  checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || { echo "no shortcut to check in $dir"; exit 1; }
echo "lnkinfo read $checked shortcut(s) as written"
exit $status
