#!/usr/bin/env bash
# Speed and cost figures of Quellmark, ending in one table:
#   scripts/bench.sh BUILD_DIR
# BUILD_DIR holds quellmark, quellmark-sim and bench/ (configured with
# -DQM_BENCH=ON; `make bench` does all of it). docs/performance.md says how
# each figure is measured and records them.
#
#   core  the receive path on the simulated clock (bench/core_bench)
#   (a)   the program, continuous mode, logging on, a counted run over a
#         pseudo-terminal: lines per second, lines lost, memory afterwards
#   (b)   idle operation: CPU time per hour (three instances, see below)
#   (c)   start-up to the first painted window, under Xvfb (bench/window_probe)
#   (d)   a longer continuous run: does resident memory grow?
#   (e)   how fast the window answers while the device floods it, and how
#         far it is behind a device sending 100 lines/s (Xvfb)
#   (f)   (a) again with the trend window open; the trend on a full day
#         (bench/trend_bench): time to show, repaint while panning, memory
#   (g)   (a) again publishing every reading with QoS 1 to a local mosquitto,
#         with a subscriber: readings per second end to end, none lost; and
#         in (b) a fourth idle instance that publishes (needs mosquitto)
#
# Knobs (environment):
#   QM_BENCH_LINES        lines of the counted run (a)                default 500000
#   QM_BENCH_LONG_S       seconds of the longer run (d)               default 40
#   QM_BENCH_IDLE_CYCLES  sample cycles the idle window spans (b)     default 3
#   QM_BENCH_STARTS       start-ups timed (c)                         default 7
#   QM_BENCH_PING_S       seconds of pings (e)                        default 8
#   QM_BENCH_PUB_LINES    lines of the publishing run (g)             default 200000
#   QM_BENCH_PACED        0: leave out scripts/bench-paced.sh at the end
#
# The idle instances (b) wait in the background while (a), (c), (d) and (e)
# are measured: an idle process's CPU time is its own and needs no processor
# to itself. The core benchmark runs before them, alone. Everything happens in
# a temporary directory that is removed at the end.
set -euo pipefail
export LC_ALL=C

build="$(cd "${1:-build}" && pwd)"
app="$build/quellmark"
sim="$build/quellmark-sim"
core="$build/bench/core_bench"
probe="$build/bench/window_probe"
for f in "$app" "$sim" "$core" "$build/bench/trend_bench"; do
  [ -x "$f" ] || { echo "bench.sh: $f not found; configure with -DQM_BENCH=ON and build (make bench)" >&2; exit 1; }
done

LINES_N="${QM_BENCH_LINES:-500000}"
LONG_S="${QM_BENCH_LONG_S:-40}"
IDLE_CYCLES="${QM_BENCH_IDLE_CYCLES:-3}"
STARTS="${QM_BENCH_STARTS:-7}"
PING_S="${QM_BENCH_PING_S:-8}"
PUB_LINES="${QM_BENCH_PUB_LINES:-200000}"
CLK_TCK="$(getconf CLK_TCK)"

