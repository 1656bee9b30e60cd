#!/usr/bin/env bash
# The main job: runs each deliverable's demo against the virtual sensor and the demo model.
set -euo pipefail
BUILD=${1:-build}
cd "$(dirname "$0")/.."
shopt -s nullglob
for part in scripts/demo.d/*.sh; do
  echo "== $(basename "$part" .sh) =="
  bash "$part" "$BUILD"
done
