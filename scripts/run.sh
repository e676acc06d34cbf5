#!/usr/bin/env bash
# Starts Quellmark from a build directory: scripts/run.sh BUILD_DIR
# A simulated device is linked as COM1 for the program in BUILD_DIR
# (BUILD_DIR/ports/com1) and stopped when the program ends. The program finds
# its settings file (quellmark.ini, absent by default: the embedded defaults
# apply) and its ports/ folder in BUILD_DIR.
set -euo pipefail

build="${1:-build}"
exe="$build/quellmark"
sim="$build/quellmark-sim"
for f in "$exe" "$sim"; do
  [ -x "$f" ] || { echo "run.sh: $f not found; build it first (make build)" >&2; exit 1; }
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; to run without one, set QT_QPA_PLATFORM=offscreen" >&2
  exit 1
fi

"$sim" --link "$build/ports/com1" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "$build/ports/com1" ] && break
  sleep 0.1
done

# The default alarm sound the build made (build/share/quellmark/a1.wav).
export XDG_DATA_DIRS="$(cd "$build" && pwd)/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
"$exe"
