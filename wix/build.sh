#!/bin/sh
# build.sh ARCH BIN OUTPUT.msi SOURCE.wxs... [-D NAME=VALUE...]
# Builds a package with wixl from the sources given and KX_Pellam.wxs, for
# ARCH (x64 or x86) with the DLLs of the folder BIN, then runs
# KX_Pellam-wixl-fixup.sh on it. -D definitions are passed on to wixl; one
# whose value names an existing file or folder (KX_Program=bin/kx_demo.exe)
# may name it relative to here or absolutely.
set -eu
if [ $# -lt 4 ]; then
  echo "usage: $0 x64|x86 BIN OUTPUT.msi SOURCE.wxs... [-D NAME=VALUE...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
absolute() { case "$1" in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$PWD/$1" ;; esac; }
arch=$1 bin=$(absolute "$2") output=$(absolute "$3")
shift 3
# wixl finds a File's Source only by a path relative to where it runs (an
# absolute one fails), so it runs from / and every path is given from there.
set -- "$@" "$here/KX_Pellam.wxs"
for arg do
  shift
  case "$arg" in
    -D) ;;
    *=*) value=${arg#*=}; [ -e "$value" ] && arg="${arg%%=*}=$(absolute "$value" | sed 's|^/||')" ;;
    *) arg=$(absolute "$arg") ;;
  esac
  set -- "$@" "$arg"
done
log=$(mktemp)
# wixl warns that it knows no SharedDllRefCount: the fix-up sets that bit.
if ! (cd / && wixl -a "$arch" -D "KX_Arch=$arch" -D "KX_Bin=${bin#/}" -o "$output" "$@") 2>"$log"; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
grep -v "no property named 'SharedDllRefCount'\|^$" "$log" >&2 || true
rm -f "$log"
sh "$here/KX_Pellam-wixl-fixup.sh" "$output" "$bin"
