#!/usr/bin/env bash
# Benchmark of cloud_denoiser-batch on a local single-node Slurm (benchmark only; never part of
# `make test`): 8 sequences of 20 frames through a Slurm array on a 2-CPU node, as a ratio to
# running the same sequences one after another in one process (`run --all`), and the
# scheduler's overhead per task: the CPU-slot time of the array not spent inside the tasks, and
# the same for an array of empty tasks. Each figure is the median of REPEATS runs (default 3).
# Usage: [FRAMES=20] [REPEATS=3] bench/run-bench-slurm.sh [BUILD_DIR]   (root; needs cloud_denoiser-batch and
#   denoise-demo built there, and the packages of scripts/install-deps.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build}")
BATCH="$BUILD/app/cloud_denoiser-batch"
DEMO="$BUILD/tools/denoise-demo/denoise-demo"
SEQUENCES=8
FRAMES=${FRAMES:-20}
CPUS=2
REPEATS=${REPEATS:-3}
for program in "$BATCH" "$DEMO"; do
  [[ -x $program ]] || { echo "build $(basename "$program") first ($program not found)" >&2; exit 1; }
done
source tests/slurm/local_slurm.sh
if missing=$(local_slurm_missing); then
  echo "$missing not found: run scripts/install-deps.sh" >&2
  exit 1
fi

WORK=$(mktemp -d /tmp/slurm-bench.XXXXXX)
chmod 755 "$WORK"
trap 'local_slurm_stop; rm -rf "$WORK"' EXIT
cd "$WORK"

# One recording of FRAMES frames, hard-linked into every sequence folder: the disk holds it
# once, and every task still reads, denoises and writes all of its frames.
"$DEMO" model . >/dev/null
"$DEMO" frames frames labels "$FRAMES" 1 >/dev/null
for ((s = 0; s < SEQUENCES; s++)); do
  mkdir "seq$s"
  ln frames/*.bin "seq$s/"
  echo "seq$s out$s" >>m.txt
done
"$BATCH" engine >/dev/null 2>&1

now() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
clear_outputs() { rm -rf out*; }

# Sum over the summaries of the seconds each task spent from its start to its summary.
task_seconds() {
  python3 -c '
import json, sys
print(sum(json.load(open(f"out{s}/denoise_summary.json"))["finished_at"]
          - json.load(open(f"out{s}/denoise_summary.json"))["started_at"]
          for s in range(int(sys.argv[1]))))' "$SEQUENCES"
}

local_slurm_start "$WORK/cluster" "$CPUS" >/dev/null

declare -a serial cores array overhead empty
TIMEFORMAT='%R %U %S'
for ((r = 0; r < REPEATS; r++)); do
  clear_outputs
  read -r wall user sys < <({ time "$BATCH" run m.txt --all >/dev/null 2>&1; } 2>&1)
  serial+=("$wall")
  cores+=("$(calc "($user + $sys) / $wall")")

  clear_outputs
  start=$(now)
  job=$("$BATCH" submit m.txt --max-parallel "$CPUS" 2>/dev/null)
  local_slurm_wait_job "$job" 300
  wall=$(calc "$(now) - $start")
  array+=("$wall")
  "$BATCH" report m.txt >/dev/null 2>&1 || { echo "array $job left sequences incomplete" >&2; exit 1; }
  overhead+=("$(calc "($wall * $CPUS - $(task_seconds)) / $SEQUENCES")")

  start=$(now)
  job=$(sbatch --parsable --array=0-$((SEQUENCES - 1))%$CPUS --output=/dev/null --wrap true)
  local_slurm_wait_job "$job" 300
  empty+=("$(calc "($(now) - $start) * $CPUS / $SEQUENCES")")
done

serial_s=$(printf '%s\n' "${serial[@]}" | median)
array_s=$(printf '%s\n' "${array[@]}" | median)
printf 'CPU: %s, %s CPUs on the node\n' "$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)" "$CPUS"
printf '%d sequences x %d frames, median of %d runs\n' "$SEQUENCES" "$FRAMES" "$REPEATS"
printf 'one process, one after another: %.2f s, using %.2f CPUs on average\n' "$serial_s" \
  "$(printf '%s\n' "${cores[@]}" | median)"
printf 'Slurm array (%%%d), submit to last task done: %.2f s\n' "$CPUS" "$array_s"
printf 'ratio array / one process: %.2fx (target <= 0.65x)\n' "$(calc "$array_s / $serial_s")"
overhead_s=$(printf '%s\n' "${overhead[@]}" | median)
printf 'scheduler overhead per task (slot time outside the tasks): %.2f s\n' "$overhead_s"
# With work w and overhead o per task on C slots, the array takes about (w + o) / (C w) of the
# one-process time; the target 0.65 needs w >= o / (0.65 C - 1).
printf 'sequence length for 0.65x at this overhead: about %.0f frames\n' \
  "$(calc "$overhead_s / (0.65 * $CPUS - 1) / ($serial_s / ($SEQUENCES * $FRAMES))")"
printf 'empty tasks, slot time per task: %.2f s\n' "$(printf '%s\n' "${empty[@]}" | median)"
