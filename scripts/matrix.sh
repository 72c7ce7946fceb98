#!/usr/bin/env bash
# Runs the README's two commands, scripts/demo.sh then scripts/test.sh, as
# root on bare Debian 12 and Debian 13 systems: each a minbase debootstrap
# chroot (made once and kept, from the mirror this machine's apt uses) given
# a clean clone of the current commit. Prints per release each build's CTest
# summary, the demo's last line, the time of each phase and the disk used;
# the full logs stay beside the chroots. Exits 0 only when every release's
# demo and tests passed. Run as root.
#
#   scripts/matrix.sh [12|13|all] [--fresh]   --fresh: make the chroots anew
#
# Chroots and logs: ${KX_MATRIX_DIR:-/var/tmp/kx-matrix}/debian-NN[.demo.log|.test.log]
set -euo pipefail

base="${KX_MATRIX_DIR:-/var/tmp/kx-matrix}"
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fresh=0
releases=()
for arg in "$@"; do
  case "$arg" in
    12 | 13) releases+=("$arg") ;;
    all) releases+=(12 13) ;;
    --fresh) fresh=1 ;;
    *) echo "usage: $0 [12|13|all] [--fresh]" >&2; exit 2 ;;
  esac
done
[ ${#releases[@]} -gt 0 ] || releases=(12 13)
[ "$(id -u)" -eq 0 ] || { echo "$0: chroots need root" >&2; exit 1; }

# The first non-security archive in the host's apt sources, deb822 or
# one-line: the chroots then come from the same place as the host's packages.
mirror() {
  local files=(/etc/apt/sources.list.d/*.sources)
  [ -e "${files[0]}" ] && awk '
    function take() { if (types ~ /(^| )deb( |$)/ && uri != "" && suites !~ /-security/) { print uri; found = 1; exit } }
    FNR == 1 || /^[ \t]*$/ { take(); types = uri = suites = "" }
    /^Types:/ { types = $0 } /^URIs:/ { uri = $2 } /^Suites:/ { suites = $0 }
    END { if (!found) take() }' "${files[@]}" | grep . && return
  [ -e /etc/apt/sources.list ] && sed -E 's/\[[^]]*\]//' /etc/apt/sources.list |
    awk '$1 == "deb" && $3 !~ /-security/ { print $2; exit }' | grep .
}

# Processes whose root is inside the chroot (wineserver, Xvfb, a test).
inside() {
  local p r
  for p in /proc/[0-9]*; do
    r="$(readlink "$p/root" 2>/dev/null)" || continue
    case "$r" in "$1" | "$1"/*) echo "${p#/proc/}" ;; esac
  done
}

# Stops what runs in the chroot, then unmounts everything below it, deepest
# first: also what an interrupted earlier run or debootstrap left mounted.
release() {
  local root="$1" pids i m
  if [ -n "${child:-}" ]; then kill -TERM -- "-$child" 2>/dev/null || true; child=""; fi
  for i in 1 2 3 4 5 6 7 8 9 10; do
    pids="$(inside "$root")"
    [ -n "$pids" ] || break
    # shellcheck disable=SC2086  # one pid a word
    if [ "$i" -lt 4 ]; then kill -TERM $pids 2>/dev/null || true; else kill -KILL $pids 2>/dev/null || true; fi
    sleep 0.5
  done
  awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r | while read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}

current=""
child=""
# shellcheck disable=SC2317  # run by the traps
cleanup() { if [ -n "$current" ]; then release "$current"; current=""; fi; }
trap cleanup EXIT
# shellcheck disable=SC2317  # run by the traps
stop() { echo "== stopped by SIG$1: the chroot is released" >&2; exit "$2"; }
trap 'stop INT 130' INT
trap 'stop TERM 143' TERM
trap 'stop HUP 129' HUP

# A command in a session of its own, its output into a file, waited for so
# that a signal reaches the trap at once rather than when the command ends
# (and the trap's own words reach the terminal); the trap ends the session.
run() {
  local out="$1" s=0
  shift
  setsid "$@" >"$out" 2>&1 &
  child=$!
  wait "$child" || s=$?
  child=""
  return "$s"
}

command -v debootstrap >/dev/null || {
  apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
}
mkdir -p "$base"
exec 9>"$base/.lock"
flock -n 9 || { echo "$0: another matrix run holds $base/.lock" >&2; exit 1; }
url="$(mirror)" || { echo "$0: no Debian archive found in the host's apt sources" >&2; exit 1; }
sha="$(git -C "$src" rev-parse HEAD)"
dirty=""
[ -z "$(git -C "$src" status --porcelain --untracked-files=no)" ] ||
  dirty=" (the worktree has uncommitted changes: they are not part of this run)"
echo "== commit $(git -C "$src" log -1 --format='%h %s')$dirty"

declare -A summary
overall=0
for nn in "${releases[@]}"; do
  suite=bookworm; [ "$nn" = 13 ] && suite=trixie
  root="$base/debian-$nn"
  log="$base/debian-$nn"
  # Its dpkg runs inside the root: a running debootstrap is left alone.
  if pgrep -f "debootstrap .*($root|debian-$nn) " >/dev/null; then
    echo "$0: a debootstrap of $root is still running; try again when it ends" >&2; exit 1
  fi
  current="$root"
  release "$root"
  if [ "$fresh" = 1 ] || [ ! -e "$root/.kx-debootstrap-done" ]; then
    echo "== debian-$nn: debootstrap $suite from $url (log: $base/debootstrap-$nn.log)"
    rm -rf --one-file-system "$root"
    t=$SECONDS
    run "$base/debootstrap-$nn.log" debootstrap --variant=minbase \
      --include=git,ca-certificates,procps,psmisc,file "$suite" "$root" "$url" ||
      { echo "debootstrap failed: see $base/debootstrap-$nn.log" >&2; exit 1; }
    release "$root"
    touch "$root/.kx-debootstrap-done"
    echo "== debian-$nn: debootstrap: $((SECONDS - t)) s"
  fi
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  # Where / is shared (systemd), the chroot's mounts below dev would else
  # reach the host's /dev.
  mount --make-private "$root/dev"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  cp --remove-destination /etc/resolv.conf "$root/etc/resolv.conf"
  rm -rf "$root/root/kx"
  git clone -q --no-checkout "$src" "$root/root/kx"
  git -C "$root/root/kx" checkout -q --detach "$sha"

  # A run stopped during the installs leaves packages half unpacked or
  # unconfigured, which apt refuses to work beside; whatever this cannot
  # mend, demo.sh's own install then names.
  run /dev/null chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    sh -c 'dpkg --configure -a && apt-get install -f -y -qq' || true
  lines=()
  ok=1
  for step in demo test; do
    t=$SECONDS
    s=0
    run "$log.$step.log" chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
      PATH=/usr/sbin:/usr/bin:/sbin:/bin bash -c "cd /root/kx && scripts/$step.sh" || s=$?
    [ "$s" -eq 0 ] || ok=0
    lines+=("$step.sh: exit $s after $((SECONDS - t)) s; log $log.$step.log")
    while IFS= read -r l; do lines+=("  $l"); done < <(grep -E '^== (installs: |builds: |Wine prefixes ready in |suite wall time: |disk: )' "$log.$step.log" || true)
  done
  lines+=("demo's last line: $(tail -n 1 "$log.demo.log")")
  while IFS= read -r l; do lines+=("$l"); done < <(awk '
    /^== x64 tests/ { a = "x64" } /^== x86 tests/ { a = "x86" }
    /^[0-9]+% tests passed/ { print a " tests: " $0 }
    /^32-bit DLL built and inspected but not run/ { print; n++ } /% tests passed/ { n++ }
    END { if (!n) print "no CTest summary: the suites did not run" }' "$log.test.log")
  release "$root"
  current=""
  lines+=("disk: clone with build trees $(du -sh "$root/root/kx" | cut -f1), chroot $(du -shx "$root" | cut -f1)")
  verdict=passed
  if [ "$ok" != 1 ]; then verdict=FAILED; overall=1; fi
  summary[$nn]="$(printf '== Debian %s (%s): %s\n' "$nn" "$suite" "$verdict"; printf '  %s\n' "${lines[@]}")"
  echo "${summary[$nn]}"
done

echo
echo "== summary"
for nn in "${releases[@]}"; do echo "${summary[$nn]}"; done
exit "$overall"
