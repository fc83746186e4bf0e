#!/usr/bin/env bash
# The host while one connection floods: dlt645-host in listen:// mode with
# one simulated DTU (one meter, polled every second) and one connection that
# sends wake-up bytes as fast as the host takes them. Reports the host's CPU
# and the meter's records per second, with the default rate limit and with
# none (--max-rate 0), and without the flood for comparison.
#   bench/flood.sh BIN_DIR
# Environment: SECONDS_EACH (10), REPORT (a file to append the figures to).
set -euo pipefail
BIN=${1:?usage: bench/flood.sh BIN_DIR}
RUN=${SECONDS_EACH:-10}
TICK=$(getconf CLK_TCK)
[ -x "$BIN/dlt645-host" ] && [ -x "$BIN/dlt645-meter-sim" ] || {
  echo "flood: no host or simulator in $BIN" >&2
  exit 1
}

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

cat >"$WORK/q.xml" <<'XML'
<DL_T645_2007_QUERY><Request caption="Flood"><Enabled>1</Enabled><Device>999999999999</Device><Timeout>1000</Timeout><RequestMethod><MethodPoll>1</MethodPoll><PollInterval>1000</PollInterval><PollUnits>MS</PollUnits></RequestMethod><Response><Item><Function>0201FF00</Function><Rate>0</Rate></Item></Response></Request></DL_T645_2007_QUERY>
XML

# The meter's records with values (the flooding connection's failed polls
# are records too, with a QUALITY).
meter_records() { grep '"DEVICE_ID":"000000000001"' "$WORK/records.jsonl" | grep -vc QUALITY || true; }
cpu_ticks() { awk '{print $14+$15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# One run: CPU share of one core and records per second over RUN seconds.
measure() {
  local label=$1 flood=$2
  shift 2
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  : >"$WORK/records.jsonl"
  "$BIN/dlt645-host" --config "$WORK/q.xml" --settings "$WORK/s.ini" --module gprs \
    --output "$WORK/records.jsonl" --log "$WORK/host.log" --log-level 1 "$@" \
    "listen://127.0.0.1:$port" &
  local host=$!
  PIDS+=("$host")
  sleep 1
  "$BIN/dlt645-meter-sim" --dtu "127.0.0.1:$port" --meters "000000000001:1" >/dev/null 2>&1 &
  local sim=$!
  PIDS+=("$sim")
  local flooder=
  if [ "$flood" = 1 ]; then
    python3 -c '
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
block = b"\xfe" * 65536
while True:
    s.sendall(block)
' "$port" 2>/dev/null &
    flooder=$!
    PIDS+=("$flooder")
  fi
  sleep 2
  local t0 r0 t1 r1
  t0=$(cpu_ticks "$host")
  r0=$(meter_records)
  sleep "$RUN"
  t1=$(cpu_ticks "$host")
  r1=$(meter_records)
  [ -n "$flooder" ] && kill "$flooder" 2>/dev/null || true
  kill "$sim" 2>/dev/null || true
  kill -INT "$host" 2>/dev/null || true
  wait "$host" 2>/dev/null || true
  awk -v l="$label" -v t=$((t1 - t0)) -v r=$((r1 - r0)) -v tick="$TICK" -v s="$RUN" \
    'BEGIN { printf "  %-28s CPU %6.2f%% of one core, meter records %.2f/s\n", l, 100 * t / tick / s, r / s }'
}

REPORT_TEXT=$(
  echo "flood: one DTU meter polled every second, ${RUN} s each"
  measure "no flood" 0
  measure "flood, default rate limit" 1
  measure "flood, no rate limit" 1 --max-rate 0
)
echo "$REPORT_TEXT"
[ -n "${REPORT:-}" ] && echo "$REPORT_TEXT" >>"$REPORT"
exit 0
