#!/usr/bin/env bash
# Builds the 64-bit and the 32-bit DLLs and runs every test of both builds
# under Wine: the 32-bit tests as 32-bit processes under WoW64 where this
# machine runs 32-bit code. Exits non-zero on any failure in either build.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kx_install_tools
kx_build
cd "$KX_ROOT"

# The two builds share nothing at run time (each has its own prefixes,
# wineserver and HOME), so their suites run side by side, each inside an
# Xvfb display of its own: one build's dialogs and windows never meet the
# other's. Each suite's output goes to a log that is printed whole when
# both are done, x64 first.
#
# A test that fails fails the run: nothing is repeated until it passes.
#
# Every test has a CTest time-out, and each suite as a whole has one too
# (KX_SUITE_LIMIT seconds), so a run that hangs ends as a named failure
# with the log of what had finished, never as a silent wait.
limit="${KX_SUITE_LIMIT:-1200}"
archs=(x64)
if [ "$KX_RUN_32BIT" = 1 ]; then archs+=(x86); fi

suite() {
  local arch="$1"
  timeout --kill-after=20 "$limit" sh tests/with-display.sh \
    sh -c "cd build/$arch && exec ctest --output-on-failure -j3" \
    >"build/$arch/suite.log" 2>&1
}

# Every prefix the suites use is made first (a no-op where it is already
# there and was made under the installed Wine; one wineboot per build, the
# other sessions copies of it: tests/wine-session.sh), so that no test runs
# while Wine builds a prefix beside it.
prepare() {
  local arch="$1" prefix
  while read -r prefix; do
    WINEPREFIX="$PWD/build/$arch/$prefix" HOME="$PWD/build/$arch/${prefix/wineprefix/winehome}" \
      WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" sh tests/with-display.sh sh tests/wine-session.sh prepare ||
      return 1
  done <"build/$arch/wine-sessions.txt"
}
made=$(date +%s)
declare -A pid
for arch in "${archs[@]}"; do
  prepare "$arch" &
  pid[$arch]=$!
done
for arch in "${archs[@]}"; do
  if ! wait "${pid[$arch]}"; then
    echo "the $arch build's Wine prefixes could not be made: no test can run" >&2
    exit 1
  fi
done
echo "== Wine prefixes ready in $(( $(date +%s) - made )) s"

start=$(date +%s)
for arch in "${archs[@]}"; do
  suite "$arch" &
  pid[$arch]=$!
done

status=0
for arch in "${archs[@]}"; do
  result=0
  wait "${pid[$arch]}" || result=$?
  if [ "$arch" = x64 ]; then echo "== x64 tests"; else echo "== x86 tests (32-bit processes under WoW64)"; fi
  cat "build/$arch/suite.log"
  if [ "$result" -eq 124 ] || [ "$result" -eq 137 ]; then
    echo "$arch tests did not finish within $limit s: stopped; the log above ends where they hung"
    # Whatever the stopped run left behind would hold its prefixes.
    for prefix in build/$arch/wineprefix*; do WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true; done
  fi
  [ "$result" -eq 0 ] || status=1
done
if [ "$KX_RUN_32BIT" != 1 ]; then
  echo "32-bit DLL built and inspected but not run: ${KX_NO_32BIT_REASON:-this machine cannot run 32-bit code}."
fi

# The wall time of both suites is kept in build/suite-wall-time for
# scripts/bench.sh to report beside its figures.
seconds=$(( $(date +%s) - start ))
echo "== suite wall time: $seconds s (both builds side by side, fresh or kept prefixes as found)"
echo "$seconds" > build/suite-wall-time
# One du for both trees, so that a file linked from several prefixes counts once.
echo "== disk: $(du -sc build/x64 build/x86 2>/dev/null | awk 'END {printf "%.1f GB", $1 / 1048576}') in both build trees"
exit $status
