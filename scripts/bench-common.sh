# Sourced by the benchmark scripts.

# A program directory: DIR/quellmark -> $app, DIR/quellmark.ini with sample
# time STIME, eight values, logging LOG (0/1), sound off; DIR/ports for COM1.
make_instance() {
  local dir="$1" stime="$2" log="$3"
  mkdir -p "$dir/ports"
  ln -s "$app" "$dir/quellmark"
  printf '%s\r\n' \
    "1,\"9600\",\"\",$stime,8,\"not used\",$log,0" \
    '"V01 label:","V02 label:","V03 label:","V04 label:","V05 label:","V06 label:","V07 label:","V08 label:"' \
    '"W","R","G","B","Y","W","R","G"' \
    '0,0,0,0,0,0,0,0' \
    '1,1,1,1,1,1,1,1' \
    '"OUT1","OUT2","OUT3","OUT4","OUT5","OUT6","OUT7","OUT8"' \
    '99.9,99.9,99.9,99.9,99.9,99.9,99.9,99.9' \
    '0,0,0,0,0,0,0,0' >"$dir/quellmark.ini"
}

# start_broker starts a mosquitto of the
# script's own on a free port of 127.0.0.1 (as this user: root's broker would
# drop to "mosquitto"; no bound on what it holds for a slow subscriber, so
# that the count on the broker is whole). It sets broker_port, adds the
# broker's pid to pids and keeps its files in $work; without mosquitto it
# leaves broker_port empty.
start_broker() {
  broker_port=""
  command -v mosquitto >/dev/null || return 0
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { broker_port=$p; break; }
  done
  printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\nuser %s\n' \
    "$broker_port" "$(id -un)" >"$work/mosquitto.conf"
  mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null && break; sleep 0.05; done
}
