#include "platform/tensorrt/src/shape_inference.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace trt_host {
namespace {

using nvinfer1::DataType;
using nvinfer1::Dims;

constexpr uint32_t kLinearFormatsMask =
    (1U << static_cast<uint32_t>(nvinfer1::TensorFormat::kLINEAR)) |
    (1U << static_cast<uint32_t>(nvinfer1::TensorFormat::kDLA_LINEAR));

std::string dimsText(const Dims& dims) {
    std::string text = "[";
    for (int32_t i = 0; i < dims.nbDims; ++i) {
        text += (i ? ", " : "") + std::to_string(dims.d[i]);
    }
    return text + "]";
}

bool validShape(const Dims& dims) {
    if (dims.nbDims < 1 || dims.nbDims > Dims::MAX_DIMS) {
        return false;
    }
    for (int32_t i = 0; i < dims.nbDims; ++i) {
        if (dims.d[i] < 1) {
            return false;
        }
    }
    return ShapeInference::volume(dims) < ShapeInference::kMaxElements;
}

// Reads a per-spatial-axis parameter; nbDims 0 stands for fallback on every axis.
bool spatialParam(const Dims& param, int32_t spatial, int32_t index, int32_t fallback,
                  int32_t& value) {
    if (param.nbDims == 0) {
        value = fallback;
        return true;
    }
    if (param.nbDims != spatial) {
        return false;
    }
    value = param.d[index];
    return true;
}

struct Failure {
    std::string& error;
    const GraphOp& op;
    bool operator()(const std::string& reason) const {
        error = "layer " + op.name + ": " + reason;
        return false;
    }
};

// Output extents of a sliding-window layer (convolution, deconvolution, pooling).
bool inferWindowed(const GraphOp& op, const Dims& in, bool transposed, int32_t channels_out,
                   Dims& out, const Failure& fail) {
    const int32_t spatial = in.nbDims - 2;
    if (spatial < 1 || spatial > 3) {
        return fail("input must have 3 to 5 dimensions, has " + dimsText(in));
    }
    if (op.kernel.nbDims != spatial) {
        return fail("window " + dimsText(op.kernel) + " does not match input " + dimsText(in));
    }
    out = in;
    out.d[1] = channels_out;
    for (int32_t i = 0; i < spatial; ++i) {
        const int32_t window = op.kernel.d[i];
        int32_t stride = 0, pre = 0, post = 0, dilation = 0;
        const int32_t stride_fallback = op.kind == OpKind::kPooling ? window : 1;
        if (!spatialParam(op.stride, spatial, i, stride_fallback, stride) ||
            !spatialParam(op.pre_padding, spatial, i, 0, pre) ||
            !spatialParam(op.post_padding, spatial, i, 0, post) ||
            !spatialParam(op.dilation, spatial, i, 1, dilation)) {
            return fail("stride, padding or dilation rank does not match the window");
        }
        if (window < 1 || stride < 1 || dilation < 1 || pre < 0 || post < 0) {
            return fail("window, stride and dilation must be positive and padding not negative");
        }
        if (op.kind == OpKind::kPooling && (pre >= window || post >= window)) {
            return fail("pooling padding must be smaller than the window");
        }
        const int64_t reach = int64_t{dilation} * (window - 1) + 1;
        const int64_t extent = in.d[i + 2];
        const int64_t size = transposed ? (extent - 1) * stride + reach - pre - post
                                        : (extent + pre + post - reach) / stride + 1;
        if ((!transposed && extent + pre + post < reach) || size < 1 ||
            size >= ShapeInference::kMaxElements) {
            return fail("window does not fit: input " + dimsText(in) + ", window " +
                        dimsText(op.kernel));
        }
        out.d[i + 2] = static_cast<int32_t>(size);
    }
    return true;
}

bool inferConvolution(const GraphOp& op, const Dims& in, Dims& out, const Failure& fail) {
    const bool transposed = op.kind == OpKind::kDeconvolution;
    if (in.nbDims < 3) {
        return fail("input must have 3 to 5 dimensions, has " + dimsText(in));
    }
    const int32_t channels = in.d[1];
    if (op.out_maps < 1 || op.groups < 1 || channels % op.groups != 0 ||
        op.out_maps % op.groups != 0) {
        return fail("channel mismatch: " + std::to_string(channels) + " input channels, " +
                    std::to_string(op.out_maps) + " output maps, " + std::to_string(op.groups) +
                    " groups");
    }
    if (!inferWindowed(op, in, transposed, op.out_maps, out, fail)) {
        return false;
    }
    const int64_t taps = ShapeInference::volume(op.kernel);
    const int64_t expected = transposed ? int64_t{channels} * (op.out_maps / op.groups) * taps
                                        : int64_t{op.out_maps} * (channels / op.groups) * taps;
    if (kernelCount(op) != expected) {
        return fail("kernel weights hold " + std::to_string(kernelCount(op)) + " values, " +
                    std::to_string(expected) + " expected (missing or mismatched weights)");
    }
    if (biasCount(op) != 0 && biasCount(op) != op.out_maps) {
        return fail("bias holds " + std::to_string(biasCount(op)) + " values, " +
                    std::to_string(op.out_maps) + " expected");
    }
    return true;
}

bool inferActivation(const GraphOp& op, const Dims& in, Dims& out, const Failure& fail) {
    using nvinfer1::ActivationType;
    switch (op.activation) {
        case ActivationType::kRELU:
        case ActivationType::kSIGMOID:
        case ActivationType::kTANH:
        case ActivationType::kLEAKY_RELU:
        case ActivationType::kELU:
        case ActivationType::kCLIP:
            out = in;
            return true;
        default:
            return fail("unsupported activation type " +
                        std::to_string(static_cast<int32_t>(op.activation)));
    }
}

bool inferPooling(const GraphOp& op, const Dims& in, Dims& out, const Failure& fail) {
    if (op.pooling != nvinfer1::PoolingType::kMAX &&
        op.pooling != nvinfer1::PoolingType::kAVERAGE) {
        return fail("unsupported pooling type");
    }
    if (op.dilation.nbDims != 0) {
        return fail("pooling takes no dilation");
    }
    return in.nbDims >= 3 && inferWindowed(op, in, false, in.d[1], out, fail);
}

bool inferConcatenation(const GraphOp& op, const std::vector<Dims>& ins, Dims& out,
                        const Failure& fail) {
    const int32_t rank = ins[0].nbDims;
    const int32_t axis = op.axis < 0 ? ShapeInference::defaultAxis(rank) : op.axis;
    if (axis >= rank) {
        return fail("axis " + std::to_string(axis) + " outside a tensor of rank " +
                    std::to_string(rank));
    }
    out = ins[0];
    for (std::size_t k = 1; k < ins.size(); ++k) {
        if (ins[k].nbDims != rank) {
            return fail("inputs of different rank");
        }
        for (int32_t i = 0; i < rank; ++i) {
            if (i != axis && ins[k].d[i] != ins[0].d[i]) {
                return fail("inputs of unequal sizes " + dimsText(ins[0]) + " and " +
                            dimsText(ins[k]) + " off the concatenation axis");
            }
        }
        out.d[axis] += ins[k].d[axis];
    }
    return true;
}

bool inferElementWise(const GraphOp& op, const std::vector<Dims>& ins, Dims& out,
                      const Failure& fail) {
    using nvinfer1::ElementWiseOperation;
    const ElementWiseOperation kind = op.elementwise;
    if (kind != ElementWiseOperation::kSUM && kind != ElementWiseOperation::kPROD &&
        kind != ElementWiseOperation::kMAX && kind != ElementWiseOperation::kMIN &&
        kind != ElementWiseOperation::kSUB && kind != ElementWiseOperation::kDIV) {
        return fail("unsupported element-wise operation");
    }
    if (ins[0].nbDims != ins[1].nbDims) {
        return fail("inputs of different rank " + dimsText(ins[0]) + " and " + dimsText(ins[1]));
    }
    out = ins[0];
    for (int32_t i = 0; i < out.nbDims; ++i) {
        const int32_t a = ins[0].d[i], b = ins[1].d[i];
        if (a != b && a != 1 && b != 1) {
            return fail("inputs cannot broadcast: " + dimsText(ins[0]) + " and " +
                        dimsText(ins[1]));
        }
        out.d[i] = std::max(a, b);
    }
    auto same = [&out](const Dims& d) { return std::equal(d.d, d.d + d.nbDims, out.d); };
    const bool commutative =
        kind != ElementWiseOperation::kSUB && kind != ElementWiseOperation::kDIV;
    if (!same(ins[0]) && !(same(ins[1]) && commutative)) {
        return fail("only the second input may broadcast for this operation");
    }
    return true;
}

bool inferSoftMax(const GraphOp& op, const Dims& in, Dims& out, const Failure& fail) {
    if (op.axes != 0 && ((op.axes & (op.axes - 1)) != 0 || op.axes >= (1U << in.nbDims))) {
        return fail("softmax needs exactly one axis inside the tensor");
    }
    out = in;
    return true;
}

bool inferResize(const GraphOp& op, const Dims& in, Dims& out, const Failure& fail) {
    if (op.resize_mode != nvinfer1::InterpolationMode::kNEAREST) {
        return fail("only nearest resize is supported");
    }
    out = in;
    if (!op.scales.empty()) {
        if (static_cast<int32_t>(op.scales.size()) != in.nbDims) {
            return fail("resize needs one scale per axis");
        }
        for (int32_t i = 0; i < in.nbDims; ++i) {
            const double extent = std::floor(static_cast<double>(in.d[i]) * op.scales[i]);
            if (!(op.scales[i] > 0.0F) || !(extent >= 1.0) ||
                extent >= static_cast<double>(ShapeInference::kMaxElements)) {
                return fail("resize scale gives an empty or oversized axis");
            }
            out.d[i] = static_cast<int32_t>(extent);
        }
    } else if (op.resize_dims.nbDims == in.nbDims) {
        out = op.resize_dims;
    } else {
        return fail("resize needs scales or output dimensions of the input's rank");
    }
    return true;
}

bool inferShuffle(const GraphOp& op, const Dims& in, Dims& out, const Failure& fail) {
    out = in;
    if (op.has_transpose) {
        std::vector<bool> seen(in.nbDims, false);
        for (int32_t i = 0; i < in.nbDims; ++i) {
            const int32_t axis = op.transpose.order[i];
            if (axis < 0 || axis >= in.nbDims || seen[axis]) {
                return fail("transpose is not a permutation of the input's axes");
            }
            seen[axis] = true;
            out.d[i] = in.d[axis];
        }
    }
    if (!op.has_reshape) {
        return true;
    }
    const Dims transposed = out;
    out = op.reshape;
    int32_t infer_at = -1;
    int64_t known = 1;
    for (int32_t i = 0; i < out.nbDims; ++i) {
        if (out.d[i] == 0 && i < transposed.nbDims) {
            out.d[i] = transposed.d[i];
        } else if (out.d[i] == -1 && infer_at < 0) {
            infer_at = i;
            continue;
        }
        if (out.d[i] < 1) {
            return fail("invalid reshape dimensions " + dimsText(op.reshape));
        }
        known *= out.d[i];
    }
    const int64_t total = ShapeInference::volume(transposed);
    if (infer_at >= 0 && known > 0 && total % known == 0) {
        out.d[infer_at] = static_cast<int32_t>(total / known);
    }
    if (out.nbDims < 1 || ShapeInference::volume(out) != total) {
        return fail("reshape " + dimsText(op.reshape) + " does not keep the element count of " +
                    dimsText(transposed));
    }
    return true;
}

std::size_t expectedInputs(OpKind kind) {
    switch (kind) {
        case OpKind::kConcatenation:
            return 0;  // one or more
        case OpKind::kElementWise:
            return 2;
        default:
            return 1;
    }
}

bool inferOne(Graph& graph, const GraphOp& op, const std::vector<bool>& defined,
              std::string& error) {
    const Failure fail{error, op};
    const std::size_t wanted = expectedInputs(op.kind);
    if (op.inputs.empty() || (wanted != 0 && op.inputs.size() != wanted) ||
        op.outputs.size() != 1) {
        return fail("wrong number of inputs or outputs");
    }
    const int32_t produced = op.outputs[0];
    if (produced < 0 || static_cast<std::size_t>(produced) >= graph.tensors.size() ||
        defined[produced]) {
        return fail("output tensor is invalid or produced twice");
    }
    std::vector<Dims> ins;
    for (int32_t index : op.inputs) {
        if (index < 0 || static_cast<std::size_t>(index) >= graph.tensors.size() ||
            !defined[index]) {
            return fail("input tensor is not produced by an earlier layer or a network input");
        }
        ins.push_back(graph.tensors[index].dims);
    }
    Dims out{};
    bool ok = false;
    switch (op.kind) {
        case OpKind::kConvolution:
        case OpKind::kDeconvolution:
            ok = inferConvolution(op, ins[0], out, fail);
            break;
        case OpKind::kActivation:
            ok = inferActivation(op, ins[0], out, fail);
            break;
        case OpKind::kPooling:
            ok = inferPooling(op, ins[0], out, fail);
            break;
        case OpKind::kConcatenation:
            ok = inferConcatenation(op, ins, out, fail);
            break;
        case OpKind::kElementWise:
            ok = inferElementWise(op, ins, out, fail);
            break;
        case OpKind::kSoftMax:
            ok = inferSoftMax(op, ins[0], out, fail);
            break;
        case OpKind::kResize:
            ok = inferResize(op, ins[0], out, fail);
            break;
        case OpKind::kShuffle:
            ok = inferShuffle(op, ins[0], out, fail);
            break;
        default:
            return fail("unknown layer kind");
    }
    if (!ok) {
        return false;
    }
    if (!validShape(out)) {
        return fail("output shape " + dimsText(out) + " is empty or too large");
    }
    graph.tensors[op.outputs[0]].dims = out;
    return true;
}

bool markDefined(const Graph& graph, std::vector<bool>& defined, std::string& error) {
    for (int32_t index : graph.inputs) {
        if (index < 0 || static_cast<std::size_t>(index) >= graph.tensors.size() ||
            defined[index]) {
            error = "invalid network input";
            return false;
        }
        if (!validShape(graph.tensors[index].dims)) {
            error = "network input " + graph.tensors[index].name + " has invalid dimensions";
            return false;
        }
        defined[index] = true;
    }
    return true;
}

bool checkBinding(const GraphTensor& tensor, std::string& error) {
    const DataType type = tensor.type;
    if (type != DataType::kFLOAT && type != DataType::kHALF && type != DataType::kINT8) {
        error =
            "tensor " + tensor.name + ": network inputs and outputs must be float, half or int8";
        return false;
    }
    if (type == DataType::kINT8 &&
        !(tensor.has_range && std::max(-tensor.range_min, tensor.range_max) > 0.0F &&
          std::isfinite(tensor.range_min) && std::isfinite(tensor.range_max))) {
        // Worded as TensorRT reports a missing scale (its error code 4, invalid configuration).
        error = "Error Code 4: Internal Error (tensor " + tensor.name +
                ": an INT8 network input or output needs a dynamic range; none is set or it "
                "is not usable)";
        return false;
    }
    if ((tensor.allowed_formats & kLinearFormatsMask) == 0) {
        error = "tensor " + tensor.name + ": only linear formats are supported";
        return false;
    }
    if (tensor.name.empty()) {
        error = "network inputs and outputs need names";
        return false;
    }
    return true;
}

}  // namespace

