#!/usr/bin/python3
"""PyTorch baseline for bench_engine: the same denoiser-shaped network, weights and input.

Usage: bench_engine_torch.py DUMP_DIR
DUMP_DIR holds weights.bin, input.bin and output.bin written by `bench_engine --dump_dir=DUMP_DIR`.
Prints one JSON line: wall and process-CPU milliseconds per frame (medians of timed rounds after
warm-up), the thread count, and the
largest difference between PyTorch's output and the engine's.
"""
import json
import sys
import time

import torch

# (transposed, in channels, maps, kernel, stride, padding, ReLU after), in bench_engine's order.
LAYERS = [
    (False, 4, 16, 3, 1, 1, True),
    (False, 16, 32, 3, 2, 1, True),
    (False, 32, 32, 3, 1, 1, True),
    (True, 32, 16, 2, 2, 0, True),
    (False, 32, 16, 3, 1, 1, True),
    (False, 16, 1, 1, 1, 0, False),
]
HEIGHT, WIDTH = 64, 2560
ROUNDS = 5
FRAMES_PER_ROUND = 5


def load(path):
    with open(path, "rb") as f:
        return torch.frombuffer(bytearray(f.read()), dtype=torch.float32)


def build(weights):
    modules, at = [], 0
    for transposed, cin, maps, k, stride, pad, _ in LAYERS:
        kind = torch.nn.ConvTranspose2d if transposed else torch.nn.Conv2d
        layer = kind(cin, maps, k, stride=stride, padding=pad)
        count = cin * maps * k * k
        # Conv2d stores [maps][in][k][k], ConvTranspose2d [in][maps][k][k]: the layouts the engine uses.
        layer.weight.data.copy_(weights[at:at + count].reshape(layer.weight.shape))
        at += count
        layer.bias.data.copy_(weights[at:at + maps])
        at += maps
        modules.append(layer)
    if at != weights.numel():
        raise SystemExit("weights.bin does not match the network")
    return modules


def forward(m, x):
    relu = torch.relu
    t1 = relu(m[0](x))
    t3 = relu(m[2](relu(m[1](t1))))
    t4 = relu(m[3](t3))
    t5 = relu(m[4](torch.cat([t4, t1], dim=1)))
    return m[5](t5)


def main():
    dump = sys.argv[1]
    torch.set_num_threads(2)
    modules = build(load(dump + "/weights.bin"))
    x = load(dump + "/input.bin").reshape(1, 4, HEIGHT, WIDTH)
    expected = load(dump + "/output.bin").reshape(1, 1, HEIGHT, WIDTH)
    with torch.no_grad():
        for _ in range(3):
            out = forward(modules, x)
        rounds, cpu_rounds = [], []
        for _ in range(ROUNDS):
            start, cpu_start = time.perf_counter(), time.process_time()
            for _ in range(FRAMES_PER_ROUND):
                forward(modules, x)
            rounds.append((time.perf_counter() - start) * 1000.0 / FRAMES_PER_ROUND)
            cpu_rounds.append((time.process_time() - cpu_start) * 1000.0 / FRAMES_PER_ROUND)
    diff = (out - expected).abs().max().item()
    scale = max(1.0, expected.abs().max().item())
    print(json.dumps({"torch_ms_per_frame": sorted(rounds)[ROUNDS // 2],
                      "torch_cpu_ms_per_frame": sorted(cpu_rounds)[ROUNDS // 2],
                      "threads": torch.get_num_threads(),
                      "max_abs_diff": diff, "max_rel_diff": diff / scale}))


if __name__ == "__main__":
    main()
