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
for program in "$SIM" "$BENCH"; do
  [[ -x "$program" ]] || { echo "missing $program (build the demo_programs target)" >&2; exit 1; }
done
OUT="$(cd "$BUILD" && pwd)/demo"
BENCH="$(cd "$(dirname "$BENCH")" && pwd)/DeviceBench"

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
PORT=$(cat "$WORK/port")
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