int32_t ShapeInference::defaultAxis(int32_t nb_dims) {
    return nb_dims >= 3 ? nb_dims - 3 : 0;
}

int64_t ShapeInference::volume(const Dims& dims) {
    int64_t count = 1;
    for (int32_t i = 0; i < dims.nbDims && i < Dims::MAX_DIMS; ++i) {
        count *= dims.d[i];
        if (count >= kMaxElements || count < 0) {
            return kMaxElements;
        }
    }
    return count;
}

bool ShapeInference::inferOps(Graph& graph, std::size_t op_count, std::string& error) {
    std::vector<bool> defined(graph.tensors.size(), false);
    if (!markDefined(graph, defined, error)) {
        return false;
    }
    for (std::size_t i = 0; i < op_count && i < graph.ops.size(); ++i) {
        const GraphOp& op = graph.ops[i];
        if (!inferOne(graph, op, defined, error)) {
            return false;
        }
        defined[op.outputs[0]] = true;
    }
    return true;
}

bool ShapeInference::check(Graph& graph, std::string& error) {
    if (graph.outputs.empty()) {
        error = "network has no outputs";
        return false;
    }
    for (const GraphOp& op : graph.ops) {
        for (const int64_t count : {kernelCount(op), biasCount(op)}) {
            if (count >= kMaxElements) {
                error = "layer " + op.name + ": weights too large";
                return false;
            }
        }
    }
    if (!inferOps(graph, graph.ops.size(), error)) {
        return false;
    }
    std::set<int32_t> produced(graph.inputs.begin(), graph.inputs.end());
    for (const GraphOp& op : graph.ops) {
        produced.insert(op.outputs[0]);
    }
    std::set<std::string> names;
    std::vector<int32_t> bindings = graph.inputs;
    bindings.insert(bindings.end(), graph.outputs.begin(), graph.outputs.end());
    for (int32_t index : bindings) {
        if (produced.count(index) == 0) {
            error = "network output is not produced by any layer";
            return false;
        }
        const GraphTensor& tensor = graph.tensors[index];
        if (!checkBinding(tensor, error)) {
            return false;
        }
        if (!names.insert(tensor.name).second) {
            error = "tensor name " + tensor.name + " is used by two network inputs or outputs";
            return false;
        }
    }
    return true;
}

}  // namespace trt_host
