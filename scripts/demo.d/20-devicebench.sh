#!/usr/bin/env bash
# DeviceBench demo: starts the virtual sensor on a free loopback port, writes a throw-away
# RecvSettings.ini that points at it (HOME and the XDG folders are a temp dir, so the user's own
# settings are never touched) and opens DeviceBench connected to it. Without a display the same
# steps run scripted under Xvfb (connect, read every tab, edit, save, re-read) and the pictures
# go to $BUILD/demo/ (and $BUILD/demo/scale-1.25/).
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/tools/lidar-sim/lidar-sim"
BENCH="$BUILD/DeviceBench/bin/DeviceBench"
source "$(dirname "$0")/../demo-common.sh"
demo_require "$SIM" "$BENCH"
OUT="$(cd "$BUILD" && pwd)/demo"
BENCH="$(cd "$(dirname "$BENCH")" && pwd)/DeviceBench"

demo_start_sensor Corvel "$WORK/sim.log"
echo "virtual sensor (Corvel) on 127.0.0.1:$PORT"

export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share"
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p "$HOME/Documents/LumoraDataFiles" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cat >"$HOME/Documents/LumoraDataFiles/RecvSettings.ini" <<INI
[General]
device_ip_address=127.0.0.1
cmx_port=$PORT
INI
echo "settings for this run: $HOME/Documents/LumoraDataFiles/RecvSettings.ini"

run_scripted() {  # $1: output folder, further arguments go to DeviceBench
  local dir=$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$WORK" && QT_QPA_PLATFORM=xcb timeout 120 xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$BENCH" --demo-script="$dir" "$@" 2>"$dir/devicebench.log" | grep '^demo:')
}

if [[ -n "${DISPLAY:-}" && "${KRELL_DEMO_SCRIPTED:-0}" != 1 ]]; then
  echo "opening DeviceBench connected to the virtual sensor; close the window to end the demo"
  (cd "$WORK" && QT_QPA_PLATFORM=xcb "$BENCH" --demo-connect)
else
  command -v xvfb-run >/dev/null || { echo "no display and no xvfb-run (install xvfb)" >&2; exit 1; }
  echo "no display: running the scripted session under Xvfb"
  run_scripted "$OUT"
  echo "scale 1.25:"
  run_scripted "$OUT/scale-1.25" --demo-scale=1.25
  echo "pictures: $OUT and $OUT/scale-1.25 (program output in devicebench.log beside them)"
fi
