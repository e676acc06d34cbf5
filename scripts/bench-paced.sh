#!/usr/bin/env bash
# CPU time per logged line: Quellmark against bench/peer.py, the short Python
# script a user would write instead (read the value lines, append one log line
# each), and against bench/peer_buffered.py, the same written with care (it
# takes what the port holds in one read and splits the lines itself: the
# stronger peer, which the targets compare with), all fed by the simulated
# device with the same settings:
#   scripts/bench-paced.sh BUILD_DIR      (BUILD_DIR holds quellmark, quellmark-sim)
#
#   flood         --continuous 0    --count QM_PACED_FLOOD  (default 200000)
#   paced 1000/s  --continuous 1000 --count QM_PACED_1000   (default 10000)
#   paced 100/s   --continuous 100  --count QM_PACED_100    (default 1500)
#
# The program runs offscreen plain, without a window (--headless), with the
# trend window open (--trend),
# publishing every reading to a local mosquitto (when there is one; nobody
# subscribes), and plain on a private Xvfb for the record. Every run goes over
# QM_PACED_RUNS repetitions (default 3): median and range.
#
# A run's figure is the process's own time on a CPU (/proc/PID/schedstat)
# between its first log line and the log holding all lines (or, when lines are
# lost, the log's last growth), divided by the lines logged in between: the
# start-up is not in it. Flood runs are measured one at a time; the paced runs
# of a repetition (both rates, program and peer) run side by side, each with
# its own simulator, to keep the whole within about four minutes: together
# they need less than one CPU, and a process's CPU time is its own (run one at
# a time, they gave the same figures within the run-to-run spread).
set -euo pipefail
export LC_ALL=C

build="$(cd "${1:-build}" && pwd)"
app="$build/quellmark"
sim="$build/quellmark-sim"
peer="$(cd "$(dirname "$0")/.." && pwd)/bench/peer.py"
peer2="$(dirname "$peer")/peer_buffered.py"
for f in "$app" "$sim"; do
  [ -x "$f" ] || { echo "bench-paced.sh: $f not found; build first (make build)" >&2; exit 1; }
done
# The peer needs pyserial (python3-serial); the first python3 that has it.
py=""
for p in python3 /usr/bin/python3; do
  py="$("$p" -c 'import serial, sys; print(sys.executable)' 2>/dev/null)" && break
done
[ -n "$py" ] || { echo "bench-paced.sh: no python3 with pyserial (apt-get install python3-serial)" >&2; exit 1; }

RUNS="${QM_PACED_RUNS:-3}"
cases=("flood 0 ${QM_PACED_FLOOD:-200000}" "paced-1000 1000 ${QM_PACED_1000:-10000}" "paced-100 100 ${QM_PACED_100:-1500}")

