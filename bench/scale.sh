#!/usr/bin/env bash
# The host at scale: dlt645-host in listen:// mode with DTUS simulated GPRS
# modems (DTUs) of one meter each, polled every 60 s (examples/dtu-server.xml).
# Reports the host's peak memory, memory per connection, and CPU per second
# while idle and while polling; with WINE=1 the Windows host runs under wine
# and the report says how many connections it held.
#   bench/scale.sh HOST_BIN_DIR [SIM_BIN_DIR]
# Environment: DTUS (10000), SECONDS_AFTER_CONNECT (150), LIBRARY (the
# plug-in; default the one beside the host), WINE (0), REPORT (a file to
# append the figures to).
set -euo pipefail
HOST_BIN=${1:?usage: bench/scale.sh HOST_BIN_DIR [SIM_BIN_DIR]}
SIM_BIN=${2:-$HOST_BIN}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DTUS=${DTUS:-10000}
RUN=${SECONDS_AFTER_CONNECT:-150}
WINE=${WINE:-0}
TICK=$(getconf CLK_TCK)

if [ "$WINE" = 1 ]; then
  HOST=(wine "$HOST_BIN/dlt645-host.exe")
  LIB_DEFAULT=$HOST_BIN/dlt645.dll
  MODE="Windows host under wine"
else
  HOST=("$HOST_BIN/dlt645-host")
  LIB_DEFAULT=$HOST_BIN/libdlt645.so
  MODE="native host"
fi
LIB=${LIBRARY:-$LIB_DEFAULT}
[ -e "$LIB" ] || { echo "scale: no plug-in at $LIB" >&2; exit 1; }
[ -x "$SIM_BIN/dlt645-meter-sim" ] || { echo "scale: no simulator in $SIM_BIN" >&2; exit 1; }

WORK=$(mktemp -d)
HOST_PID=
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  if [ -n "$HOST_PID" ]; then kill -INT "$HOST_PID" 2>/dev/null || true; wait "$HOST_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# The process that holds the connections (wine starts the program in a
# process of its own).
host_pid() {
  if [ "$WINE" = 1 ]; then
    local p
    for p in $(pgrep -f 'dlt645-host\.exe' || true); do
      grep -q "listen://127.0.0.1:$PORT" "/proc/$p/cmdline" 2>/dev/null && { echo "$p"; return; }
    done
    echo "$HOST_PID"
  else
    echo "$HOST_PID"
  fi
}
field_kb() { awk -v k="$2:" '$1==k {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
# The host's open sockets, read from outside: its own --stats would log a
# line per meter, which at this scale is itself a load.
sockets() { find "/proc/$1/fd" -lname 'socket:*' 2>/dev/null | wc -l; }
cpu_ticks() { awk '{print $14+$15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

"${HOST[@]}" --config "$ROOT/examples/dtu-server.xml" --library "$LIB" --module gprs \
  --output "$WORK/records.jsonl" --log "$WORK/host.log" --log-level 1 --max-connections "$DTUS" \
  "listen://127.0.0.1:$PORT" &
HOST_PID=$!
sleep 3
P=$(host_pid)
[ -d "/proc/$P" ] || { echo "scale: the host did not start" >&2; cat "$WORK/host.log" >&2; exit 1; }
BASE_KB=$(field_kb "$P" VmRSS)

START=$(date +%s)
"$SIM_BIN/dlt645-meter-sim" --dtu "127.0.0.1:$PORT" --meters "000000000001:$DTUS" \
  >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
CONNECTED=0
for _ in $(seq 1 600); do
  if grep -qs "connected $DTUS DTUs" "$WORK/sim.out" "$WORK/sim.err"; then CONNECTED=1; break; fi
  kill -0 "$SIM_PID" 2>/dev/null || break
  kill -0 "$P" 2>/dev/null || break
  sleep 0.5
done
CONNECT_S=$(( $(date +%s) - START ))
CONN_KB=$(field_kb "$P" VmRSS)
OPEN_AFTER_CONNECT=$(sockets "$P")

# One sample a second: CPU ticks and records written.
: >"$WORK/samples"
prev_t=$(cpu_ticks "$P")
prev_r=$(wc -l <"$WORK/records.jsonl")
for _ in $(seq 1 "$RUN"); do
  sleep 1
  kill -0 "$P" 2>/dev/null || break
  t=$(cpu_ticks "$P")
  r=$(wc -l <"$WORK/records.jsonl")
  echo "$((t - prev_t)) $((r - prev_r)) $(field_kb "$P" VmRSS)" >>"$WORK/samples"
  prev_t=$t
  prev_r=$r
done
PEAK_KB=$(field_kb "$P" VmHWM)
OPEN_AT_END=$(sockets "$P")
DEVICES=$( (grep -o '"CLIENTID":[0-9]*' "$WORK/records.jsonl" || true) | sort -u | wc -l)
ACCEPT_ERRORS=$(grep -c 'cannot accept' "$WORK/host.log" || true)

REPORT_TEXT=$(awk -v tick="$TICK" -v base="$BASE_KB" -v conn="$CONN_KB" -v peak="$PEAK_KB" \
  -v dtus="$DTUS" -v connected="$CONNECTED" -v cs="$CONNECT_S" -v open="$OPEN_AFTER_CONNECT" -v open_end="$OPEN_AT_END" \
  -v devices="$DEVICES" -v errors="$ACCEPT_ERRORS" -v mode="$MODE" '
  { n++; cpu[n] = $1; rec[n] = $2; last = $3 }
  END {
    # Idle: no records within 5 s either side (answers of a round arrive
    # over a few seconds, and its requests go out before them).
    for (i = 1; i <= n; i++) {
      if (rec[i] > 0) { pc += cpu[i]; pn++; pr += rec[i]; continue }
      quiet = 1
      for (j = i - 5; j <= i + 5; j++) if (j >= 1 && j <= n && rec[j] > 0) quiet = 0
      if (quiet) { ic += cpu[i]; in_++ }
    }
    printf "scale (%s): %d DTUs of one meter each, polled every 60 s\n", mode, dtus
    printf "  connected: %s after %d s; sockets open after connecting: %d, at the end: %d; accept errors: %d\n", (connected ? "all" : "NOT all"), cs, open, open_end, errors
    printf "  clients that delivered records: %d\n", devices
    printf "  memory: %.1f MB before connections, %.1f MB with them, peak %.1f MB\n", base/1024, conn/1024, peak/1024
    if (dtus > 0) printf "  memory per connection: %.2f KB (%.2f KB after polling)\n", (conn - base) / dtus, (last - base) / dtus
    if (in_ > 0) printf "  CPU while idle: %.2f%% of one core (%d s sampled)\n", 100 * ic / tick / in_, in_
    if (pn > 0) printf "  CPU while polling: %.2f%% of one core (%d s with records, %.0f records/s)\n", 100 * pc / tick / pn, pn, pr / pn
  }' "$WORK/samples")
echo "$REPORT_TEXT"
[ -n "${REPORT:-}" ] && echo "$REPORT_TEXT" >>"$REPORT"
grep -E 'error' "$WORK/host.log" | sort | uniq -c | sort -rn | head -5 >&2 || true
