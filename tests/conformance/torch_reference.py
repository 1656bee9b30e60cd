"""The reference: what a network described in a container computes, with torch ops in float64.

Each layer is computed from the description alone (the layer tables of the container format and
TensorRT's meaning of each layer), never from the C++ code. Precision is emulated where it
changes results: an INT8 engine stores every tensor that carries a dynamic range as
q = round(x / s) saturated to -128..127 with s = amax / 127; an FP16 engine stores every tensor
as IEEE half. Pass-through layers and output markers store nothing of their own.
"""

from fractions import Fraction

import torch
import torch.nn.functional as F

DOUBLE = torch.float64


class NotExactError(Exception):
    """An INT8 value fell within rounding noise of a tie: the network is not exact by design."""


def pair(value):
    """A 2-D size given as one number or as [height, width]."""
    if isinstance(value, list):
        return int(value[0]), int(value[1])
    return int(value), int(value)


def quantize(x, amax, exact):
    """The int8 codes of x for a tensor of range [-amax, amax], as float64 integers.

    exact: refuse values whose rounding could go either way (the INT8 networks are designed so
    that none can, so any rounding rule gives the same codes).
    """
    scale = amax / 127.0
    ratio = x / scale
    if exact:
        fraction = ratio - torch.floor(ratio)
        near_tie = (fraction - 0.5).abs() < 1e-4
        if bool(near_tie.any()):
            raise NotExactError("value within 1e-4 of a rounding tie at scale %r" % scale)
    rounded = torch.sign(ratio) * torch.floor(ratio.abs() + 0.5)
    return rounded.clamp(-128.0, 127.0)


def nearest_indices(extent, factor):
    """Source index of each output position of a nearest resize by factor (floor(o / f))."""
    f = Fraction(factor).limit_denominator(1000)
    out = int(Fraction(extent) * f)
    return torch.tensor([min(int(Fraction(o) / f), extent - 1) for o in range(out)])


def conv_like(layer, x, weight, bias, transposed):
    stride, padding, dilation = (pair(layer["stride"]), pair(layer.get("pad", layer.get("padding"))),
                                 pair(layer["dilation"]))
    groups = int(layer["groups"])
    if transposed:
        return F.conv_transpose2d(x, weight, bias, stride=stride, padding=padding,
                                  dilation=dilation, groups=groups)
    return F.conv2d(x, weight, bias, stride=stride, padding=padding, dilation=dilation,
                    groups=groups)


def activation(kind, x):
    if kind in ("relu", "relu6"):  # relu6 builds the same unbounded ReLU
        return torch.relu(x)
    if kind == "clip":  # TensorRT's default clip bounds are [0, 0]
        return torch.clamp(x, 0.0, 0.0)
    raise ValueError("unknown activation " + kind)


def pool(layer, x, average):
    window = pair(layer.get("size", layer.get("kernel_size")))
    stride, padding = pair(layer["stride"]), pair(layer.get("pad", layer.get("padding")))
    if average:
        return F.avg_pool2d(x, window, stride, padding, count_include_pad=True)
    return F.max_pool2d(x, window, stride, padding)


def upsample(x, factor):
    rows = nearest_indices(x.shape[2], factor)
    cols = nearest_indices(x.shape[3], factor)
    return x.index_select(2, rows).index_select(3, cols)


class Reference:
    """Evaluates one network's layers over named float64 tensors.

    precision: "int8", "float16" or "float32". weights: {layer name: (weight, bias or None)} as
    float64 tensors in torch's layouts (which are the container's: KCRS for convolutions, CKRS
    for deconvolutions).
    """

    def __init__(self, precision, weights, exact_int8=True):
        self.precision = precision
        self.weights = weights
        self.exact_int8 = exact_int8

    def store(self, x, amax):
        """x as the engine keeps it between layers."""
        if self.precision == "int8":
            return quantize(x, amax, self.exact_int8) * (amax / 127.0)
        if self.precision == "float16":
            return x.to(torch.float16).to(DOUBLE)
        return x

    def unstored(self, layer, tensors):
        """A layer's result before the engine stores it; None for layers that store nothing."""
        kind = layer["type"]
        ins = [tensors[name] for name in layer["pre_nodes"]]
        if kind in ("convolutional", "deconvolutional"):
            weight, bias = self.weights[layer["name"]]
            y = conv_like(layer, ins[0], weight, bias, kind == "deconvolutional")
            return activation(layer["activation"], y) if layer.get("activation") else y
        if kind == "upsample":
            factor = layer.get("scale_factor")
            return upsample(ins[0], 2.0 if factor is None else factor)
        if kind == "shortcut":
            return ins[0] + ins[1]
        if kind in ("concat", "connect") or (kind == "route" and layer["op"] == "concat"):
            return torch.cat(ins, dim=1)
        if kind == "elememt_wise_mul" or (kind == "route" and layer["op"] == "mul"):
            return ins[0] * ins[1]
        if kind == "elememt_wise_sub" or (kind == "route" and layer["op"] == "sub"):
            return ins[0] - ins[1]
        if kind in ("avgpool", "avgpool2d", "maxpool", "maxpool2d"):
            return pool(layer, ins[0], kind.startswith("avg"))
        if kind == "activation":
            return activation(layer["activation_type"], ins[0])
        if kind == "softmax":
            return torch.softmax(ins[0], dim=int(layer["dim"]))
        if kind == "permute":
            return ins[0].permute(*layer["dim"]).contiguous()
        return None

    def apply(self, layer, tensors):
        """Adds the tensor the layer registers under its name."""
        kind = layer["type"]
        name = layer["name"]
        if kind in ("output_tensor", "dropout", "dropout2d", "vorx_mark", "contiguous") or (
                kind == "route" and layer["op"] is None):
            tensors[name] = tensors[layer["pre_nodes"][0]]
            return
        x = self.unstored(layer, tensors)
        if kind in ("softmax", "permute"):  # no range of their own: only FP networks have them
            tensors[name] = self.store(x, None) if self.precision != "int8" else x
            return
        tensors[name] = self.store(x, float(layer["amax"]))

    def run(self, layers, inputs):
        """All tensors of one network for inputs {layer name of each input: float64 tensor}."""
        tensors = dict(inputs)
        for layer in layers:
            if layer["type"] != "input_tensor":
                self.apply(layer, tensors)
        return tensors
