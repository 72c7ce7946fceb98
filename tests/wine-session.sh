#!/bin/sh
# Starts (start) or ends (stop) the Wine session that every test of a run
# shares: a throwaway prefix inside the build tree, a HOME whose ALSA default
# is the null device (so Wine has a wave-out device without a sound card), and
# one persistent wineserver so that each test process starts quickly.
set -eu
case "$1" in
  start)
    mkdir -p "$HOME"
    cat > "$HOME/.asoundrc" <<'ALSA'
pcm.!default { type null }
ctl.!default { type hw card 0 }
ALSA
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i </dev/null >/dev/null 2>&1 || true
      wineserver -w
    fi
    # A session that is already up (another run in this tree) is reused. The
    # server and Wine's background services (started here by one throwaway
    # program) must not inherit CTest's output pipes, or CTest would wait for
    # them to close until the run timed out.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    wineserver -k || true
    ;;
esac
