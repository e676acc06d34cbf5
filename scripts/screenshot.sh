#!/usr/bin/env bash
# Pictures of the window on a private X server:
#   BUILD_DIR/screenshot.png           the window after start-up
#   BUILD_DIR/screenshot-settings.png  the same with the settings panel open
# Usage: scripts/screenshot.sh BUILD_DIR   (works as root and without a display)
set -euo pipefail

build="$(cd "${1:-build}" && pwd)"
exe="$build/quellmark"
[ -x "$exe" ] || { echo "screenshot.sh: $exe not found; build it first" >&2; exit 1; }
for tool in Xvfb xwininfo import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
sim_pid=""
cleanup() {
  local rc=$?
  set +e
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; fi
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# The simulated device as COM1, as `make run` has it.
if [ -x "$build/quellmark-sim" ]; then
  "$build/quellmark-sim" --link "$build/ports/com1" --seed 7 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$build/ports/com1" ] && break; sleep 0.1; done
fi

"$exe" >"$work/app.log" 2>&1 &
app_pid=$!

# Wait until the window is mapped and titled.
win=""
for _ in $(seq 150); do
  kill -0 "$app_pid" 2>/dev/null || { echo "screenshot.sh: the program ended" >&2; cat "$work/app.log" >&2; exit 1; }
  win="$(xwininfo -root -tree 2>/dev/null | awk '/"Quellmark: / { print $1; exit }')"
  if [ -n "$win" ] && xwininfo -id "$win" 2>/dev/null | grep -q 'IsViewable'; then
    break
  fi
  win=""
  sleep 0.1
done
[ -n "$win" ] || { echo "screenshot.sh: no window appeared" >&2; cat "$work/app.log" >&2; exit 1; }

# Let the device be found (2.5 s after start-up) and the first sample cycle
# (a second later, eight values) fill the panels.
sleep 9
import -window "$win" "$build/screenshot.png"
echo "screenshot.sh: wrote $build/screenshot.png"

# Second picture: click "Set" (second button from the right in the bottom bar)
# through the XTEST extension. Optional: skipped without python3.
if command -v python3 >/dev/null; then
  geometry="$(xwininfo -id "$win")"
  left=$(awk '/Absolute upper-left X/ { print $4 }' <<<"$geometry")
  top=$(awk '/Absolute upper-left Y/ { print $4 }' <<<"$geometry")
  width=$(awk '/Width:/ { print $2 }' <<<"$geometry")
  height=$(awk '/Height:/ { print $2 }' <<<"$geometry")
  # Bottom bar: margin 8, buttons 64 wide with gaps of 6, 28 high.
  x=$((left + width - 8 - 64 - 6 - 32))
  y=$((top + height - 8 - 14))
  if python3 - "$x" "$y" <<'PY'
import ctypes, sys
x, y = int(sys.argv[1]), int(sys.argv[2])
x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
display = ctypes.c_void_p(x11.XOpenDisplay(None))
if not display.value:
    sys.exit(1)
xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
xtst.XTestFakeButtonEvent(display, 1, 1, 0)
xtst.XTestFakeButtonEvent(display, 1, 0, 0)
x11.XFlush(display)
x11.XCloseDisplay(display)
PY
  then
    sleep 1
    import -window "$win" "$build/screenshot-settings.png"
    echo "screenshot.sh: wrote $build/screenshot-settings.png"
  fi
fi
