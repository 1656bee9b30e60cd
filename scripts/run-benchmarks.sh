#!/usr/bin/env bash
# Runs every benchmark program built in BUILD/bench (default build) one after the other, each
# bounded in time, and prints their tables. Extra arguments go to every program (for example
# --benchmark_filter=... or --benchmark_min_time=...). Exits non-zero when any program fails.
set -uo pipefail
BUILD=${1:-build}
shift || true
BENCH_DIR="$BUILD/bench"
if [[ ! -d "$BENCH_DIR" ]]; then
  echo "no $BENCH_DIR: build first (make build)" >&2
  exit 1
fi
failed=0
for program in "$BENCH_DIR"/bench_*; do
  [[ -x "$program" && -f "$program" ]] || continue
  echo "== $(basename "$program")"
  # Library logging goes to no console, so the tables stay readable.
  if ! SCRIBE_CONSOLE=0 timeout 600 "$program" "$@" 2>/dev/null; then
    echo "$(basename "$program") failed" >&2
    failed=1
  fi
done
exit $failed
