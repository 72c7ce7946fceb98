#!/usr/bin/env bash
# Builds the library and runs the demo under Wine, in the build tree's
# throwaway prefix (never ~/.wine): an installer round trip of a pretend
# product, each step proved from outside the library (demo/round_trip.sh).
# --x86 runs the 32-bit build under WoW64; --tour adds the tours of the
# other families; --dialogs adds them with each common dialog shown for a
# person to use (the demo is unattended otherwise); --nsis runs the same
# round trip as an NSIS installer and uninstaller (nsis/examples) instead,
# built for each NSIS target of the build's bitness and proved from outside
# (tests/nsis/sample_test.sh). --msi builds the sample Windows Installer
# package of wix/examples with wixl for x64 and x86, installs each with
# `wine msiexec /i ... /qn`, proves from outside what the Installer did,
# removes it with /x and shows what is left (wix/examples/check.sh); where
# no 32-bit code runs, the x86 package's program is not started. Exits 1
# when a proof fails.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
arch=x64
tour=""
nsis=""
msi=""
for arg in "$@"; do
  case "$arg" in
    --x86) arch=x86 ;;
    --tour) [ -n "$tour" ] || tour="--tour" ;;
    --dialogs) tour="--dialogs" ;;
    --nsis) nsis=1 ;;
    --msi) msi=1 ;;
    *) echo "usage: $0 [--x86] [--tour] [--dialogs] [--nsis] [--msi]" >&2; exit 2 ;;
  esac
done
export KX_DEMO_TOUR="$tour" KX_DEMO_NSIS="$nsis" KX_DEMO_MSI="$msi"
kx_install_tools
if [ "$arch" = x86 ] && [ "$KX_RUN_32BIT" != 1 ]; then
  echo "this machine cannot run 32-bit code: the 32-bit demo cannot run here" >&2
  exit 1
fi
kx_build
cd "$KX_ROOT/build/$arch"
export KX_DEMO_ARCH="$arch"
export WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all HOME="$PWD/winehome" WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  sh ../../tests/wine-session.sh start
  status=0
  if [ -n "$KX_DEMO_MSI" ]; then
    mkdir -p msi-demo
    for bits in 64 32; do
      if [ $bits = 64 ]; then a=x64; else a=x86; fi
      echo "== wix/build.sh: kxnotes.wxs and KX_Pellam.wxs with wixl for $a, then the fix-up"
      sh ../../wix/build.sh $a ../$a/bin msi-demo/kxnotes-$a.msi ../../wix/examples/kxnotes.wxs \
        -D KX_Program=../$a/bin/kx_demo.exe || status=1
      program=""
      [ $bits = 32 ] && [ "$KX_RUN_32BIT" != 1 ] && program=--no-program
      sh ../../wix/examples/check.sh msi-demo/kxnotes-$a.msi $bits msi-demo $program || status=1
    done
  elif [ -n "$KX_DEMO_NSIS" ]; then
    if [ "$KX_DEMO_ARCH" = x64 ]; then set -- 64 x86_64-w64-mingw32-windres amd64-unicode
    else set -- 32 i686-w64-mingw32-windres x86-unicode x86-ansi; fi
    sh ../../tests/nsis/sample_test.sh makensis "$PWD/../../nsis/examples/kxnotes.nsi" "$PWD/nsis" "$PWD/bin" \
      "$PWD/nsis-demo" "$@" || status=$?
  else
    sh ../../demo/round_trip.sh bin/kx_demo.exe || status=$?
  fi
  if [ -n "$KX_DEMO_TOUR" ]; then wine bin/kx_demo.exe $KX_DEMO_TOUR || status=$?; fi
  sh ../../tests/wine-session.sh stop
  exit $status'