work="$(mktemp -d "${TMPDIR:-/tmp}/quellmark-paced.XXXXXX")"
pids=()
cleanup() {
  local rc=$? p
  set +e
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '%s\n' "$*" >&2; }
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
mkfifo "$work/tick"; exec 9<>"$work/tick"
pause() { read -r -t "$1" -u 9 _ || true; } # sleep without a process
log_lines() { { cat "$1"/quellmarkLog/*.txt 2>/dev/null || true; } | wc -l; }
has_log_line() { local f; for f in "$1"/quellmarkLog/*.txt; do [ -s "$f" ] && return 0; done; return 1; }
stats() { sort -n | awk '{ v[n++] = $1 } END { if (n == 0) print "- - -"; else print v[int(n / 2)], v[0], v[n - 1] }'; }
# make_instance DIR STIME LOG and start_broker
. "$(dirname "$0")/bench-common.sh"

# --- a broker on 127.0.0.1 and an X server, both private ------------------------------

start_broker
display=""
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -br 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; pause 0.05; done
  display=":$(head -n1 "$work/display")"
  mkdir -m 700 "$work/runtime"
fi
variants=(plain headless trend)
[ -n "$broker_port" ] && variants+=(publish)
[ -n "$display" ] && variants+=(xvfb)
consumers=("${variants[@]}" peer peer2)

# --- runs ---------------------------------------------------------------------------------

# The instances being watched, by index.
i_case=() i_who=() i_dir=() i_pid=() i_sim=() i_n=() i_state=() i_end=()
i_cpu0=() i_lines0=() i_cpu=() i_lines=() i_still=()

# Starts a simulator and a consumer WHO (a program variant or peer) in a
# directory of their own; the run counts N lines sent at RATE.
launch() {
  local run="$1" case="$2" rate="$3" n="$4" who="$5"
  local dir="$work/r$run-$case-$who" k=${#i_dir[@]}
  mkdir -p "$dir/ports"
  "$sim" --link "$dir/ports/com1" --continuous "$rate" --count "$n" --seed "$run" >"$dir/sim.out" 2>"$dir/sim.err" &
  i_sim[k]=$!; pids+=($!)
  for _ in $(seq 200); do [ -e "$dir/ports/com1" ] && break; pause 0.025; done
  if [ "$who" = peer ] || [ "$who" = peer2 ]; then
    local script="$peer"
    [ "$who" = peer2 ] && script="$peer2"
    (cd "$dir" && exec "$py" "$script" "$dir/ports/com1" "$dir/quellmarkLog") >"$dir/app.out" 2>&1 &
  else
    make_instance "$dir" 0 1
    local platform=offscreen args=()
    [ "$who" = trend ] && args=(--trend)
    [ "$who" = headless ] && args=(--headless)
    [ "$who" = xvfb ] && platform=xcb
    [ "$who" = publish ] && printf '[broker]\nhost = 127.0.0.1\nport = %s\nclient_id = paced-%s\n[topics]\nprefix = paced/%s\nqos = 1\n' \
      "$broker_port" "$k" "$k" >"$dir/mqtt.conf"
    # Started from elsewhere: the program finds its files by its start path.
    (cd "$work" && DISPLAY="$display" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM="$platform" \
      exec "$dir/quellmark" "${args[@]}") >"$dir/app.out" 2>&1 &
  fi
  i_pid[k]=$!; pids+=($!)
  i_case[k]=$case i_who[k]=$who i_dir[k]=$dir i_n[k]=$n i_state[k]=wait
  # Start-up, then the sending itself, then a generous margin.
  i_end[k]=$(($(now_ms) + (rate > 0 ? n * 1000 / rate : 0) + (rate > 0 ? 60000 : 300000)))
}

# Ends instance K: one result line "case who us-per-line lost".
finish() {
  local k=$1 note="${2:-}" us="-" lost
  lost=$((i_n[k] - $(log_lines "${i_dir[k]}")))
  if [ "${i_state[k]}" = run ] && [ $((i_lines[k] - i_lines0[k])) -gt 0 ]; then
    us=$(awk -v c=$((i_cpu[k] - i_cpu0[k])) -v n=$((i_lines[k] - i_lines0[k])) 'BEGIN { printf "%.2f", c / 1000 / n }')
  fi
  [ -z "$note" ] || { say "bench-paced.sh: ${i_case[k]} ${i_who[k]}: $note"; cat "${i_dir[k]}/app.out" "${i_dir[k]}/sim.err" >&2; }
  echo "${i_case[k]} ${i_who[k]} $us $lost" >>"$work/results"
  kill "${i_pid[k]}" "${i_sim[k]}" 2>/dev/null || true
  wait "${i_pid[k]}" "${i_sim[k]}" 2>/dev/null || true
  local p rest=()
  for p in "${pids[@]}"; do [ "$p" = "${i_pid[k]}" ] || [ "$p" = "${i_sim[k]}" ] || rest+=("$p"); done
  pids=("${rest[@]}")
  i_state[k]=fin
}

# Watches the launched instances until each has its figure.
watch_all() {
  local k left=${#i_dir[@]} cpu st lines now done_line
  while [ "$left" -gt 0 ]; do
    pause "$1"
    for k in "${!i_dir[@]}"; do
      [ "${i_state[k]}" != fin ] || continue
      now=$(now_ms)
      if ! read -r _ _ st _ 2>/dev/null <"/proc/${i_pid[k]}/stat" || [ "$st" = Z ] ||
         ! read -r cpu _ 2>/dev/null <"/proc/${i_pid[k]}/schedstat"; then
        finish "$k" "ended early"; left=$((left - 1)); continue
      fi
      if [ "$now" -gt "${i_end[k]}" ]; then
        finish "$k" "did not finish in time"; left=$((left - 1)); continue
      fi
      if [ "${i_state[k]}" = wait ]; then
        has_log_line "${i_dir[k]}" || continue
        i_lines0[k]=$(log_lines "${i_dir[k]}"); i_cpu0[k]=$cpu
        i_lines[k]=${i_lines0[k]} i_cpu[k]=$cpu i_still[k]=$now i_state[k]=run
        continue
      fi
      # Lines are counted once the simulator has sent everything.
      done_line=""; read -r done_line <"${i_dir[k]}/sim.err" || true
      [ "$done_line" = done ] || continue
      lines=$(log_lines "${i_dir[k]}")
      if [ "$lines" != "${i_lines[k]}" ]; then i_lines[k]=$lines i_cpu[k]=$cpu i_still[k]=$now; fi
      if [ "$lines" -ge "${i_n[k]}" ] || [ $((now - i_still[k])) -ge 1000 ]; then
        finish "$k"; left=$((left - 1))
      fi
    done
  done
  i_case=() i_who=() i_dir=() i_pid=() i_sim=() i_n=() i_state=() i_end=()
  i_cpu0=() i_lines0=() i_cpu=() i_lines=() i_still=()
}

echo "== Quellmark against bench/peer.py ($py): CPU per logged line, $RUNS runs =="
echo "Machine: $(nproc) CPUs, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
     "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/results"
started=$(now_ms)
for run in $(seq "$RUNS"); do
  read -r case rate n <<<"${cases[0]}"
  for who in "${consumers[@]}"; do
    launch "$run" "$case" "$rate" "$n" "$who"
    watch_all 0.05
  done
  for c in "${cases[@]:1}"; do
    read -r case rate n <<<"$c"
    for who in "${consumers[@]}"; do launch "$run" "$case" "$rate" "$n" "$who"; done
  done
  watch_all 0.1
  say "bench-paced.sh: run $run of $RUNS done after $((($(now_ms) - started) / 1000)) s"
done

# --- the table ---------------------------------------------------------------------------------

figure() { # CASE WHO -> "median min max"
  awk -v c="$1" -v w="$2" '$1 == c && $2 == w && $3 != "-" { print $3 }' "$work/results" | stats
}
row() { printf '%-13s %-22s %-20s %-9s %-20s %-20s %-9s %-24s %s\n' "$@"; }
echo
row case variant "program us/line" lost "peer us/line" "stronger peer" stronger/ "target" verdict
row "" "" "median (min-max)" "per run" "median (min-max)" "median (min-max)" "program" "" ""
for c in "${cases[@]}"; do
  read -r case rate n <<<"$c"
  read -r pm plo phi < <(figure "$case" peer)
  read -r sm slo shi < <(figure "$case" peer2)
  for who in "${variants[@]}"; do
    read -r m lo hi < <(figure "$case" "$who")
    lost=$(awk -v c="$case" -v w="$who" '$1 == c && $2 == w { s = s (s == "" ? "" : "/") $4 } END { print s }' "$work/results")
    case "$who" in
      plain) label="offscreen";; headless) label="headless";; trend) label="offscreen, --trend";; publish) label="offscreen, publishing";;
      xvfb) label="Xvfb (for the record)";;
    esac
    # Without a window the program is held to a fifth of the stronger peer.
    share=3; [ "$who" = headless ] && share=5
    [ "$case" = flood ] && target="<= 4 and <= stronger/$share" || target="<= stronger/$share"
    read -r ratio verdict < <(awk -v m="$m" -v p="$sm" -v share="$share" -v flood="$([ "$case" = flood ] && echo 1 || echo 0)" 'BEGIN {
      if (m == "-" || p == "-" || m <= 0) { print "- ?"; exit }
      limit = p / share; if (flood && limit > 4) limit = 4
      v = (m <= limit) ? "met" : sprintf("missed by %.2f us (%+.0f%%)", m - limit, (m - limit) / limit * 100)
      printf "%.1f %s\n", p / m, v }')
    row "$case" "$label" "$m ($lo-$hi)" "$lost" "$pm ($plo-$phi)" "$sm ($slo-$shi)" "$ratio" "$target" "$verdict"
  done
done
echo
echo "Counts: flood ${cases[0]##* }, paced 1000/s ${cases[1]##* }, paced 100/s ${cases[2]##* } lines;" \
     "lost = count - log lines, per run; us are microseconds of the process's own CPU time (schedstat)."
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg); $((($(now_ms) - started) / 1000)) s in all."
