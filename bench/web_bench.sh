#!/usr/bin/env bash
# The web page's cost: CPU time of the program per logged line at 100 lines/s,
# without web.conf, with the page on and nobody watching, and with ten
# browsers' event streams open (python clients reading /api/events).
#   bench/web_bench.sh BUILD_DIR [SECONDS]
set -euo pipefail
export LC_ALL=C
build="$(cd "${1:-build}" && pwd)"
seconds="${2:-20}"
rate=100
work="$(mktemp -d "${TMPDIR:-/tmp}/quellmark-web-bench.XXXXXX")"
pids=()
cleanup() {
  set +e
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
ticks="$(getconf CLK_TCK)"

# CPU ticks (user + system) of a process.
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

run() { # case name, watchers
  local dir="$work/$1" watchers="$2"
  mkdir -p "$dir/ports"
  ln -s "$build/quellmark" "$dir/pump"
  "$dir/pump" --set log=1 --set stime=0 > /dev/null
  [ "$1" = off ] || printf 'port = %s\n' "$port" > "$dir/web.conf"
  "$build/quellmark-sim" --link "$dir/ports/com1" --continuous "$rate" > /dev/null 2>&1 &
  local sim=$!; pids+=("$sim")
  sleep 0.5
  QT_QPA_PLATFORM=offscreen "$dir/pump" --headless > "$dir/out" 2>&1 &
  local app=$!; pids+=("$app")
  sleep 2
  local clients=()
  for ((i = 0; i < watchers; i++)); do
    python3 -c '
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1]) as r:
    while r.read(4096): pass' "http://127.0.0.1:$port/api/events" > /dev/null 2>&1 &
    clients+=($!); pids+=($!)
  done
  sleep 1
  local lines0 cpu0 lines1 cpu1
  lines0=$(cat "$dir"/pumpLog/*.txt | wc -l); cpu0=$(cpu "$app")
  sleep "$seconds"
  lines1=$(cat "$dir"/pumpLog/*.txt | wc -l); cpu1=$(cpu "$app")
  for c in "${clients[@]}"; do kill "$c" 2>/dev/null || true; done
  kill "$app" "$sim"; wait "$app" 2>/dev/null || true
  awk -v n=$((lines1 - lines0)) -v c=$((cpu1 - cpu0)) -v t="$ticks" -v name="$1" \
    'BEGIN { printf "%-10s %7d lines  %6.2f s CPU  %7.1f us/line\n", name, n, c / t, 1e6 * c / t / n }'
}

echo "== CPU per logged line at $rate lines/s over $seconds s"
run off 0
run page 0
run watched 10
