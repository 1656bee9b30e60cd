#!/bin/sh
# Benchmark of the TensorRT stand-in (benchmark only; never part of `make test`):
#   engine time per frame against PyTorch on the same weights and input, and the engine's
#   GFLOP/s against oneDNN running the same convolutions alone, all in one run; plus the optional
#   INT8 engines: the cost of storing ranged tensors as int8 on the float kernels (emulation),
#   the int8 kernels' time, both as ratios to the float engine, and their largest differences.
# Usage: [DNNL_MAX_CPU_ISA=AVX2] bench/run-bench-engine.sh [BUILD_DIR]
#   (default: build; needs bench_engine built there). The report ends with oneDNN's instruction
#   set and the kernels of every layer, reference implementations flagged.
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BENCH="$BUILD/bench/bench_engine"
[ -x "$BENCH" ] || { echo "build bench_engine first ($BENCH not found)" >&2; exit 1; }

if ! /usr/bin/python3 -c 'import torch' 2>/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get install -y python3-torch
fi

# DNNL_MAX_CPU_ISA=AVX2 makes oneDNN dispatch as on a CPU without AVX-512; PyTorch is held to the
# same vector width so that the ratios compare like with like.
case "${DNNL_MAX_CPU_ISA:-}" in
    [Aa][Vv][Xx]2*) export ONEDNN_MAX_CPU_ISA="$DNNL_MAX_CPU_ISA" ATEN_CPU_CAPABILITY=avx2 ;;
esac

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
"$BENCH" --dump_dir="$WORK" > "$WORK/dump.txt"
/usr/bin/python3 bench/bench_engine_torch.py "$WORK" > "$WORK/torch1.json"
"$BENCH" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_min_time=0.5 \
         --benchmark_report_aggregates_only=true --benchmark_out="$WORK/ours.json" --benchmark_out_format=json
/usr/bin/python3 bench/bench_engine_torch.py "$WORK" > "$WORK/torch2.json"

/usr/bin/python3 - "$WORK" <<'PY'
import json, sys
work = sys.argv[1]
torch_runs = [json.load(open(f"{work}/torch{i}.json")) for i in (1, 2)]
torch_ms = sum(r["torch_ms_per_frame"] for r in torch_runs) / 2
torch_cpu = sum(r["torch_cpu_ms_per_frame"] for r in torch_runs) / 2
medians = {b["run_name"].split("/")[0]: b for b in json.load(open(f"{work}/ours.json"))["benchmarks"]
           if b.get("aggregate_name") == "median"}
ours = medians["BM_EngineFrame"]
print(f"PyTorch ({torch_runs[0]['threads']} threads): {torch_ms:.1f} ms/frame wall, {torch_cpu:.1f} ms/frame CPU; "
      f"max |diff| to the engine {torch_runs[0]['max_abs_diff']:.3g} (relative {torch_runs[0]['max_rel_diff']:.3g})")
print(f"engine: {ours['real_time']:.1f} ms/frame wall, {ours['cpu_ms_per_frame']:.1f} ms/frame CPU")
print(f"ratio engine/PyTorch time: wall {ours['real_time'] / torch_ms:.3f}, CPU {ours['cpu_ms_per_frame'] / torch_cpu:.3f} (target <= 0.3)")
emulated = medians["BM_EngineFrameInt8Emulation"]
print(f"ratio INT8 emulation/float time: wall {emulated['real_time'] / ours['real_time']:.3f}, "
      f"CPU {emulated['cpu_ms_per_frame'] / ours['cpu_ms_per_frame']:.3f} (target <= 1.3)")
int8 = medians["BM_EngineFrameInt8Compute"]
print(f"ratio int8 kernels/float time: wall {int8['real_time'] / ours['real_time']:.3f}, "
      f"CPU {int8['cpu_ms_per_frame'] / ours['cpu_ms_per_frame']:.3f}")
print(open(f"{work}/dump.txt").read().strip())
for name in ("BM_OneDnnConvolutionsAloneUpsampleAs1x1", "BM_OneDnnConvolutionsAlone"):
    alone = medians[name]
    print(f"ratio engine/{name[3:]} GFLOP/s: wall {alone['real_time'] / ours['real_time']:.3f}, "
          f"CPU {alone['cpu_ms_per_frame'] / ours['cpu_ms_per_frame']:.3f} (target >= 0.9)")
PY
