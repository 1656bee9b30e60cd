"""Random valid networks from a seed, in the layer schema of the network containers.

A network is built layer by layer; each new layer is evaluated on a sample input with the torch
reference, which fixes its output shape and, for INT8, its dynamic range.

INT8 networks are exact by design. Weights are ternary (-c, 0, c with c a power of two), so any
per-channel int8 quantisation of them is lossless. Every stored tensor has a scale of the form
3^a * 2^b, and its values lie on a grid 3^a' * 2^b' (an average over a window divides by up to
9 = 3^2 and 4 = 2^2). A layer's output scale never has a higher power of two than the grid of its
unrounded result, so value / scale is an integer or has an odd denominator: it is never a
rounding tie, and every correct engine must produce the same codes, whatever its summation
order or rounding rule. Sums stay far below 2^24 grid steps, so float32 accumulation is exact.
"""


import numpy
import torch

from torch_reference import DOUBLE, Reference

MAX_CHANNELS = 16
MAX_EXTENT = 40
MAX_ELEMENTS = 8192
PREDICTION = "noise_rimg_preds"
STATE_IN = "hidden_features"
STATE_OUT = "hidden_update"
INPUT = "rimg_input_features"


class Tensor:
    """A registered tensor: layer name, sample value and, for INT8, its grid exponents."""

    def __init__(self, name, value, grid=(0, 0), amax=None, computed=False):
        self.name = name
        self.value = value
        self.grid = grid  # (power of 3, power of 2) of the step its values lie on
        self.amax = amax  # of the binding that would hold it
        self.computed = computed  # made by a layer of its own, not an input or a pass-through

    @property
    def chw(self):
        return tuple(self.value.shape[1:])


