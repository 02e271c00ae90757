#!/usr/bin/env bash
# Runs both programs under valgrind memcheck in a virtual X server: the settings
# program until Escape closes it, the saver for a few seconds until a key ends
# it. Fails on any memcheck error, a definite leak, or a wrong exit code.
#   scripts/valgrind/memcheck.sh [build-folder]
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
SUPP="$HERE/memcheck.supp"
SAVER="$BUILD/windows/Plumora.scr"
SETTINGS="$BUILD/windows/Quenset.exe"

for tool in valgrind Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "memcheck: $tool is not installed" >&2; exit 1; }
done
for p in "$SAVER" "$SETTINGS"; do
  [ -x "$p" ] || { echo "memcheck: $p is not built" >&2; exit 1; }
done

work=$(mktemp -d /tmp/plumora-memcheck-XXXXXX)
n=120
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=":$n"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "memcheck: Xvfb did not start" >&2; exit 1; }

export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

VALGRIND=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
  --show-leak-kinds=definite --errors-for-leak-kinds=definite --num-callers=30
  --suppressions="$SUPP")

# The window of a process, once it is shown.
window_of() {
  local pid=$1 w=""
  for _ in $(seq 600); do
    w=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)
    [ -n "$w" ] && { echo "$w"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Waits up to $2 seconds for a process to end; its exit code in $status.
wait_end() {
  local pid=$1 limit=$2
  for _ in $(seq $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
  fi
  status=0
  wait "$pid" || status=$?
}

failed=0
# Every process of the run (helpers the libraries fork included) writes its own
# log; each needs no errors and no definite leak.
check_logs() {
  local name=$1 prefix=$2 code=$3 bad=0 log
  if [ "$code" -ne 0 ]; then
    echo "memcheck: $name ended with exit code $code" >&2
    bad=1
  fi
  for log in "$prefix".*.log; do
    [ -e "$log" ] || { echo "memcheck: $name wrote no log" >&2; bad=1; continue; }
    if ! grep -q "ERROR SUMMARY: 0 errors" "$log" ||
       ! grep -q "definitely lost: 0 bytes\|All heap blocks were freed\|no leaks are possible" "$log"; then
      echo "memcheck: $name: errors or leaks in $(basename "$log")" >&2
      sed 's/^/    /' "$log" >&2
      bad=1
    fi
  done
  if [ "$bad" -eq 0 ]; then
    echo "memcheck: $name: 0 errors, definitely lost: 0 bytes"
  fi
  [ "$bad" -eq 0 ] || failed=1
}

# Settings program: the dialog opens, Escape closes it.
QT_QPA_PLATFORM=xcb "${VALGRIND[@]}" --log-file="$work/settings.%p.log" "$SETTINGS" &
pid=$!
if window=$(window_of "$pid"); then
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  sleep 1
  xdotool key --window "$window" Escape
else
  echo "memcheck: the settings program showed no window" >&2
fi
wait_end "$pid" 120
check_logs "settings program" "$work/settings" "$status"

# Saver: runs a few seconds (its frames are slow under memcheck), then a key.
"${VALGRIND[@]}" --log-file="$work/saver.%p.log" "$SAVER" /s &
pid=$!
if window=$(window_of "$pid"); then
  sleep 5
  xdotool key space
else
  echo "memcheck: the saver showed no window" >&2
fi
wait_end "$pid" 120
check_logs "saver" "$work/saver" "$status"

exit "$failed"
