"""Writes network containers from the format description alone, never through the C++ writer.

A network file is: header length (u32 little-endian), scrambled JSON header, scrambled JSON
network description, raw weight bytes, then a tail. Generation 0.0.2/0.0.3 keeps the lengths
under "trt_model" and starts the tail with a scrambled JSON scale table; generation v0.0.4 keeps
them under "tensorRT_net" and lists one "engine" entry per network with its output scales.
"""

import json
import struct

VERSIONS = ("0.0.2", "0.0.3", "v0.0.4")


def _scramble_byte(c):
    # The stored JSON texts move each 32-code block of 7-bit ASCII onto another block:
    # 0x00-0x1F -> 0x40-0x5F in order, 0x20-0x3F -> 0x60-0x7F reversed,
    # 0x40-0x5F -> 0x20-0x3F reversed, 0x60-0x7F -> 0x00-0x1F in order.
    block = c >> 5
    if block == 0:
        return c + 0x40
    if block == 1:
        return 0x9F - c
    if block == 2:
        return 0x7F - c
    return c - 0x60


def scramble(text):
    """The stored form of a JSON text (which must be 7-bit ASCII; json.dumps escapes the rest)."""
    raw = text.encode("ascii")
    return bytes(_scramble_byte(c) for c in raw)


def _json_text(value):
    return json.dumps(value, ensure_ascii=True, separators=(",", ":"))


def network_file_bytes(version, networks, weights, output_scales, header_style, tail_extra):
    """The bytes of a network file.

    networks: the description (list of {"name", "layers"}), in weight order.
    weights: bytes of every network's weights, network after network.
    output_scales: per network name, {tensor name: scale} for the scale table / "output_scale".
    header_style: "vorx_version", "vorx_deploy_version" or "both" (the reader prefers
    "vorx_version"; "both" stores a decoy under the other key).
    tail_extra: raw bytes after the scale table (0.0.2/0.0.3, listed under
    "spconv_net_byte_length") or the whole tail (v0.0.4).
    """
    if version not in VERSIONS:
        raise ValueError("unknown container version " + version)
    description = scramble(_json_text(networks))
    header = _version_keys(version, header_style)
    if version == "v0.0.4":
        header["tensorRT_net"] = {"structure_length": len(description),
                                  "weight_length": len(weights)}
        header["engine"] = [{"name": n["name"], "output_scale": output_scales.get(n["name"], {})}
                            for n in networks]
        tail = tail_extra
    else:
        table = {}
        for network in networks:
            table.update(output_scales.get(network["name"], {}))
        scale_table = scramble(_json_text(table))
        header["trt_model"] = {"config_length": len(description), "weight_length": len(weights),
                               "scale_length": len(scale_table)}
        if tail_extra:
            header["spconv_net_byte_length"] = {"sparse_head": len(tail_extra)}
        tail = scale_table + tail_extra
    header_bytes = scramble(_json_text(header))
    return struct.pack("<I", len(header_bytes)) + header_bytes + description + weights + tail


def _version_keys(version, header_style):
    if header_style == "vorx_version":
        return {"vorx_version": version}
    if header_style == "vorx_deploy_version":
        return {"vorx_deploy_version": version}
    return {"vorx_deploy_version": "0.0.1-not-this-one", "vorx_version": version}


def parameter_file(net_path, engine_path, engines, batch_size, data_type, input_shape_override):
    """The parameter file cloud_denoiser reads, for a model whose run engine is "rimg".

    engines: {name: [output tensor names]}; input_shape_override: {tensor: [H, W]} given to
    every engine as "input_tensors" (the builder then replaces the stored H and W).
    """
    engine_table = {}
    for name, outputs in engines.items():
        entry = {"type": "NvGPUEngine", "batch_size": batch_size, "data_type": data_type,
                 "output_tensors": [{"TENSOR": {"name": o}} for o in outputs]}
        if input_shape_override:
            entry["input_tensors"] = input_shape_override
        engine_table[name] = entry
    return {"batch_size": batch_size, "runner": "QuantedRimgRunner", "net_path": net_path,
            "engine_path": engine_path, "data_type": data_type,
            "input": [{"name": "point_cloud", "type": "QuantedPointCloud", "batch_size": batch_size,
                       "rimg_h": 1, "rimg_w": 1, "channel": 1}],
            "engine": engine_table}
