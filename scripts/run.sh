#!/usr/bin/env bash
# Starts Quellmark from a build directory: scripts/run.sh BUILD_DIR
# The program finds its settings file (quellmark.ini) and its ports/ folder
# in the directory it is started from, BUILD_DIR.
set -euo pipefail

build="${1:-build}"
exe="$build/quellmark"
if [ ! -x "$exe" ]; then
  echo "run.sh: $exe not found; build it first (make build)" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; to run without one, set QT_QPA_PLATFORM=offscreen" >&2
  exit 1
fi
exec "$exe"
