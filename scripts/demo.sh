#!/usr/bin/env bash
# Builds the library and runs the demo program under Wine, in the build
# tree's throwaway prefix (never ~/.wine). --x86 runs the 32-bit build's demo
# under WoW64; --dialogs shows each common dialog for a person to use (the
# demo is unattended otherwise).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
arch=x64
demo_args=""
for arg in "$@"; do
  case "$arg" in
    --x86) arch=x86 ;;
    --dialogs) demo_args="--dialogs" ;;
    *) echo "usage: $0 [--x86] [--dialogs]" >&2; exit 2 ;;
  esac
done
export KX_DEMO_ARGS="$demo_args"
kx_install_tools
if [ "$arch" = x86 ] && [ "$KX_RUN_32BIT" != 1 ]; then
  echo "this machine cannot run 32-bit code: the 32-bit demo cannot run here" >&2
  exit 1
fi
kx_build
cd "$KX_ROOT/build/$arch"
export WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all HOME="$PWD/winehome" WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  sh ../../tests/wine-session.sh start
  status=0
  wine bin/kx_demo.exe $KX_DEMO_ARGS || status=$?
  sh ../../tests/wine-session.sh stop
  exit $status'
