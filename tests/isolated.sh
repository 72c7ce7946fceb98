#!/bin/sh
# isolated.sh BUILD_DIR TAG COMMAND [ARG...]
# Runs COMMAND in a Wine session nobody else uses: the prefix
# BUILD_DIR/wineprefix-TAG (kept between runs, made anew when the Wine
# packages change), its own HOME, its own wineserver and its own X display.
# Tests that need a display's focus, a registry list or a whole prefix to
# themselves run this way beside the others instead of holding up the run.
set -u
build="$1" tag="$2"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="$build/wineprefix-$tag" HOME="$build/winehome-$tag"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
exec sh "$here/with-display.sh" sh -c '
  sh "$0" start || exit 1
  status=0
  "$@" || status=$?
  sh "$0" stop
  exit $status' "$here/wine-session.sh" "$@"
