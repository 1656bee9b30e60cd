#!/usr/bin/env python3
"""Writes small, valid model containers of both generations as seeds for the container fuzzers."""
import json
import os
import struct
import sys


def scramble(text):
    out = []
    for c in text.encode("ascii"):
        block = c >> 5
        out.append([c + 0x40, 0x9F - c, 0x7F - c, c - 0x60][block])
    return bytes(out)


def container(header, *sections):
    stored = scramble(json.dumps(header, separators=(",", ":"), sort_keys=True))
    return struct.pack("<I", len(stored)) + stored + b"".join(sections)


def main(root):
    desc = scramble(json.dumps([{"name": "rimg", "layers": []}]))
    scale = scramble(json.dumps({"noise_rimg_preds": 0.5}))
    nets = {
        "v002": container({"vorx_version": "0.0.2", "trt_model": {"config_length": len(desc),
                           "weight_length": 8, "scale_length": len(scale)},
                           "spconv_net_byte_length": {"a": 2}}, desc, b"\1" * 8, scale, b"zz"),
        "v004": container({"vorx_deploy_version": "v0.0.4", "tensorRT_net": {
                           "structure_length": len(desc), "weight_length": 4},
                           "engine": [{"name": "rimg", "output_scale": {"y": 2.0}}]},
                          desc, b"\2" * 4),
    }
    engines = {
        "v002": container({"vorx_version": "0.0.3", "trt_model": {"scale_length": len(scale),
                           "engines": [{"name": "rimg", "length": 3}]},
                           "spconv_model": {"engines": None}}, b"abc", scale),
        "v004": container({"vorx_version": "v0.0.4", "tensorRT_net": {}, "engine": [
                           {"name": "a", "length": 2, "output_scale": {"y": 1.5}},
                           {"name": "b", "length": 1, "output_scale": {}}]}, b"xyz"),
    }
    for folder, seeds in (("network", nets), ("engine", engines)):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(root, folder, name + ".bin"), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
