# Sourced by the steps of scripts/demo.d/: the checks and the virtual sensor they share.
#   demo_require PROGRAM...           exits with a hint when a program is not built
#   demo_start_sensor MODEL [LOG]     makes WORK (a temporary folder, removed on exit), starts
#                                     lidar-sim for MODEL on a free loopback port and sets PORT
# The EXIT trap set here stops the sensor and removes WORK, also when the step fails.

demo_require() {
  local program
  for program in "$@"; do
    [[ -x "$program" ]] || { echo "missing $program (build the demo_programs target)" >&2; exit 1; }
  done
}

WORK=$(mktemp -d)
SIM_PID=""
_demo_cleanup() {
  if [[ -n "$SIM_PID" ]] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill "$SIM_PID"
    wait "$SIM_PID" || true
  fi
  rm -rf "$WORK"
}
trap _demo_cleanup EXIT

demo_start_sensor() {
  local model=$1 log=${2:-/dev/stdout}
  "$SIM" --model "$model" --tcp 127.0.0.1:0 --port-file "$WORK/port" >>"$log" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 50); do
    [[ -s "$WORK/port" ]] && break
    kill -0 "$SIM_PID" 2>/dev/null || { echo "lidar-sim did not start" >&2; exit 1; }
    sleep 0.1
  done
  [[ -s "$WORK/port" ]] || { echo "lidar-sim did not report its port" >&2; exit 1; }
  PORT=$(cat "$WORK/port")
}
