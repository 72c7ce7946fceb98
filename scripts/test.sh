#!/usr/bin/env bash
# Builds the 64-bit and the 32-bit DLLs and runs every test under Wine, inside
# one Xvfb display. Exits non-zero on any failure.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kx_install_tools
kx_build
cd "$KX_ROOT/build/x64"
exec xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -j2
