#!/bin/sh
# Starts (start) or ends (stop) the Wine session that every test of a run
# shares: a throwaway prefix inside the build tree, a HOME whose ALSA default
# is the null device (so Wine has a wave-out device without a sound card), and
# one persistent wineserver so that each test process starts quickly.
# prepare only makes the prefix and HOME, when they are missing or stale.
set -eu
# Windows' own binaries in a prefix: the bulk of its size (about 0.7 GB, or
# 1.3 GB with wine32), read by Wine and written by nobody.
binaries='dll exe drv sys ocx cpl acm ax tlb ds com nls msstyles'

# Makes a prefix by wineboot, under the given HOME.
boot() {
  WINEPREFIX="$1" HOME="$2" wineboot -i </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineserver -w
  # A crashing test must end with its backtrace, not wait for somebody to
  # close Wine's crash dialog until CTest's time-out.
  WINEPREFIX="$1" HOME="$2" wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineserver -w
}

# Copies prefix $1 (made with HOME $2) to $3 for HOME $4. Windows' binaries
# are hard links to the source's, so each session of a build costs a few
# megabytes instead of a whole prefix; everything else (the registry, the
# .ini files, the profile) is a copy of its own, and the profile's links to
# the source's HOME are pointed at the new one, as wineboot would have made
# them.
clone() {
  src="$1" src_home="$2" dst="$3" dst_home="$4"
  rm -rf "$dst.kx-new"
  cp -al "$src" "$dst.kx-new"
  set --
  for ext in $binaries; do set -- "$@" -o -iname "*.$ext"; done
  shift
  (
    cd "$dst.kx-new"
    find . -type f ! \( -path './drive_c/windows/*' \( "$@" \) \) | while IFS= read -r file; do
      cp -p "$src/$file" "$file.kx-copy" && mv -f "$file.kx-copy" "$file"
    done
    find drive_c/users -type l | while IFS= read -r link; do
      target="$(readlink "$link")"
      case "$target" in "$src_home"|"$src_home"/*) ln -sfn "$dst_home${target#"$src_home"}" "$link" ;; esac
    done
  )
  mv "$dst.kx-new" "$dst"
}

# A prefix made under other Wine packages (wine32 added, say) no longer
# starts: every program fails to load kernel32. Such a prefix is stale.
fresh() {
  [ -f "$1/system.reg" ] && [ "$(cat "$1/.kx-wine-packages" 2>/dev/null)" = "$stamp" ]
}

prepare() {
  (
    mkdir -p "$HOME"
    cat > "$HOME/.asoundrc" <<'ALSA'
pcm.!default { type null }
ctl.!default { type hw card 0 }
ALSA
    stamp="$(dpkg -l 'wine*' 2>/dev/null | awk '/^ii/ {print $2, $3}' || true)"
    if [ -e "$WINEPREFIX" ] && ! fresh "$WINEPREFIX"; then
      wineserver -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
    fi
    # Every session of a build tree is a copy of one prefix that wineboot
    # made and nobody runs in, made once under these Wine packages. A build's
    # prefixes are made one at a time: a fresh tree starts several sessions
    # at once, and a machine busy with many wineboots has been seen to leave
    # Wine's folder browser without its initial selection.
    tree="$(dirname "$WINEPREFIX")"
    template="$tree/wineprefix-template" template_home="$tree/winehome-template"
    exec 9>"$tree/.kx-wineboot.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      if ! fresh "$template"; then
        rm -rf "$template" "$template_home"
        mkdir -p "$template_home"
        boot "$template" "$template_home"
        # Only a whole prefix is kept: a wineboot that was stopped half-way
        # leaves a registry without Windows, which no program starts in.
        if [ ! -f "$template/drive_c/windows/system32/kernel32.dll" ]; then
          echo "wine-session: wineboot did not make a whole prefix in $template" >&2
          rm -rf "$template"
          exit 1
        fi
        printf '%s\n' "$stamp" > "$template/.kx-wine-packages"
      fi
      rm -rf "$WINEPREFIX"
      clone "$template" "$template_home" "$WINEPREFIX" "$HOME"
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
