#!/usr/bin/env bash
# CMX link demo: starts the virtual sensor on a free loopback port, runs a short scripted CMX
# session against it (probes, field of view, a set then a get) and stops the sensor.
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/tools/lidar-sim/lidar-sim"
DEMO="$BUILD/tools/lidar-sim/cmx-demo"
source "$(dirname "$0")/../demo-common.sh"
demo_require "$SIM" "$DEMO"
demo_start_sensor Corvel

SCRIBE_CONSOLE=${SCRIBE_CONSOLE:-0} timeout 30 "$DEMO" 127.0.0.1 "$PORT"