class NetworkBuilder:
    """Builds one network's layer list, weight bytes and reference weights."""

    def __init__(self, rng, version, precision, batch):
        self.rng = rng
        self.version = version
        self.v4 = version == "v0.0.4"
        self.precision = precision
        self.batch = batch
        self.layers = []
        self.weight_bytes = bytearray()
        self.ref_weights = {}
        self.tensors = {}
        self.order = []  # tensor names, newest last
        self.read = set()  # tensor names that some layer reads
        self.reference = Reference(precision, self.ref_weights)
        self.counter = 0

    # ---- naming and bookkeeping -------------------------------------------------------------

    def fresh_name(self, kind):
        self.counter += 1
        return "%s_%d" % (kind, self.counter)

    def register(self, tensor, layer=None):
        self.tensors[tensor.name] = tensor
        self.order.append(tensor.name)
        if layer is not None:
            self.read.update(layer["pre_nodes"])

    def pick(self, candidates=None):
        """Mostly the newest tensor or one nothing reads yet, so few layers end up unused."""
        names = candidates if candidates is not None else self.order
        unread = [n for n in names if n not in self.read]
        roll = self.rng.random()
        if roll < 0.5:
            return self.tensors[names[-1]]
        if roll < 0.8 and unread:
            return self.tensors[self.rng.choice(unread)]
        return self.tensors[self.rng.choice(names)]

    def size_json(self, h, w):
        if h == w and self.rng.random() < 0.5:
            return h
        return [h, w]

    # ---- inputs and outputs -----------------------------------------------------------------

    def add_input(self, torch_name, c, h, w, stored_hw=None):
        """A network input; stored_hw writes other extents that the parameter file corrects."""
        name = self.fresh_name("input")
        scale_exp = (self.rng.choice([0, 1]), self.rng.choice([-4, -3, -2]))
        amax = 127.0 * 3 ** scale_exp[0] * 2.0 ** scale_exp[1]
        sh, sw = stored_hw if stored_hw else (h, w)
        layer = {"name": name, "type": "input_tensor", "pre_nodes": [],
                 "shape" if not self.v4 else "output_shape": [1, c, sh, sw],
                 "torch_name": torch_name, "amax": amax}
        self.layers.append(layer)
        value = sample_input(self.rng, self.precision, (self.batch, c, h, w), amax)
        self.register(Tensor(name, value, scale_exp, amax))
        return layer

    def add_output(self, source, torch_name):
        name = self.fresh_name("output")
        self.layers.append({"name": name, "type": "output_tensor", "pre_nodes": [source.name],
                            "torch_name": torch_name})
        self.register(Tensor(name, source.value, source.grid, source.amax, source.computed),
                      self.layers[-1])

    # ---- computed layers --------------------------------------------------------------------

    def finish(self, layer, unrounded_grid):
        """Evaluates a computed layer, chooses its range and registers its output."""
        value = self.reference.unstored(layer, {n: t.value for n, t in self.tensors.items()})
        grid = (0, 0)
        if self.precision == "int8":
            grid = choose_scale(value, unrounded_grid)
            layer["amax"] = 127.0 * 3 ** grid[0] * 2.0 ** grid[1]
        else:
            layer["amax"] = round(float(value.abs().max()) + 1.0, 3)
        tensors = {n: t.value for n, t in self.tensors.items()}
        self.reference.apply(layer, tensors)
        self.layers.append(layer)
        self.register(Tensor(layer["name"], tensors[layer["name"]], grid, layer["amax"], True),
                      layer)
        return self.tensors[layer["name"]]

    def add_conv(self, source=None, out_channels=None, kernel=None, stride=None, padding=None,
                 groups=None, deconv=False, activation=None, dilation=None):
        """A convolution or deconvolution; unspecified settings are drawn at random."""
        source = source or self.pick()
        c, h, w = source.chw
        rng = self.rng
        if groups is None:
            groups = rng.choice([g for g in (1, 1, 2, 3, 4, c) if c % g == 0 and g <= MAX_CHANNELS])
        if out_channels is None:
            out_channels = groups * rng.randint(1, max(1, MAX_CHANNELS // groups))
        kh, kw = kernel or (rng.choice([1, 2, 3]), rng.choice([1, 3]) if rng.random() < 0.3 else 0)
        kw = kw or kh
        dh, dw = dilation or ((1, 1) if rng.random() < 0.7
                              else (rng.choice([1, 2]), rng.choice([1, 2])))
        if stride is None:
            square = rng.choice([1, 1, 2])
            stride = ((square, square) if rng.random() < 0.7
                      else (rng.choice([1, 1, 2]), rng.choice([1, 1, 2])))
        sh, sw = stride
        if padding is None:
            padding = (rng.randint(0, dh * (kh - 1) // 2 + (0 if deconv else 1)),
                       rng.randint(0, dw * (kw - 1) // 2 + (0 if deconv else 1)))
        ph, pw = padding
        if deconv:
            oh, ow = ((h - 1) * sh - 2 * ph + dh * (kh - 1) + 1,
                      (w - 1) * sw - 2 * pw + dw * (kw - 1) + 1)
        else:
            oh, ow = ((h + 2 * ph - dh * (kh - 1) - 1) // sh + 1,
                      (w + 2 * pw - dw * (kw - 1) - 1) // sw + 1)
        if not fits(out_channels, oh, ow):
            return None
        if activation is None:
            activation = rng.choice(["", "", "relu", "relu6"] + (["clip"] if rng.random() < 0.1
                                                                 else []))
        name = self.fresh_name("deconv" if deconv else "conv")
        shape = ((c, out_channels // groups, kh, kw) if deconv
                 else (out_channels, c // groups, kh, kw))
        weight, weight_exp = self.draw_weights(shape, fan_in=(c // groups) * kh * kw)
        has_bias = rng.random() < 0.7
        unrounded = (source.grid[0], source.grid[1] + weight_exp)
        bias = self.draw_bias(out_channels, unrounded) if has_bias else None
        self.ref_weights[name] = (weight, bias)
        self.append_weights(weight)
        if bias is not None:
            self.append_weights(bias)
        layer = {"name": name, "type": "deconvolutional" if deconv else "convolutional",
                 "pre_nodes": [source.name], "weight_length": 4 * weight.numel(),
                 "bias": 1 if has_bias else 0, "bias_length": 4 * out_channels if has_bias else 0,
                 "groups": groups, "out_channels": out_channels,
                 "pad" if not self.v4 else "padding": self.size_json(ph, pw),
                 "dilation": self.size_json(dh, dw), "stride": self.size_json(sh, sw),
                 "kernel_size": self.size_json(kh, kw)}
        if activation or self.v4 or rng.random() < 0.5:
            layer["activation"] = activation
        return self.finish(layer, unrounded)

    def add_pool(self):
        source = self.pick()
        c, h, w = source.chw
        rng = self.rng
        kh, kw = rng.choice([1, 2, 3]), rng.choice([1, 2, 3])
        sh, sw = rng.choice([1, 2, 3]), rng.choice([1, 2, 3])
        ph, pw = rng.randint(0, kh // 2), rng.randint(0, kw // 2)
        oh, ow = (h + 2 * ph - kh) // sh + 1, (w + 2 * pw - kw) // sw + 1
        if oh < 1 or ow < 1:
            return None
        average = rng.random() < 0.5
        kind = ("avgpool" if average else "maxpool") + ("" if self.v4 else "2d")
        layer = {"name": self.fresh_name(kind), "type": kind, "pre_nodes": [source.name],
                 "size" if not self.v4 else "kernel_size": self.size_json(kh, kw),
                 "stride": self.size_json(sh, sw), "pad" if not self.v4 else "padding":
                     self.size_json(ph, pw)}
        grid = source.grid
        if average:  # the window's element count divides the sum
            count = kh * kw
            grid = (grid[0] - (2 if count == 9 else 1 if count % 3 == 0 else 0),
                    grid[1] - (2 if count == 4 else 1 if count % 2 == 0 else 0))
        return self.finish(layer, grid)

    def add_upsample(self):
        source = self.pick()
        c, h, w = source.chw
        factor = self.rng.choice([2.0, 2.0, 3.0, 1.5])
        if not fits(c, int(h * factor), int(w * factor)):
            return None
        layer = {"name": self.fresh_name("upsample"), "type": "upsample",
                 "pre_nodes": [source.name], "scale_factor": factor}
        if not self.v4 and factor == 2.0:
            roll = self.rng.random()
            if roll < 0.3:
                del layer["scale_factor"]  # absent means 2
            elif roll < 0.6:
                layer["scale_factor"] = None
        return self.finish(layer, source.grid)

    def add_binary(self, first=None, second=None):
        """Sum, product or difference of two tensors of one shape."""
        first = first or self.pick()
        same = [n for n in self.order if self.tensors[n].chw == first.chw]
        second = second or self.tensors[self.rng.choice(same)]
        op = self.rng.choice(["sum", "mul", "sub"])
        if op == "sum":
            kind, extra = "shortcut", {}
        elif self.v4:
            kind, extra = "elememt_wise_" + op, {}
        else:
            kind, extra = "route", {"op": op}
        layer = {"name": self.fresh_name(op), "type": kind,
                 "pre_nodes": [first.name, second.name]}
        layer.update(extra)
        (a1, b1), (a2, b2) = first.grid, second.grid
        grid = (a1 + a2, b1 + b2) if op == "mul" else (min(a1, a2), min(b1, b2))
        return self.finish(layer, grid)

    def add_concat(self, sources=None):
        if sources is None:
            first = self.pick()
            same = [n for n in self.order
                    if self.tensors[n].chw[1:] == first.chw[1:]]
            sources = [first] + [self.tensors[self.rng.choice(same)]
                                 for _ in range(self.rng.randint(1, 2))]
        c = sum(t.chw[0] for t in sources)
        if c > 2 * MAX_CHANNELS:
            return None
        if self.v4:
            kind, extra = self.rng.choice(["concat", "connect"]), {}
        else:
            kind, extra = "route", {"op": "concat"}
        layer = {"name": self.fresh_name("concat"), "type": kind,
                 "pre_nodes": [t.name for t in sources]}
        layer.update(extra)
        grid = (min(t.grid[0] for t in sources), min(t.grid[1] for t in sources))
        return self.finish(layer, grid)

    def add_activation(self):
        source = self.pick()
        kind = self.rng.choice(["relu", "relu6", "relu", "clip"])
        layer = {"name": self.fresh_name("act"), "type": "activation",
                 "pre_nodes": [source.name], "activation_type": kind}
        return self.finish(layer, source.grid)

    def add_softmax(self):
        source = self.pick()
        layer = {"name": self.fresh_name("softmax"), "type": "softmax",
                 "pre_nodes": [source.name], "dim": self.rng.choice([1, 1, 2, 3])}
        return self.finish(layer, source.grid)

    def add_permute(self):
        source = self.pick()
        order = self.rng.choice([[0, 1, 3, 2], [0, 2, 1, 3], [0, 3, 2, 1], [0, 2, 3, 1]])
        layer = {"name": self.fresh_name("permute"), "type": "permute",
                 "pre_nodes": [source.name], "dim": order}
        shape = [source.value.shape[i] for i in order]
        if not fits(*shape[1:]):
            return None
        return self.finish(layer, source.grid)

    def add_pass_through(self):
        source = self.pick()
        if self.v4:
            kind = self.rng.choice(["dropout", "vorx_mark", "contiguous"])
        else:
            kind = self.rng.choice(["dropout2d", "vorx_mark", "contiguous", "route"])
        name = self.fresh_name(kind)
        layer = {"name": name, "type": kind, "pre_nodes": [source.name]}
        if kind == "route":
            layer["op"] = None
        self.layers.append(layer)
        self.register(Tensor(name, source.value, source.grid, source.amax, source.computed),
                      layer)
        return self.tensors[name]

    def add_unnamed_output(self):
        """An output layer named "None": not a network output, but it feeds later layers."""
        self.add_output(self.pick(), "None")
        return self.tensors[self.order[-1]]

    def add_random_layer(self):
        kinds = [self.add_conv, self.add_conv, self.add_conv,
                 lambda: self.add_conv(deconv=True), self.add_pool, self.add_upsample,
                 self.add_binary, self.add_concat, self.add_pass_through, self.add_unnamed_output]
        if self.v4:
            kinds.append(self.add_activation)
        if self.precision != "int8":  # no dynamic range of their own: FP engines only
            kinds.append(self.add_permute)
            if self.v4:
                kinds.append(self.add_softmax)
        for _ in range(20):
            if self.rng.choice(kinds)() is not None:
                return

    def merge_unread(self):
        """Concatenates the newest tensor with unread results of its extent, so that most
        layers reach the prediction; the rest stay unread, as a network may leave them."""
        for name in list(self.order[:-1]):
            newest = self.tensors[self.order[-1]]
            tensor = self.tensors[name]
            if (name in self.read or not tensor.computed or tensor.chw[1:] != newest.chw[1:]
                    or self.rng.random() < 0.2):
                continue
            self.add_concat([newest, tensor])

    # ---- weights ------------------------------------------------------------------------------

    def draw_weights(self, shape, fan_in):
        """Weights in float64 and, for INT8, the power of two of their magnitude."""
        gen = torch.Generator().manual_seed(self.rng.getrandbits(31))
        if self.precision == "int8":
            exp = self.rng.choice([-1, 0])
            ternary = torch.randint(-1, 2, shape, generator=gen).to(DOUBLE)
            if not bool(ternary.any()):
                ternary.view(-1)[0] = 1.0
            return ternary * 2.0 ** exp, exp
        weight = torch.randn(shape, generator=gen, dtype=DOUBLE) * (1.5 / fan_in) ** 0.5
        return weight.to(torch.float32).to(DOUBLE), 0

    def draw_bias(self, count, grid):
        gen = torch.Generator().manual_seed(self.rng.getrandbits(31))
        if self.precision == "int8":  # whole steps of the unrounded result's grid
            steps = torch.randint(-200, 201, (count,), generator=gen).to(DOUBLE)
            return steps * 3.0 ** grid[0] * 2.0 ** grid[1]
        return (torch.randn(count, generator=gen, dtype=DOUBLE) * 0.1).to(torch.float32).to(DOUBLE)

    def append_weights(self, tensor):
        self.weight_bytes += tensor.to(torch.float32).contiguous().numpy().astype("<f4").tobytes()


def fits(c, h, w):
    return (1 <= c <= 2 * MAX_CHANNELS and 1 <= h <= MAX_EXTENT and 1 <= w <= MAX_EXTENT
            and c * h * w <= MAX_ELEMENTS)


def choose_scale(value, grid):
    """An INT8 scale 3^a * 2^b for value whose power of two does not exceed the grid's."""
    top = float(value.abs().max()) if value.numel() else 0.0
    target = max(top / 100.0, 1e-30)
    best = None
    for a in range(0, 4):
        if a - grid[0] > 5:  # odd denominators stay small enough to stay clear of ties
            continue
        for b in range(grid[1] - 12, grid[1] + 1):
            scale = 3 ** a * 2.0 ** b
            if scale >= target and (best is None or scale < best[0]):
                best = (scale, (a, b))
    if best is None:
        return (min(3, grid[0] + 5), grid[1])
    return best[1]


def sample_input(rng, precision, shape, amax):
    """One frame of an input binding as the engine would read it, in float64."""
    gen = torch.Generator().manual_seed(rng.getrandbits(31))
    if precision == "int8":
        codes = torch.randint(-60, 61, shape, generator=gen).to(DOUBLE)
        codes.view(-1)[:: 97] = 127.0  # a few values at the edge of the range
        return codes * (amax / 127.0)
    value = torch.randn(shape, generator=gen, dtype=DOUBLE)
    if precision == "float16":
        return value.to(torch.float16).to(DOUBLE)
    return value.to(torch.float32).to(DOUBLE)


def to_binding_bytes(value, precision, amax):
    """The bytes of a binding holding value (INT8 values must lie on the amax / 127 grid)."""
    if precision == "int8":
        codes = torch.round(value / (amax / 127.0)).clamp(-128, 127)
        return codes.to(torch.int8).numpy().tobytes()
    dtype = numpy.float16 if precision == "float16" else numpy.float32
    return value.numpy().astype(dtype).tobytes()


def from_binding_bytes(data, precision, shape, amax):
    """A binding's bytes as float64 values (INT8 as codes times the scale)."""
    if precision == "int8":
        array = numpy.frombuffer(data, dtype=numpy.int8).astype(numpy.float64) * (amax / 127.0)
    else:
        dtype = numpy.float16 if precision == "float16" else numpy.float32
        array = numpy.frombuffer(data, dtype=dtype).astype(numpy.float64)
    return torch.from_numpy(array.copy()).reshape(shape)


def element_bytes(precision):
    return {"int8": 1, "float16": 2, "float32": 4}[precision]

