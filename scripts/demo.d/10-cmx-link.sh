#!/usr/bin/env bash
# CMX link demo: starts the virtual sensor on a free loopback port, runs a short scripted CMX
# session against it (probes, field of view, a set then a get) and stops the sensor.
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/tools/lidar-sim/lidar-sim"
DEMO="$BUILD/tools/lidar-sim/cmx-demo"
for program in "$SIM" "$DEMO"; do
  [[ -x "$program" ]] || { echo "missing $program (build the demo_programs target)" >&2; exit 1; }
done

WORK=$(mktemp -d)
SIM_PID=""
cleanup() {
  if [[ -n "$SIM_PID" ]] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill "$SIM_PID"
    wait "$SIM_PID" || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

"$SIM" --model Corvel --tcp 127.0.0.1:0 --port-file "$WORK/port" &
SIM_PID=$!
for _ in $(seq 50); do
  [[ -s "$WORK/port" ]] && break
  kill -0 "$SIM_PID" 2>/dev/null || { echo "lidar-sim did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -s "$WORK/port" ]] || { echo "lidar-sim did not report its port" >&2; exit 1; }

SCRIBE_CONSOLE=${SCRIBE_CONSOLE:-0} timeout 30 "$DEMO" 127.0.0.1 "$(cat "$WORK/port")"
