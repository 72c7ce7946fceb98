#!/bin/sh
# build.sh ARCH BIN OUTPUT.msi SOURCE.wxs... [-D NAME=VALUE...]
# Builds a package with wixl from the sources given and KX_Pellam.wxs, for
# ARCH (x64 or x86) with the DLLs of BIN, then runs KX_Pellam-wixl-fixup.sh
# on it. BIN may be absolute: wixl takes only relative source paths, so it
# runs from BIN's parent. Other -D definitions are passed on to wixl.
set -eu
if [ $# -lt 4 ]; then
  echo "usage: $0 x64|x86 BIN OUTPUT.msi SOURCE.wxs... [-D NAME=VALUE...]" >&2
  exit 2
fi
arch=$1 bin=$(cd "$2" && pwd) output=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
# Sources and definitions, with the sources made absolute before the cd.
set -- "$@" "$here/KX_Pellam.wxs"
for arg do
  shift
  case "$arg" in -D|/*|*=*) ;; *) [ -e "$arg" ] && arg="$PWD/$arg" ;; esac
  set -- "$@" "$arg"
done
cd "$bin/.."
log=$(mktemp)
# wixl warns that it knows no SharedDllRefCount: the fix-up sets that bit.
if ! wixl -a "$arch" -D "KX_Arch=$arch" -D "KX_Bin=$(basename "$bin")" -o "$output" "$@" 2>"$log"; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
grep -v "no property named 'SharedDllRefCount'\|^$" "$log" >&2 || true
rm -f "$log"
sh "$here/KX_Pellam-wixl-fixup.sh" "$output" "$bin"