work="$(mktemp -d "${TMPDIR:-/tmp}/quellmark-bench.XXXXXX")"
pids=()     # processes this script started, ended at exit
xvfb_pid=""
cleanup() {
  local rc=$?
  set +e
  local p
  for p in "${pids[@]}" $(cat "$work"/*.pids 2>/dev/null); do
    kill "$p" 2>/dev/null
  done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- helpers ------------------------------------------------------------------

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
say() { printf '%s\n' "$*" >&2; }
# make_instance DIR STIME LOG and start_broker
. "$(dirname "$0")/bench-common.sh"

# Starts the simulated device as COM1 of DIR; sets sim_pid.
start_sim() {
  local dir="$1"; shift
  "$sim" --link "$dir/ports/com1" "$@" >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  local i
  for i in $(seq 200); do
    [ -e "$dir/ports/com1" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.025
  done
  say "bench.sh: the simulator did not come up"; cat "$dir/sim.err" >&2; return 1
}

# Starts the program of DIR on Qt platform PLATFORM; sets app_pid. The working
# directory is not the program directory: the program finds its files by its
# start path.
start_app() {
  local dir="$1" platform="$2"; shift 2
  (cd "$work" && QT_QPA_PLATFORM="$platform" exec "$dir/quellmark" "$@") >"$dir/app.out" 2>&1 &
  app_pid=$!
}

cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }   # utime + stime
cpu_ns() { awk '{ print $1 }' "/proc/$1/schedstat" 2>/dev/null || echo 0; }  # time on a CPU, ns
status_kb() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status"; }
log_lines() { { cat "$1"/quellmarkLog/*.txt 2>/dev/null || true; } | wc -l; }

# Lines per whole second of the log's own time stamps, the first and the last
# (partial) second left out: "min median seconds".
per_second() {
  { cat "$1"/quellmarkLog/*.txt 2>/dev/null || true; } | awk -F, '
    { if (!($1 in n)) order[k++] = $1; n[$1]++ }
    END {
      m = 0
      for (i = 1; i < k - 1; ++i) v[m++] = n[order[i]] + 0
      if (m == 0) { print "- - 0"; exit }
      for (i = 0; i < m; ++i) for (j = i + 1; j < m; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      print v[0], v[int(m / 2)], m
    }'
}

# Log lines not in the form "hh:mm:ss",v1,...,v8 CR LF.
bad_log_lines() {
  { cat "$1"/quellmarkLog/*.txt 2>/dev/null || true; } | awk '
    {
      ok = /\r$/; s = $0; sub(/\r$/, "", s)
      if (split(s, f, ",") != 9 || f[1] !~ /^"[0-2][0-9]:[0-5][0-9]:[0-5][0-9]"$/) ok = 0
      for (i = 2; i <= 9 && ok; ++i) if (f[i] !~ /^-?([0-9]+|[0-9]*\.[0-9]+)(E[+-][0-9]+)?$/) ok = 0
      if (!ok) ++bad
    }
    END { print bad + 0 }'
}

# Median, min and max of numbers, one a line: "median min max".
stats() { sort -n | awk '{ v[n++] = $1 } END { if (n == 0) print "- - -"; else print v[int(n / 2)], v[0], v[n - 1] }'; }

# Waits until the log folder of DIR has a line.
wait_first_log_line() {
  local dir="$1" i
  for i in $(seq 6000); do
    [ -s "$(ls "$dir"/quellmarkLog/*.txt 2>/dev/null | head -n1)" ] && return 0
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.005
  done
  say "bench.sh: no log line appeared"; cat "$dir/app.out" >&2; return 1
}

# --- (b) idle operation, in the background ------------------------------------------
# Three instances wait side by side, each with its own simulated device:
#   sampled  STime 30, RVnr 8, logging on: the figure of the target
#   clock    STime 3600: the sample clock ticks (status line every second);
#            no cycle falls into the window
#   quiet    continuous mode; the device sent 8 lines and fell silent:
#            nothing of the program's own is due
#   publish  as sampled, publishing to the local broker (when there is one)
#   headless as sampled, without a window (--headless)
#   xvfb     as sampled, its window shown on an X server of its own (Xvfb,
#            when there is one)
# The differences tell where the idle time goes. The window opens when the
# sampled instance has logged its first cycle and closes when it has logged
# IDLE_CYCLES more, so it spans whole cycles (a cycle period is the sample
# time plus the cycle's own few seconds).

idle_snapshot() { # NAME PID DIR -> one line of counters
  echo "$1 $(now_ms) $(cpu_ticks "$2") $(cpu_ns "$2") $(status_kb "$2" voluntary_ctxt_switches) $(log_lines "$3")"
}

idle_run() {
  local names=(sampled clock quiet headless) apps=() dirs=() i
  [ -n "$broker_port" ] && names+=(publish)
  if command -v Xvfb >/dev/null; then
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -br 3>"$work/idle-display" 2>"$work/idle-xvfb.log" &
    echo $! >>"$work/idle.pids"
    for _ in $(seq 100); do [ -s "$work/idle-display" ] && break; sleep 0.05; done
    mkdir -m 700 "$work/idle-runtime"
    names+=(xvfb)
  fi
  local all=(${!names[@]})
  for i in "${all[@]}"; do
    dirs[i]="$work/idle-${names[i]}"
    case "${names[i]}" in
      sampled) make_instance "${dirs[i]}" 30 1; start_sim "${dirs[i]}";;
      clock) make_instance "${dirs[i]}" 3600 1; start_sim "${dirs[i]}";;
      quiet) make_instance "${dirs[i]}" 0 1; start_sim "${dirs[i]}" --continuous 0 --count 8;;
      publish) make_instance "${dirs[i]}" 30 1; mqtt_conf "${dirs[i]}" idle; start_sim "${dirs[i]}";;
      headless | xvfb) make_instance "${dirs[i]}" 30 1; start_sim "${dirs[i]}";;
    esac
    case "${names[i]}" in
      headless) start_app "${dirs[i]}" offscreen --headless;;
      xvfb) DISPLAY=":$(head -n1 "$work/idle-display")" XDG_RUNTIME_DIR="$work/idle-runtime" start_app "${dirs[i]}" xcb;;
      *) start_app "${dirs[i]}" offscreen;;
    esac
    apps[i]=$app_pid
    echo "$sim_pid $app_pid" >>"$work/idle.pids"
  done
  wait_cycles() { # until instance I has logged N lines (at most 5 minutes)
    local k
    for k in $(seq 3000); do
      [ "$(log_lines "${dirs[$1]}")" -ge "$2" ] && return 0
      sleep 0.1
    done
    say "bench.sh: an idle instance logged no sample cycle"; return 1
  }
  # Both sample clocks start with a cycle a second after recognition.
  wait_cycles 0 1
  wait_cycles 1 1
  for i in "${all[@]}"; do idle_snapshot "${names[i]}" "${apps[i]}" "${dirs[i]}"; done >"$work/idle.t0"
  wait_cycles 0 $((1 + IDLE_CYCLES))
  for i in "${all[@]}"; do idle_snapshot "${names[i]}" "${apps[i]}" "${dirs[i]}"; done >"$work/idle.t1"
  # name ms ticks ns wakeups log-lines rss
  for i in "${all[@]}"; do
    printf '%s %s\n' "$(sed -n "$((i + 1))p" "$work/idle.t0")" "$(sed -n "$((i + 1))p" "$work/idle.t1")" |
      awk -v rss="$(status_kb "${apps[i]}" VmRSS)" '{ print $1, $8 - $2, $9 - $3, $10 - $4, $11 - $5, $12 - $6, rss }'
  done
  kill "${apps[@]}" $(awk '{ print $1 }' "$work/idle.pids") 2>/dev/null
  wait 2>/dev/null || true
}

# --- machine ---------------------------------------------------------------------

cpu_model="$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
mem_total="$(awk '/^MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo)"
qt_version="$(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)"
debian="$(cat /etc/debian_version 2>/dev/null || echo unknown)"
echo "Machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}, $mem_total RAM, Debian $debian, Qt $qt_version, kernel $(uname -r)"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# --- core path ------------------------------------------------------------------------

echo "== Core path (Google Benchmark, simulated clock; 5 repetitions: median, best in brackets) =="
"$core" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true --benchmark_min_time=0.3 \
  --benchmark_out="$work/core.json" --benchmark_out_format=json
core_field() { # NAME FIELD -> that field of the median of benchmark NAME
  awk -v n="\"$1_median\"," -v f="\"$2\":" '
    $1 == "\"name\":" { cur = $2 }
    cur == n && $1 == f { v = $2; sub(/,$/, "", v); printf "%.0f", v; exit }' "$work/core.json"
}
core_best() { # NAME -> the highest items_per_second of its repetitions
  awk -v n="\"$1\"," '
    $1 == "\"run_name\":" { run = $2 } $1 == "\"run_type\":" { type = $2 }
    run == n && type == "\"iteration\"," && $1 == "\"items_per_second\":" { v = $2 + 0; if (v > best) best = v }
    END { if (best) printf "%.0f", best }' "$work/core.json"
}
core_off="$(core_field 'ReplyLines/log:0' items_per_second)"
core_on="$(core_field 'ReplyLines/log:1' items_per_second)"
core_off_best="$(core_best 'ReplyLines/log:0')"
core_on_best="$(core_best 'ReplyLines/log:1')"
core_missing="$(core_field 'ReplyLines/log:1' log_lines_missing)"
echo

# --- a broker of the benchmark's own on 127.0.0.1, for (b) and (g) -------------------------

broker_port=""
command -v mosquitto_sub >/dev/null && start_broker
# The program directory DIR publishes under bench/NAME.
mqtt_conf() {
  printf '[broker]\nhost = 127.0.0.1\nport = %s\nclient_id = bench-%s\n[topics]\nprefix = bench/%s\nqos = 1\n' \
    "$broker_port" "$2" "$2" >"$1/mqtt.conf"
}

idle_run >"$work/idle.result" 2>"$work/idle.err" &
idle_job=$!
pids+=("$idle_job")

# --- (a) the program, continuous mode, a counted run ---------------------------------------

# A counted continuous run in DIR with the program's extra arguments; sets
# a_rate a_lost a_bad a_cpu_us a_rss a_hwm a_sec_min a_lines a_seconds.
# Optional: run_setup DIR (before the start) and run_done DIR (also needed for
# the run to count as finished). The line count: run_lines.
counted_run() {
  local dir="$1"; shift
  local n="${run_lines:-$LINES_N}"
  make_instance "$dir" 0 1
  [ -z "${run_setup:-}" ] || "$run_setup" "$dir"
  start_sim "$dir" --continuous 0 --count "$n" --seed 1; pids+=("$sim_pid")
  start_app "$dir" offscreen "$@"; pids+=("$app_pid")
  wait_first_log_line "$dir"
  local cpu_a0 cpu_a1 last_size=-1 still_since deadline size first_s last_s
  cpu_a0=$(cpu_ticks "$app_pid")
  # Until the simulator has sent everything and the log has stopped growing.
  still_since=$(now_ms); deadline=$(($(now_ms) + 300000))
  while :; do
    size=$(stat -c %s "$dir"/quellmarkLog/*.txt | awk '{ s += $1 } END { print s }')
    if [ "$size" != "$last_size" ]; then last_size=$size; still_since=$(now_ms); fi
    if grep -q done "$dir/sim.err" && [ $(($(now_ms) - still_since)) -ge 1000 ] &&
       { [ -z "${run_done:-}" ] || "$run_done" "$dir"; }; then break; fi
    [ "$(now_ms)" -lt "$deadline" ] || { say "bench.sh: the continuous run did not finish in 300 s"; break; }
    kill -0 "$app_pid" 2>/dev/null || { say "bench.sh: the program ended during the continuous run"; break; }
    sleep 0.1
  done
  cpu_a1=$(cpu_ticks "$app_pid")
  # From the creation of the log file (its first line) to its last change (its last line).
  first_s=$(stat -c '%.6W' "$dir"/quellmarkLog/*.txt | sort -n | head -n1)
  last_s=$(stat -c '%.6Y' "$dir"/quellmarkLog/*.txt | sort -n | tail -n1)
  case "$first_s" in 0 | 0.* | -*) first_s="";; esac # no birth time on this file system
  a_lines=$(log_lines "$dir")
  a_rate=$(awk -v n="$a_lines" -v a="$first_s" -v b="$last_s" 'BEGIN { if (a != "" && b > a) printf "%.0f", n / (b - a) }')
  a_seconds=$(awk -v a="$first_s" -v b="$last_s" 'BEGIN { if (a != "") printf "%.1f", b - a }')
  a_lost=$((n - a_lines))
  read -r a_sec_min a_sec_median a_secs < <(per_second "$dir")
  [ -n "$a_rate" ] || a_rate=$a_sec_median
  a_bad=$(bad_log_lines "$dir")
  a_cpu_us=$(awk -v t=$((cpu_a1 - cpu_a0)) -v n="$a_lines" -v hz="$CLK_TCK" 'BEGIN { if (n > 0) printf "%.1f", t / hz * 1e6 / n }')
  a_alive=yes; kill -0 "$app_pid" 2>/dev/null || a_alive=no
  a_rss=$(status_kb "$app_pid" VmRSS); a_hwm=$(status_kb "$app_pid" VmHWM)
  kill "$app_pid" "$sim_pid" 2>/dev/null; wait "$app_pid" "$sim_pid" 2>/dev/null || true
  echo "sent $n, logged $a_lines, lost $a_lost, malformed log lines $a_bad;" \
       "${a_rate:-?} lines/s over ${a_seconds:-?} s; per whole second of the log: min ${a_sec_min}, median ${a_sec_median} (${a_secs} s);" \
       "CPU ${a_cpu_us} us per line; still running: $a_alive; then VmRSS $a_rss kB, VmHWM $a_hwm kB"
  echo
}

echo "== (f) The same with the trend window open on the last 10 minutes (offscreen) =="
counted_run "$work/trend" --trend
f_rate=$a_rate; f_lost=$a_lost; f_bad=$a_bad
QT_QPA_PLATFORM=offscreen "$build/bench/trend_bench" >"$work/trend.txt" 2>/dev/null || say "bench.sh: trend_bench failed"
cat "$work/trend.txt"
read -r _ f_store_mb < <(grep trend_store_mb "$work/trend.txt")
read -r _ f_show_ms < <(grep trend_show_ms "$work/trend.txt")
read -r _ f_pan_ms f_pan_max < <(grep trend_pan_ms "$work/trend.txt")
read -r _ f_month_ms f_month_again_ms < <(grep 'trend_month_ms' "$work/trend.txt")
read -r _ f_month_stall f_month_draw < <(grep trend_month_stall_ms "$work/trend.txt")
read -r _ f_month_rss < <(grep trend_month_rss_mb "$work/trend.txt")
echo

# --- (g) publishing every reading ------------------------------------------------------------

g_rate=""; g_lost=""; g_bad=""; g_log_rate=""; g_cpu_us=""
if [ -n "$broker_port" ]; then
  echo "== (g) The same publishing every reading with QoS 1 to mosquitto on 127.0.0.1, $PUB_LINES lines (offscreen) =="
  # A subscriber counts the readings that reach the broker.
  pub_setup() {
    mqtt_conf "$1" flood
    mosquitto_sub -h 127.0.0.1 -p "$broker_port" -q 1 -t bench/flood/reading >"$1/received" 2>"$1/sub.err" &
    pids+=($!); sleep 0.5
  }
  pub_done() { [ "$(wc -l <"$1/received")" -ge "$(log_lines "$1")" ]; }
  run_setup=pub_setup run_done=pub_done run_lines=$PUB_LINES counted_run "$work/publish"
  g_log_rate=$a_rate; g_bad=$a_bad; g_cpu_us=$a_cpu_us
  g_received=$(wc -l <"$work/publish/received")
  g_lost=$((PUB_LINES - g_received))
  # From the log's first line to the last reading at the subscriber.
  g_rate=$(awk -v n="$g_received" -v a="$(stat -c '%.6W' "$work"/publish/quellmarkLog/*.txt | sort -n | head -n1)" \
    -v b="$(stat -c '%.6Y' "$work/publish/received")" 'BEGIN { if (a > 0 && b > a) printf "%.0f", n / (b - a) }')
  echo "readings at the subscriber: $g_received of $PUB_LINES; end to end ${g_rate:-?} readings/s"
  cat "$work/publish/app.out" "$work/publish/sub.err"
  echo
else
  echo "== (g): not measured (needs mosquitto and mosquitto_sub) =="
  echo
fi

echo "== (a) Program, continuous mode, logging on, $LINES_N lines over a pseudo-terminal (offscreen) =="
counted_run "$work/continuous"
f_share=$(awk -v f="$f_rate" -v a="$a_rate" 'BEGIN { if (a > 0 && f != "") printf "%.0f", f / a * 100 }')

# --- (d) a longer continuous run: memory --------------------------------------------------

echo "== (d) Program, continuous mode, logging on, ${LONG_S} s of flooding (offscreen): resident memory =="
dir="$work/long"
make_instance "$dir" 0 1
start_sim "$dir" --continuous 0 --seed 2; pids+=("$sim_pid")
start_app "$dir" offscreen; pids+=("$app_pid")
wait_first_log_line "$dir"
: >"$dir/rss.txt"
for s in $(seq "$LONG_S"); do
  sleep 1
  kill -0 "$app_pid" 2>/dev/null || { say "bench.sh: the program ended during the long run"; break; }
  echo "$s $(status_kb "$app_pid" VmRSS)" >>"$dir/rss.txt"
done
d_hwm=$(status_kb "$app_pid" VmHWM)
kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true
sleep 0.5
d_lines=$(log_lines "$dir")
kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true
read -r d_first d_mid d_end d_min2 d_max2 < <(awk -v n="$LONG_S" '
  { r[$1] = $2 }
  END {
    h = int(n / 2); if (h < 1) h = 1
    mn = r[h]; mx = r[h]
    for (i = h; i <= n; ++i) if (i in r) { if (r[i] < mn) mn = r[i]; if (r[i] > mx) mx = r[i] }
    print r[1], r[h], r[n], mn, mx
  }' "$dir/rss.txt")
d_growth=$((d_end - d_mid))
read -r d_sec_min d_sec_median _ < <(per_second "$dir")
echo "logged $d_lines lines (per whole second: min $d_sec_min, median $d_sec_median);" \
     "VmRSS after 1 s $d_first kB, at $((LONG_S / 2)) s $d_mid kB, at $LONG_S s $d_end kB" \
     "(second half: min $d_min2, max $d_max2); VmHWM $d_hwm kB"
echo

# --- (c) and (e), under Xvfb -------------------------------------------------------------------

s_median=""; p_max=""; p_p99=""; l_max=""; l_median=""; l_missed=""
if [ -x "$probe" ] && command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -br 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$work/display")"
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"

  echo "== (c) Start-up to the first painted window, $STARTS starts (Xvfb, no window manager) =="
  dir="$work/startup"
  make_instance "$dir" 30 1
  : >"$work/startup.txt"
  for i in $(seq "$STARTS"); do
    (cd "$work" && QT_QPA_PLATFORM=xcb "$probe" start 10000 "$dir/quellmark") >>"$work/startup.txt" 2>"$work/probe.err" \
      || { say "bench.sh: start-up probe failed"; cat "$work/probe.err" >&2; }
  done
  cat "$work/startup.txt"
  sed -n 's/.*painted_ms=\([0-9.]*\).*/\1/p' "$work/startup.txt" >"$work/painted.txt"
  sed -n 's/.*mapped_ms=\([0-9.]*\).*/\1/p' "$work/startup.txt" >"$work/mapped.txt"
  s_first=$(head -n1 "$work/painted.txt")
  # The first start may meet cold caches; the median is taken over the others.
  skip=1; [ "$(wc -l <"$work/painted.txt")" -gt 1 ] || skip=0
  read -r s_median s_min s_max < <(tail -n +$((skip + 1)) "$work/painted.txt" | stats)
  read -r s_map _ _ < <(tail -n +$((skip + 1)) "$work/mapped.txt" | stats)
  echo "painted: median $s_median ms (first start $s_first, min $s_min, max $s_max); mapped: median $s_map ms"
  echo

  echo "== (e) Window pings while the device sends as fast as it can, ${PING_S} s (Xvfb) =="
  dir="$work/responsive"
  make_instance "$dir" 0 1
  start_sim "$dir" --continuous 0 --seed 3; pids+=("$sim_pid")
  start_app "$dir" xcb; pids+=("$app_pid")
  wait_first_log_line "$dir"
  sleep 1
  e_l0=$(log_lines "$dir"); e_t0=$(now_ms)
  ping_out="$("$probe" ping "$PING_S" "Quellmark: " 2>&1)" || true
  e_l1=$(log_lines "$dir"); e_t1=$(now_ms)
  kill "$app_pid" "$sim_pid" 2>/dev/null; wait "$app_pid" "$sim_pid" 2>/dev/null || true
  for kv in $ping_out; do
    case "$kv" in
      median_ms=*) p_median=${kv#*=};; p99_ms=*) p_p99=${kv#*=};; max_ms=*) p_max=${kv#*=};;
      unanswered=*) p_unanswered=${kv#*=};; pings=*) p_count=${kv#*=};;
    esac
  done
  e_rate=$(awk -v n=$((e_l1 - e_l0)) -v ms=$((e_t1 - e_t0)) 'BEGIN { printf "%.0f", n / (ms / 1000) }')
  echo "${p_count:-0} pings, unanswered ${p_unanswered:-?}, median ${p_median:-?} ms, p99 ${p_p99:-?} ms," \
       "max ${p_max:-?} ms; meanwhile $e_rate lines/s logged"
  echo

  echo "== (e) How far the window is behind a device sending 100 lines/s, ${PING_S} s (Xvfb) =="
  dir="$work/lag"
  make_instance "$dir" 0 1
  # The probe plays the device on ports/com1 and watches the first panel.
  "$probe" lag "$PING_S" "Quellmark: " "$dir/ports/com1" 100 >"$dir/lag.out" 2>&1 &
  lag_pid=$!; pids+=("$lag_pid")
  start_app "$dir" xcb; pids+=("$app_pid")
  wait "$lag_pid" || { say "bench.sh: the lag probe failed"; cat "$dir/app.out" >&2; }
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  for kv in $(cat "$dir/lag.out"); do
    case "$kv" in
      median_ms=*) l_median=${kv#*=};; max_ms=*) l_max=${kv#*=};; missed=*) l_missed=${kv#*=};;
    esac
  done
  cat "$dir/lag.out"
  echo
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true; xvfb_pid=""
else
  echo "== (c), (e): not measured (needs Xvfb and bench/window_probe, which needs the X11 headers) =="
  echo
fi

# --- (b) collect the idle run --------------------------------------------------------------

echo "== (b) Idle operation (offscreen unless named, logging on), over $IDLE_CYCLES whole sample cycles =="
wait "$idle_job" || true
cat "$work/idle.err" >&2
# name ms ticks ns wakeups log-lines rss -> name s/h(ns) s/h(ticks) wakeups/s log-lines rss seconds
idle_table="$(awk -v hz="$CLK_TCK" '$2 > 0 {
  printf "%s %.2f %.2f %.1f %d %d %.1f\n", $1, $4 / 1e9 * 3600000 / $2, $3 / hz * 3600000 / $2, $5 * 1000 / $2, $6, $7, $2 / 1000 }' \
  "$work/idle.result")"
idle_field() { awk -v n="$1" -v c="$2" '$1 == n { print $c }' <<<"$idle_table"; }
printf '%-8s %12s %14s %11s %10s %10s %9s\n' instance "CPU s/hour" "(from ticks)" wake-ups/s "log lines" "VmRSS kB" seconds
awk '{ printf "%-8s %12s %14s %11s %10s %10s %9s\n", $1, $2, $3, $4, $5, $6, $7 }' <<<"$idle_table"
idle_h="$(idle_field sampled 2)"; idle_h_ticks="$(idle_field sampled 3)"; idle_wps="$(idle_field sampled 4)"
idle_headless="$(idle_field headless 2)"; idle_headless_wps="$(idle_field headless 4)"
idle_xvfb="$(idle_field xvfb 2)"; idle_xvfb_wps="$(idle_field xvfb 4)"
idle_quiet="$(idle_field quiet 2)"; idle_quiet_wps="$(idle_field quiet 4)"
idle_clock="$(awk -v a="$(idle_field clock 2)" -v b="$idle_quiet" 'BEGIN { if (a != "" && b != "") printf "%.2f", a - b }')"
idle_publish="$(awk -v a="$(idle_field publish 2)" -v b="$idle_h" 'BEGIN { if (a != "" && b != "") printf "%.2f", a - b }')"
idle_cycles="$(awk -v a="$idle_h" -v b="$(idle_field clock 2)" 'BEGIN { if (a != "" && b != "") printf "%.2f", a - b }')"
echo "sampled ${idle_h:-?} s/hour = nothing due (quiet) ${idle_quiet:-?} + status line each second (clock - quiet)" \
     "${idle_clock:-?} + the cycles (sampled - clock) ${idle_cycles:-?}"
echo
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# --- the table ------------------------------------------------------------------------------

verdict() { # VALUE OP LIMIT -> met / MISSED / ?
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN {
    if (v == "" || v == "-" || v == "?") { print "?"; exit }
    ok = (op == ">=") ? (v + 0 >= l + 0) : (op == "<") ? (v + 0 < l + 0) : (op == "<=") ? (v + 0 <= l + 0) : (v + 0 == l + 0)
    if (op == "==") { print ok ? "met" : "MISSED"; exit }
    d = (l + 0 != 0) ? (v - l) / l * 100 : 0
    if (ok) printf "met (%+.0f%%)", d; else printf "MISSED (%+.0f%%)", d }'
}
fmt() { awk -v v="$1" 'BEGIN { if (v == "") print "?"; else { s = sprintf("%.0f", v); r = ""; while (length(s) > 3) { r = "," substr(s, length(s) - 2) r; s = substr(s, 1, length(s) - 3) } print s r } }'; }
mb() { awk -v k="$1" 'BEGIN { if (k == "") print "?"; else printf "%.1f MB", k / 1024 }'; }

row() { printf '%-56s %-30s %-14s %s\n' "$1" "$2" "$3" "$4"; }
echo "================================================== Quellmark performance =================================================="
row "Figure" "Measured" "Target" "Verdict"
row "Core: reply lines/s, logging off [best of 5]" "$(fmt "$core_off") [$(fmt "$core_off_best")]" ">= 1,000,000" "$(verdict "$core_off" '>=' 1000000)"
row "Core: reply lines/s, logging on [best of 5]" "$(fmt "$core_on") [$(fmt "$core_on_best")], ${core_missing:-?} lost" ">= 50,000" "$(verdict "$core_on" '>=' 50000)"
row "Program, continuous, logging on: lines/s over a pty" "$(fmt "$a_rate")" ">= 20,000" "$(verdict "$a_rate" '>=' 20000)"
row "  slowest whole second" "$(fmt "$a_sec_min")" ">= 20,000" "$(verdict "$a_sec_min" '>=' 20000)"
row "  lines lost of $(fmt "$LINES_N") / malformed log lines" "$a_lost / $a_bad" "0 / 0" "$(verdict "$((a_lost + a_bad))" '==' 0)"
row "  window ping under that load, p99 / max (Xvfb)" "${p_p99:-?} / ${p_max:-?} ms" "< 100 ms" "$(verdict "${p_max:-}" '<' 100)"
row "Window behind the device at 100 lines/s, median / worst (Xvfb)" "${l_median:-?} / ${l_max:-?} ms, ${l_missed:-?} missed" "<= 50 ms" "$(verdict "${l_max:-}" '<=' 50)"
row "Trend open (last 10 min): lines/s, share of (a)" "$(fmt "$f_rate") = ${f_share:-?} %" ">= 90 %" "$(verdict "${f_share:-}" '>=' 90)"
row "  lines lost / malformed log lines" "$f_lost / $f_bad" "0 / 0" "$(verdict "$((f_lost + f_bad))" '==' 0)"
row "Trend on 24 h (8 x 86,400 points): show" "${f_show_ms:-?} ms" "< 100 ms" "$(verdict "${f_show_ms:-}" '<' 100)"
row "  pan and redraw, median / worst" "${f_pan_ms:-?} / ${f_pan_max:-?} ms" "-" "-"
row "  memory of the trend store" "${f_store_mb:-?} MB" "< 20 MB" "$(verdict "${f_store_mb:-}" '<' 20)"
row "Trend on 30 days of logs (2.6 million lines): first" "${f_month_ms:-?} ms" "< 2000 ms" "$(verdict "${f_month_ms:-}" '<' 2000)"
row "  shown again" "${f_month_again_ms:-?} ms" "< 300 ms" "$(verdict "${f_month_again_ms:-}" '<' 300)"
row "  longest event-loop wait while reading (drawing after)" "${f_month_stall:-?} ms (${f_month_draw:-?})" "< 50 ms" "$(verdict "${f_month_stall:-}" '<' 50)"
row "  resident memory with 30 days shown" "${f_month_rss:-?} MB" "< 120 MB" "$(verdict "${f_month_rss:-}" '<' 120)"
row "Publishing every reading, QoS 1: readings/s end to end" "$(fmt "$g_rate") (log: $(fmt "$g_log_rate"), CPU ${g_cpu_us:-?} us/line)" ">= 10,000" "$(verdict "$g_rate" '>=' 10000)"
row "  readings lost at the subscriber / malformed log lines" "${g_lost:-?} / ${g_bad:-?}" "0 / 0" "$(verdict "$(( ${g_lost:-1} + ${g_bad:-1} ))" '==' 0)"
row "Idle sampled (STime 30, RVnr 8): CPU per hour" "${idle_h:-?} s (ticks: ${idle_h_ticks:-?} s)" "< 0.5 s" "$(verdict "${idle_h:-}" '<' 0.5)"
row "  wake-ups per second (busy-waiting: thousands)" "${idle_wps:-?}" "-" "-"
row "  the same, window shown under Xvfb" "${idle_xvfb:-?} s, ${idle_xvfb_wps:-?} wake-ups/s" "< 0.5 s" "$(verdict "${idle_xvfb:-}" '<' 0.5)"
row "  the same, headless (--headless)" "${idle_headless:-?} s, ${idle_headless_wps:-?} wake-ups/s" "< 0.2 s" "$(verdict "${idle_headless:-}" '<' 0.2)"
row "  of it: nothing due (continuous, device quiet)" "${idle_quiet:-?} s/h, ${idle_quiet_wps:-?} wake-ups/s" "-" "-"
row "  of it: status line each second (sample clock)" "${idle_clock:-?} s/h" "-" "-"
row "  of it: the cycles (8 requests, a log line)" "${idle_cycles:-?} s/h" "-" "-"
row "  publishing on: CPU per hour more than sampled" "${idle_publish:-?} s/h" "< 0.2 s" "$(verdict "${idle_publish:-}" '<' 0.2)"
row "Start-up to the first painted window (median, Xvfb)" "${s_median:-?} ms" "< 300 ms" "$(verdict "${s_median:-}" '<' 300)"
row "Resident memory after the counted run, VmRSS / VmHWM" "$(mb "$a_rss") / $(mb "$a_hwm")" "< 80 MB" "$(verdict "$a_hwm" '<' 81920)"
row "Resident memory, ${LONG_S} s run: middle -> end" "$(mb "$d_mid") -> $(mb "$d_end") (${d_growth} kB)" "not growing" \
  "$(awk -v g="$d_growth" 'BEGIN { if (g == "") print "?"; else if (g <= 256) print "met"; else print "GROWING" }')"
echo "==========================================================================================================================="
echo "Verdicts compare the median; 'not growing' allows 256 kB between the middle and the end of the longer run."

# CPU per logged line against a short Python script doing the same job.
if [ "${QM_BENCH_PACED:-1}" != 0 ]; then
  echo
  "$(dirname "$0")/bench-paced.sh" "$build" || say "bench.sh: bench-paced.sh failed"
fi
