#!/usr/bin/env bash
# A picture of the trend window of an instance, on a private X server:
#   scripts/trend-shot.sh EXECUTABLE OUT.png [SECONDS] [ARGS...]
# EXECUTABLE is the instance (a copy or link of build/quellmark in its own
# folder); it is started with --trend and ARGS, pictured after SECONDS (4).
# TZ and the rest of the environment are passed on.
set -euo pipefail
exe="$1"
out="$2"
wait="${3:-4}"
shift $(($# < 3 ? $# : 3))
for tool in Xvfb xwininfo import; do
  command -v "$tool" >/dev/null || { echo "trend-shot.sh: $tool is missing" >&2; exit 1; }
done
work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
  local rc=$?
  set +e
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$exe" --trend "$@" >"$work/app.log" 2>&1 &
app_pid=$!
win=""
for _ in $(seq 150); do
  kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log" >&2; exit 1; }
  win="$(xwininfo -root -tree 2>/dev/null | awk '/ trend"/ { print $1; exit }')"
  [ -n "$win" ] && xwininfo -id "$win" 2>/dev/null | grep -q IsViewable && break
  win=""
  sleep 0.1
done
[ -n "$win" ] || { echo "trend-shot.sh: no trend window" >&2; cat "$work/app.log" >&2; exit 1; }
sleep "$wait"
import -window "$win" "$out"
echo "trend-shot.sh: wrote $out"
