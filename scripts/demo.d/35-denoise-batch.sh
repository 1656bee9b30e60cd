#!/usr/bin/env bash
# cloud_denoiser-batch demo: three sequences of the demo model's frames in one manifest; plan,
# run them one after another in this process (what one Slurm array task does per sequence),
# report, and run again to show that complete sequences are skipped.
set -euo pipefail
BUILD=${1:-build}
BATCH="$BUILD/app/cloud_denoiser-batch"
DEMO="$BUILD/tools/denoise-demo/denoise-demo"
source "$(dirname "$0")/../demo-common.sh"
demo_require "$BATCH" "$DEMO"
BATCH=$(realpath "$BATCH")
DEMO=$(realpath "$DEMO")

cd "$WORK"
export SCRIBE_CONSOLE=${SCRIBE_CONSOLE:-0}

"$DEMO" model . >/dev/null
: >manifest.txt
for i in 0 1 2; do
  "$DEMO" frames "seq$i/frames" "seq$i/labels" 10 $((i + 1)) >/dev/null
  echo "seq$i/frames seq$i/results" >>manifest.txt
done
# The pipeline's per-frame and framework lines (as cloud_denoiser prints them) go to batch.log;
# what the batch program itself says is shown.
run() {
  echo "\$ cloud_denoiser-batch $*"
  local status=0
  "$BATCH" "$@" >out.log 2>&1 || status=$?
  cat out.log >>batch.log
  grep -v -E '^\[|^frame [0-9]+ of|^file size:|^File: ' out.log || true
  return "$status"
}
run plan manifest.txt
run engine
run run manifest.txt --all
run report manifest.txt
run run manifest.txt --all
