#!/bin/sh
# Starts (start) or ends (stop) the Wine session that every test of a run
# shares: a throwaway prefix inside the build tree, a HOME whose ALSA default
# is the null device (so Wine has a wave-out device without a sound card), and
# one persistent wineserver so that each test process starts quickly.
# prepare only makes the prefix and HOME, when they are missing or stale.
set -eu
prepare() {
  (
    mkdir -p "$HOME"
    cat > "$HOME/.asoundrc" <<'ALSA'
pcm.!default { type null }
ctl.!default { type hw card 0 }
ALSA
    # A prefix made under other Wine packages (wine32 added, say) no longer
    # starts: every program fails to load kernel32. Make it anew then.
    stamp="$(dpkg -l 'wine*' 2>/dev/null | awk '/^ii/ {print $2, $3}' || true)"
    if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$WINEPREFIX/.kx-wine-packages" 2>/dev/null)" != "$stamp" ]; then
      wineserver -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
    fi
    # A build's prefixes are made one at a time: a fresh tree starts several
    # sessions at once, and a machine busy with many wineboots has been seen
    # to leave Wine's folder browser without its initial selection.
    exec 9>"$(dirname "$WINEPREFIX")/.kx-wineboot.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i </dev/null >/dev/null 2>&1 || true
      wineserver -w
      # A crashing test must end with its backtrace, not wait for somebody
      # to close Wine's crash dialog until CTest's time-out.
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
      wineserver -w
      printf '%s\n' "$stamp" > "$WINEPREFIX/.kx-wine-packages"
    fi
    flock -u 9
  )
}

case "$1" in
  prepare)
    prepare
    ;;
  start)
    prepare
    # A session that is already up (another run in this tree) is reused. The
    # server and Wine's background services (started here by one throwaway
    # program) must not inherit CTest's output pipes, or CTest would wait for
    # them to close until the run timed out.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    # The Windows version every program without one of its own is shown is
    # pinned here: left unset, Wine hands such programs whatever version it
    # last gave a program with its own setting (the platform runs), and the
    # shell's folder browser, for one, behaves differently under those.
    wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    wineserver -k || true
    ;;
esac
