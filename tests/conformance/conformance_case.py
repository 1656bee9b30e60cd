"""One conformance case from a seed: the model, its input frames and the reference predictions.

The run engine is "rimg" (what cloud_denoiser runs): input "rimg_input_features", prediction
"noise_rimg_preds" and, when recurrent, state "hidden_features" -> "hidden_update" carried from
frame to frame as raw binding bytes. Some cases put a second network, "aux", first in the
description: it is built and loaded but not run, and it shifts where "rimg"'s weights start.
"""

import random

import torch

import container_writer
import random_network as rn
from torch_reference import Reference

FRAMES = 3


class Case:
    """Everything the driver needs for one seed."""

    def __init__(self, seed, frames=FRAMES):
        self.seed = seed
        rng = random.Random(seed)
        self.version = rng.choice(container_writer.VERSIONS)
        self.precision = rng.choice(["int8", "int8", "float16", "float32"])
        self.batch = 2 if rng.random() < 0.15 else 1
        self.recurrent = rng.random() < 0.5
        self.copy_state = rng.random() < 0.3
        self.header_style = rng.choice(["vorx_version", "vorx_version", "vorx_deploy_version",
                                        "both"])
        self.tail_extra = bytes(rng.getrandbits(8) for _ in range(rng.choice([0, 0, 13, 40])))
        self.aux = build_aux(rng, self) if rng.random() < 0.2 else None
        self.override = None
        self.rimg = self.build_rimg(rng)
        self.frames = frames
        self.inputs = [rn.sample_input(rng, self.precision, self.input_shape, self.input_amax)
                       for _ in range(frames)]

    # ---- the model -------------------------------------------------------------------------------

    def build_rimg(self, rng):
        net = rn.NetworkBuilder(rng, self.version, self.precision, self.batch)
        c, h, w = rng.randint(1, 8), rng.randint(3, 20), rng.randint(3, 24)
        stored = None
        if rng.random() < 0.15:  # the parameter file corrects the stored extents
            stored = (h + rng.randint(1, 5), w + rng.randint(1, 5))
            self.override = {rn.INPUT: [h, w]}
        self.input_layer = net.add_input(rn.INPUT, c, h, w, stored)
        self.input_shape = (self.batch, c, h, w)
        self.input_amax = self.input_layer["amax"]
        start = net.tensors[self.input_layer["name"]]
        if self.recurrent:
            ch = rng.randint(1, 6)
            self.state_layer = net.add_input(rn.STATE_IN, ch, h, w)
            self.state_shape = (self.batch, ch, h, w)
            state = net.tensors[self.state_layer["name"]]
            if ch == c and rng.random() < 0.5:
                net.add_binary(start, state)
            else:
                net.add_concat([start, state])
        for _ in range(rng.randint(3, 8)):
            net.add_random_layer()
        net.merge_unread()
        if not net.tensors[net.order[-1]].computed:
            while net.add_conv(net.tensors[net.order[-1]]) is None:
                pass
        prediction = net.tensors[net.order[-1]]
        self.prediction_amax = prediction.amax
        if self.recurrent:
            full = [n for n in net.order if net.tensors[n].chw[1:] == (h, w)]
            k = rng.choice([1, 3])
            update = None
            while update is None:
                update = net.add_conv(net.pick(full), out_channels=self.state_shape[1],
                                      kernel=(k, k), stride=(1, 1), padding=(k // 2, k // 2),
                                      groups=1, dilation=(1, 1))
            self.update_amax = update.amax
            self.state_amax = self.state_layer["amax"]
        net.add_output(prediction, rn.PREDICTION)
        self.prediction_layer = net.layers[-1]["name"]
        self.prediction_shape = tuple(prediction.value.shape)
        if self.recurrent:
            net.add_output(update, rn.STATE_OUT)
            self.update_layer = net.layers[-1]["name"]
        return net

    def networks(self):
        nets = ([self.aux] if self.aux else []) + [self.rimg]
        return [{"name": name, "layers": n.layers} for name, n in zip(self.engine_names(), nets)]

    def engine_names(self):
        return (["aux"] if self.aux else []) + ["rimg"]

    def network_file(self):
        nets = ([self.aux] if self.aux else []) + [self.rimg]
        weights = b"".join(bytes(n.weight_bytes) for n in nets)
        scales = {"rimg": {rn.PREDICTION: 1.0}}
        return container_writer.network_file_bytes(self.version, self.networks(), weights, scales,
                                                   self.header_style, self.tail_extra)

    def parameter_file(self, net_path, engine_path):
        outputs = {"rimg": [rn.PREDICTION] + ([rn.STATE_OUT] if self.recurrent else [])}
        if self.aux:
            outputs = {"aux": ["aux_out"], **outputs}
        return container_writer.parameter_file(net_path, engine_path, outputs, self.batch,
                                               self.precision, self.override)

    # ---- frames and reference ----------------------------------------------------------------

    def input_bytes(self):
        return b"".join(rn.to_binding_bytes(x, self.precision, self.input_amax)
                        for x in self.inputs)

    def prediction_bytes(self):
        count = 1
        for d in self.prediction_shape:
            count *= d
        return count * rn.element_bytes(self.precision)

    def reference_predictions(self):
        """The predictions of every frame, as float64 tensors of the prediction's shape."""
        reference = Reference(self.precision, self.rimg.ref_weights)
        state = torch.zeros(self.state_shape, dtype=rn.DOUBLE) if self.recurrent else None
        predictions = []
        for frame in self.inputs:
            inputs = {self.input_layer["name"]: frame}
            if self.recurrent:
                inputs[self.state_layer["name"]] = state
            tensors = reference.run(self.rimg.layers, inputs)
            predictions.append(self.as_binding(tensors[self.prediction_layer],
                                               self.prediction_amax))
            if self.recurrent:
                state = self.carried_state(tensors[self.update_layer])
        return predictions

    def as_binding(self, value, amax):
        """value as the engine's output binding holds it (float32 bindings round to float)."""
        if self.precision == "float32":
            return value.to(torch.float32).to(rn.DOUBLE)
        if self.precision == "float16":
            return value.to(torch.float16).to(rn.DOUBLE)
        return value

    def carried_state(self, update):
        """The next frame's state: the update binding's bytes read as the state binding."""
        if self.precision != "int8":
            return self.as_binding(update, None)
        codes = torch.round(update / (self.update_amax / 127.0))
        return codes * (self.state_amax / 127.0)

    # ---- description -------------------------------------------------------------------------

    def features(self):
        """Names of what this case exercises, for the coverage check of the fixed seeds."""
        found = {self.version, self.precision, "header-" + self.header_style}
        found.add("recurrent-" + ("copy" if self.copy_state or self.aux else "swap")
                  if self.recurrent else "single-frame")
        if self.aux:
            found.add("two-networks")
        if self.override:
            found.add("input-shape-override")
        if self.batch > 1:
            found.add("batch2")
        if self.tail_extra:
            found.add("tail-bytes")
        for layer in self.rimg.layers:
            found.update(layer_features(layer, self.precision))
        return found

    def summary(self):
        parts = [self.version, self.precision, "batch%d" % self.batch,
                 "recurrent" if self.recurrent else "single-frame"]
        if self.aux:
            parts.append("+aux")
        return " ".join(parts)

    def layer_list(self):
        return ", ".join(describe(layer) for layer in self.rimg.layers)


def build_aux(rng, case):
    net = rn.NetworkBuilder(rng, case.version, case.precision, case.batch)
    net.add_input("aux_input", rng.randint(1, 4), rng.randint(3, 10), rng.randint(3, 10))
    for _ in range(rng.randint(1, 2)):
        while net.add_conv() is None:
            pass
    net.add_output(net.tensors[net.order[-1]], "aux_out")
    return net


def layer_features(layer, precision):
    kind = layer["type"]
    found = {"layer-" + kind}
    if kind in ("convolutional", "deconvolutional"):
        base = "conv" if kind == "convolutional" else "deconv"
        stride = layer["stride"]
        strided = (stride if isinstance(stride, int) else max(stride)) > 1
        if layer["groups"] > 1:
            found.add(base + "-groups")
            if precision == "int8" and base == "conv":
                found.add("int8-grouped-conv-stride%d" % (2 if strided else 1))
        if strided:
            found.add(base + "-stride")
        if layer["dilation"] not in (1, [1, 1]):
            found.add(base + "-dilation")
        if layer.get("pad", layer.get("padding")) not in (0, [0, 0]):
            found.add(base + "-padding")
        if layer["bias"]:
            found.add(base + "-bias")
        if layer.get("activation"):
            found.add("activation-" + layer["activation"])
    if kind == "route":
        found.add("route-" + str(layer["op"]))
    if kind == "upsample" and layer.get("scale_factor") is None:
        found.add("upsample-default-factor")
    if kind == "activation":
        found.add("activation-" + layer["activation_type"])
    if kind == "output_tensor" and layer["torch_name"] == "None":
        found.add("unnamed-output")
    return found


def describe(layer):
    kind = layer["type"]
    if kind in ("convolutional", "deconvolutional"):
        return "%s(k%s s%s p%s d%s g%d ->%d%s)" % (
            "conv" if kind == "convolutional" else "deconv", layer["kernel_size"],
            layer["stride"], layer.get("pad", layer.get("padding")), layer["dilation"],
            layer["groups"], layer["out_channels"],
            " " + layer["activation"] if layer.get("activation") else "")
    if kind == "input_tensor":
        return "input %s%s" % (layer["torch_name"], layer.get("shape", layer.get("output_shape")))
    if kind == "output_tensor":
        return "output %s" % layer["torch_name"]
    if kind == "route":
        return "route(%s)" % layer["op"]
    if kind.startswith(("avgpool", "maxpool")):
        return "%s(k%s s%s p%s)" % (kind, layer.get("size", layer.get("kernel_size")),
                                    layer["stride"], layer.get("pad", layer.get("padding")))
    if kind == "upsample":
        return "upsample(%s)" % layer.get("scale_factor", "default")
    if kind == "activation":
        return "activation(%s)" % layer["activation_type"]
    if kind in ("softmax", "permute"):
        return "%s(%s)" % (kind, layer["dim"])
    return kind
