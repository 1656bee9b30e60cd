#!/usr/bin/env bash
# devicebench-cli demo: against a virtual Corvel on a free loopback port, takes a parameter
# snapshot, changes two values, shows what differs from the snapshot and puts it back.
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/tools/lidar-sim/lidar-sim"
CLI="$BUILD/DeviceBench/bin/devicebench-cli"
for program in "$SIM" "$CLI"; do
  [[ -x "$program" ]] || { echo "missing $program (build the demo_programs target)" >&2; exit 1; }
done
SIM=$(realpath "$SIM")
CLI=$(realpath "$CLI")

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

"$SIM" --model Corvel --tcp 127.0.0.1:0 --port-file "$WORK/port" >"$WORK/sim.log" 2>&1 &
SIM_PID=$!
for _ in $(seq 50); do
  [[ -s "$WORK/port" ]] && break
  kill -0 "$SIM_PID" 2>/dev/null || { echo "lidar-sim did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -s "$WORK/port" ]] || { echo "lidar-sim did not report its port" >&2; exit 1; }
# The settings file the program falls back to lives in this throw-away home.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
mkdir -p "$XDG_CONFIG_HOME"
cli() {
  local shown="" arg
  for arg in "$@"; do [[ $arg == *" "* ]] && shown+="\"$arg\" " || shown+="$arg "; done
  echo "\$ devicebench-cli ${shown% }"
  (cd "$WORK" && "$CLI" --model Corvel --host 127.0.0.1 --port "$(cat "$WORK/port")" "$@")
}
cli get "Max Range" "Noise Filter Level" --json
cli snapshot --out "$WORK/good.json"
cli set "Max Range=150" "Noise Filter Level=7"
cli diff "$WORK/good.json" || true  # exit 0 or 3 says whether they differ; both are shown
cli apply "$WORK/good.json"
cli get "Max Range" "Noise Filter Level"
