#!/usr/bin/env bash
# Runs the saver full-screen on the current display. Without a display it runs
# the saver in a virtual X server for a few seconds and saves a screenshot.
set -euo pipefail
BUILD=${1:-build}
SAVER="$BUILD/windows/Plumora.scr"
[ -x "$SAVER" ] || { echo "run: $SAVER is not built" >&2; exit 1; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$SAVER" /s
fi

echo "run: no display; running the saver in a virtual X server for 5 seconds" >&2
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=":$n"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$SAVER" /s &
saver=$!
sleep 5
shot="$(cd "$BUILD" && pwd)/screenshot.png"
"$BUILD/tools/xshot" png "$shot"
xdotool key space
status=0
wait "$saver" || status=$?
echo "run: the saver ended with exit code $status; screenshot: $shot"
