#!/usr/bin/env bash
# Denoise demo: makes the hand-set demo model and a labelled synthetic frame sequence, runs
# cloud_denoiser over the sequence as a user would (engine built on first use), and prints the
# precision and recall of its noise flags and the frames per second of the folder run.
set -euo pipefail
BUILD=${1:-build}
FRAMES=${DENOISE_DEMO_FRAMES:-100}
DENOISER="$BUILD/app/cloud_denoiser"
DEMO="$BUILD/tools/denoise-demo/denoise-demo"
for program in "$DENOISER" "$DEMO"; do
  [[ -x "$program" ]] || { echo "missing $program (build the demo_programs target)" >&2; exit 1; }
done
# cloud_denoiser reads config/test.json from its working directory, so it runs in the work folder.
DENOISER=$(realpath "$DENOISER")
DEMO=$(realpath "$DEMO")

WORK=$(mktemp -d)
cleanup() {
  rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK"

"$DEMO" model .
"$DEMO" frames frames labels "$FRAMES" 1
echo "cloud_denoiser over $FRAMES frames of 64 x 2560 points"
if ! SCRIBE_CONSOLE=${SCRIBE_CONSOLE:-0} timeout 300 "$DENOISER" frames results \
    >denoiser.out 2>denoiser.err; then
  echo "cloud_denoiser failed:" >&2
  tail -n 20 denoiser.out denoiser.err >&2
  exit 1
fi
# The last progress line holds the rate over the whole folder (reading, quantising, inference
# and writing; the engine build before the first frame is not counted).
rate=$(grep -o '[0-9.]* frames/s' denoiser.err | tail -n 1)
score=$("$DEMO" score results labels)
echo "$score, $rate"
read -r precision recall < <(awk '{print $4, $6}' <<<"$score")
if awk -v p="$precision" -v r="$recall" 'BEGIN { exit !(p < 0.8 || r < 0.8) }'; then
  echo "precision or recall below 0.8" >&2
  exit 1
fi
