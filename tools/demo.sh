#!/usr/bin/env bash
# Two simulated meters behind a serial-to-Ethernet converter on loopback,
# polled by the host with the plug-in for DEMO_SECONDS (default 20) seconds.
#   tools/demo.sh BIN_DIR [host options...]
set -euo pipefail
BIN=${1:?usage: tools/demo.sh BIN_DIR [host options...]}
shift
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_RUN=${DEMO_SECONDS:-20}

for f in dlt645-host dlt645-meter-sim libdlt645.so; do
  if [ ! -e "$BIN/$f" ]; then
    echo "demo: $BIN/$f is missing (is the plug-in built?)" >&2
    exit 1
  fi
done

WORK=$(mktemp -d)
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# The simulator picks a free port and names it on its first line.
"$BIN/dlt645-meter-sim" --listen 127.0.0.1:0 --meter 000000000001 --meter 000000000002 \
  >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
PORT=
for _ in $(seq 1 100); do
  PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/sim.out")
  [ -n "$PORT" ] && break
  if ! kill -0 "$SIM_PID" 2>/dev/null; then cat "$WORK/sim.err" >&2; exit 1; fi
  sleep 0.1
done
[ -n "$PORT" ] || { echo "demo: the simulator did not start" >&2; exit 1; }

echo "demo: meters 000000000001 and 000000000002 on 127.0.0.1:$PORT;" \
     "polling every 2 s for $SECONDS_TO_RUN s (examples/demo.xml)" >&2
"$BIN/dlt645-host" --config "$ROOT/examples/demo.xml" --format text --log-level 1 \
  --duration "$SECONDS_TO_RUN" "$@" "tcp://127.0.0.1:$PORT"
