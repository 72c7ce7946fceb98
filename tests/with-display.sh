#!/bin/sh
# Runs a command inside an Xvfb display of its own and passes on its exit
# status. Xvfb picks the first free display number itself (-displayfd), so
# any number of these can start at once without two claiming one number,
# which xvfb-run -a cannot promise.
set -u
ready="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
server=$!
stop_server() { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$ready"; }
trap 'stop_server; exit 143' TERM INT HUP
tries=0
while [ ! -s "$ready" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
    echo "with-display: Xvfb did not start" >&2
    stop_server
    exit 1
  fi
  sleep 0.05
done
DISPLAY=":$(head -n1 "$ready")"
export DISPLAY
status=0
"$@" || status=$?
stop_server
exit "$status"
