#!/usr/bin/env bash
# Builds the library and runs the demo program under Wine, in the build
# tree's throwaway prefix (never ~/.wine).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kx_install_tools
kx_build
cd "$KX_ROOT/build/x64"
export WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all HOME="$PWD/winehome" WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  sh ../../tests/wine-session.sh start
  status=0
  wine bin/kx_demo.exe || status=$?
  sh ../../tests/wine-session.sh stop
  exit $status'
