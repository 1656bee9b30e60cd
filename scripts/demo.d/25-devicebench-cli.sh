#!/usr/bin/env bash
# devicebench-cli demo: against a virtual Corvel on a free loopback port, takes a parameter
# snapshot, changes two values, shows what differs from the snapshot and puts it back.
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/tools/lidar-sim/lidar-sim"
CLI="$BUILD/DeviceBench/bin/devicebench-cli"
source "$(dirname "$0")/../demo-common.sh"
demo_require "$SIM" "$CLI"
CLI=$(realpath "$CLI")

demo_start_sensor Corvel "$WORK/sim.log"
# The settings file the program falls back to lives in this throw-away home.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
mkdir -p "$XDG_CONFIG_HOME"
cli() {
  local shown="" arg
  for arg in "$@"; do [[ $arg == *" "* ]] && shown+="\"$arg\" " || shown+="$arg "; done
  echo "\$ devicebench-cli ${shown% }"
  (cd "$WORK" && "$CLI" --model Corvel --host 127.0.0.1 --port "$PORT" "$@")
}
cli get "Max Range" "Noise Filter Level" --json
cli snapshot --out "$WORK/good.json"
cli set "Max Range=150" "Noise Filter Level=7"
cli diff "$WORK/good.json" || true  # exit 0 or 3 says whether they differ; both are shown
cli apply "$WORK/good.json"
cli get "Max Range" "Noise Filter Level"
