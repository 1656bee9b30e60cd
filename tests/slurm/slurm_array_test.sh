#!/usr/bin/env bash
# cloud_denoiser-batch on a real Slurm: a single-node cluster on 127.0.0.1 (munged, slurmctld,
# slurmd with two CPUs) started here in a temporary folder. Submits a 4-sequence array of the
# demo model's frames behind an engine job, cancels one task midway, and checks that every
# finished result equals a direct cloud_denoiser run of its sequence byte for byte; then
# resubmits and checks that only the cancelled sequence is redone.
# Usage: slurm_array_test.sh BATCH DENOISER DENOISE_DEMO   (exit 77: Slurm is not installed)
set -euo pipefail
BATCH=$(realpath "$1")
DENOISER=$(realpath "$2")
DEMO=$(realpath "$3")
HERE=$(dirname "$(realpath "$0")")
source "$HERE/local_slurm.sh"

if missing=$(local_slurm_missing); then
  echo "SKIP: $missing not found (scripts/install-deps.sh installs Slurm and munge)"
  exit 77
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: the local Slurm daemons need root"
  exit 77
fi

WORK=$(mktemp -d /tmp/slurm-array-test.XXXXXX)
chmod 755 "$WORK"
cleanup() {
  local status=$?
  kill -TERM "$WATCHDOG" 2>/dev/null || true
  local_slurm_stop
  if ((status != 0)); then
    echo "--- failed; the cluster's logs:" >&2
    tail -n 15 "$WORK"/cluster/log/* "$WORK"/model/m.txt.slurm/logs/*.log 2>/dev/null >&2 || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
# ctest ends an overdue test with SIGKILL, which no trap sees; this watchdog ends it earlier with
# SIGTERM, so that the EXIT trap still stops the daemons.
(
  sleep 200 &
  sleeper=$!
  trap 'kill "$sleeper"; exit 0' TERM
  wait "$sleeper" && kill -TERM $$
) >/dev/null 2>&1 &
WATCHDOG=$!
trap 'echo "FAIL: out of time" >&2; exit 124' TERM

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits up to $2 seconds for the shell condition $1.
wait_until() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

# --- the model and four sequences; sequence 1 is long (hard links of four frames) so that it
# can be cancelled midway.
mkdir -p "$WORK/model"
cd "$WORK/model"
"$DEMO" model . >/dev/null
for seq in 0 1 2 3; do
  "$DEMO" frames "seq$seq" "labels$seq" 5 $((seq + 1)) >/dev/null
done
for ((i = 5; i < 300; i++)); do
  ln "seq1/frame_000$((i % 5)).bin" "$(printf 'seq1/frame_%04d.bin' "$i")"
done
printf 'seq%d out%d\n' 0 0 1 1 2 2 3 3 >m.txt

# --- the reference: cloud_denoiser itself, one sequence after another (this builds the
# engine, which is then removed so that the array's engine job builds it again).
for seq in 0 1 2 3; do
  "$DENOISER" "seq$seq" "direct$seq" >/dev/null 2>&1 || fail "cloud_denoiser on seq$seq"
done
rm model/denoise_v004.engine

same_as_direct() {
  local seq=$1 file
  for file in "direct$seq"/*_result.bin; do
    cmp -s "$file" "out$seq/$(basename "$file")" || return 1
  done
}

summary_field() {
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' \
    "out$1/denoise_summary.json" "$2"
}

# --- the cluster
local_slurm_start "$WORK/cluster" 2 || fail "the local Slurm did not start"
if command -v ss >/dev/null; then
  for pid in "${LOCAL_SLURM_PIDS[@]}"; do
    if ss -Hltnp | grep "pid=$pid," | grep -vq ' 127\.0\.0\.1:'; then
      fail "daemon $pid listens beyond 127.0.0.1: $(ss -Hltnp | grep "pid=$pid,")"
    fi
  done
fi
"$BATCH" plan m.txt >plan.out 2>/dev/null || fail "plan: $(cat plan.out)"
grep -q '4 sequences: 4 to run, 0 complete' plan.out || fail "plan: $(cat plan.out)"

# --- first submission: engine job, then the array; task 1 is cancelled midway
job=$("$BATCH" submit m.txt --max-parallel 2 2>submit.err) || fail "submit: $(cat submit.err)"
[[ $job =~ ^[0-9]+$ ]] || fail "submit printed '$job'"
wait_until '[[ -f out1/frame_0010_result.bin ]]' 60 || fail "task 1 never got going"
[[ ! -f out1/denoise_summary.json ]] || fail "task 1 finished before it could be cancelled"
scancel "${job}_1"
local_slurm_wait_job "$job" 90 || fail "array $job did not finish"

for seq in 0 2 3; do
  same_as_direct $seq || fail "sequence $seq differs from cloud_denoiser's results"
  [[ $(summary_field $seq exit_status) == 0 ]] || fail "sequence $seq summary"
  # The engine job built the engine; no task did.
  [[ $(summary_field $seq engine_build_seconds) == 0.0 ]] || fail "task $seq built the engine"
done
ls m.txt.slurm/logs/engine-*.log >/dev/null || fail "no engine job log"
[[ ! -f out1/denoise_summary.json ]] || fail "the cancelled sequence looks complete"
report_status=0
"$BATCH" report m.txt >report.out 2>/dev/null || report_status=$?
((report_status == 3)) || fail "report exit $report_status after the cancel"
grep -q '4 sequences: 3 done, 0 failed, 1 not run' report.out || fail "report: $(cat report.out)"
for seq in 0 2 3; do cp "out$seq/denoise_summary.json" "kept$seq.json"; done

# --- resubmission: only the cancelled sequence runs again
job2=$("$BATCH" submit m.txt --max-parallel 2 2>submit2.err) || fail "resubmit: $(cat submit2.err)"
grep -q -- '--array=1%2' submit2.err || fail "resubmit: $(cat submit2.err)"
grep -q 'engine build' submit2.err && fail "resubmit built the engine again"
local_slurm_wait_job "$job2" 90 || fail "array $job2 did not finish"
same_as_direct 1 || fail "the redone sequence 1 differs from cloud_denoiser's results"
for seq in 0 2 3; do
  cmp -s "kept$seq.json" "out$seq/denoise_summary.json" || fail "sequence $seq was redone"
  same_as_direct $seq || fail "sequence $seq changed"
done
[[ -f m.txt.slurm/logs/task-1-$job2.log ]] || fail "no log of the resubmitted task"
"$BATCH" report m.txt >report.out 2>/dev/null || fail "report: $(cat report.out)"
grep -q '4 sequences: 4 done' report.out || fail "report: $(cat report.out)"
echo "PASS: 4 sequences through Slurm arrays $job and $job2 match cloud_denoiser"
