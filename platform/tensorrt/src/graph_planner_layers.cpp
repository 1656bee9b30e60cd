// GraphPlanner: the primitives of each layer kind.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "platform/tensorrt/src/dnnl_dims.h"
#include "platform/tensorrt/src/graph_planner.h"
#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {
namespace {

using dnnl::memory;
using nvinfer1::Dims;

memory::desc anyDesc(const Dims& dims) {
    return memory::desc(toDnnl(dims), memory::data_type::f32, memory::format_tag::any);
}

dnnl::algorithm eltwiseAlgorithm(const GraphOp& act, float& alpha, float& beta) {
    using nvinfer1::ActivationType;
    alpha = 0.0F;
    beta = 0.0F;
    switch (act.activation) {
        case ActivationType::kRELU:
            return dnnl::algorithm::eltwise_relu;
        case ActivationType::kLEAKY_RELU:
            alpha = act.alpha;
            return dnnl::algorithm::eltwise_relu;
        case ActivationType::kSIGMOID:
            return dnnl::algorithm::eltwise_logistic;
        case ActivationType::kTANH:
            return dnnl::algorithm::eltwise_tanh;
        case ActivationType::kELU:
            alpha = act.alpha;
            return dnnl::algorithm::eltwise_elu;
        case ActivationType::kCLIP:
            alpha = act.alpha;
            beta = act.beta;
            return dnnl::algorithm::eltwise_clip;
        default:
            throw std::runtime_error("unsupported activation in layer " + act.name);
    }
}

dnnl::algorithm binaryAlgorithm(nvinfer1::ElementWiseOperation op) {
    using nvinfer1::ElementWiseOperation;
    switch (op) {
        case ElementWiseOperation::kSUM:
            return dnnl::algorithm::binary_add;
        case ElementWiseOperation::kPROD:
            return dnnl::algorithm::binary_mul;
        case ElementWiseOperation::kMAX:
            return dnnl::algorithm::binary_max;
        case ElementWiseOperation::kMIN:
            return dnnl::algorithm::binary_min;
        case ElementWiseOperation::kSUB:
            return dnnl::algorithm::binary_sub;
        case ElementWiseOperation::kDIV:
            return dnnl::algorithm::binary_div;
        default:
            throw std::runtime_error("unsupported element-wise operation");
    }
}

bool sameDims(const Dims& a, const Dims& b) {
    return a.nbDims == b.nbDims && std::equal(a.d, a.d + a.nbDims, b.d);
}

float* data(const ExecutionPlan& plan, int32_t buffer) {
    return static_cast<float*>(plan.buffers[buffer].memory.get_data_handle());
}

// Source index along one axis of a nearest resize: floor(out / scale), kept inside the input.
std::vector<int64_t> nearestIndices(int64_t in_extent, int64_t out_extent,
                                    const std::vector<float>& scales, int axis) {
    std::vector<int64_t> table(out_extent);
    for (int64_t o = 0; o < out_extent; ++o) {
        const int64_t source =
            scales.empty()
                ? (o * in_extent) / out_extent
                : static_cast<int64_t>(std::floor(static_cast<double>(o) / scales[axis]));
        table[o] = std::min(std::max<int64_t>(source, 0), in_extent - 1);
    }
    return table;
}

}  // namespace

dnnl::primitive_attr GraphPlanner::runAttr() {
    dnnl::primitive_attr attr;
    attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
    return attr;
}

dnnl::primitive_attr GraphPlanner::activationAttr(const GraphOp* activation) {
    dnnl::primitive_attr attr = runAttr();
    if (activation != nullptr) {
        float alpha = 0.0F, beta = 0.0F;
        const dnnl::algorithm alg = eltwiseAlgorithm(*activation, alpha, beta);
        dnnl::post_ops ops;
        ops.append_eltwise(1.0F, alg, alpha, beta);
        attr.set_post_ops(ops);
    }
    return attr;
}

void GraphPlanner::planConvolution(const GraphOp& op, const GraphOp* activation) {
    if (isUpsampling(op)) {
        planUpsampling(op, activation);
        return;
    }
    if (planInt8Convolution(op, activation)) {
        return;
    }
    const int32_t in = op.inputs[0], out = op.outputs[0];
    const Dims& in_dims = graph_.tensors[in].dims;
    const Dims& out_dims = graph_.tensors[out].dims;
    const int32_t n = in_dims.nbDims - 2;
    const memory::dims strides = spatial(op.stride, n, 1),
                       dilation = spatial(op.dilation, n, 1, -1);
    const memory::dims pad_l = spatial(op.pre_padding, n, 0),
                       pad_r = spatial(op.post_padding, n, 0);
    const int64_t groups = op.groups;
    memory::dims wdims = groups > 1
                             ? memory::dims{groups, op.out_maps / groups, in_dims.d[1] / groups}
                             : memory::dims{op.out_maps, in_dims.d[1]};
    const memory::dims kernel = toDnnl(op.kernel);
    wdims.insert(wdims.end(), kernel.begin(), kernel.end());
    const memory::desc wmd(wdims, memory::data_type::f32, memory::format_tag::any);
    const memory::desc bmd({op.out_maps}, memory::data_type::f32, memory::format_tag::a);
    const memory::desc dst_md = anyDesc(out_dims);
    const dnnl::primitive_attr attr = activationAttr(activation);
    const bool has_bias = !op.bias.empty();
    const auto kind = dnnl::prop_kind::forward_inference;
    memory::desc src_md, weights_md, out_md;
    PlanStep step;
    if (op.kind == OpKind::kConvolution) {
        const auto alg = dnnl::algorithm::convolution_direct;
        const auto desc =
            has_bias ? dnnl::convolution_forward::desc(kind, alg, anyDesc(in_dims), wmd, bmd,
                                                       dst_md, strides, dilation, pad_l, pad_r)
                     : dnnl::convolution_forward::desc(kind, alg, anyDesc(in_dims), wmd, dst_md,
                                                       strides, dilation, pad_l, pad_r);
        const dnnl::convolution_forward::primitive_desc pd(desc, attr, engine_);
        src_md = pd.src_desc();
        weights_md = pd.weights_desc();
        out_md = pd.dst_desc();
        step.primitive = dnnl::convolution_forward(pd);
    } else {
        const auto alg = dnnl::algorithm::deconvolution_direct;
        const auto desc =
            has_bias ? dnnl::deconvolution_forward::desc(kind, alg, anyDesc(in_dims), wmd, bmd,
                                                         dst_md, strides, dilation, pad_l, pad_r)
                     : dnnl::deconvolution_forward::desc(kind, alg, anyDesc(in_dims), wmd, dst_md,
                                                         strides, dilation, pad_l, pad_r);
        const dnnl::deconvolution_forward::primitive_desc pd(desc, attr, engine_);
        src_md = pd.src_desc();
        weights_md = pd.weights_desc();
        out_md = pd.dst_desc();
        step.primitive = dnnl::deconvolution_forward(pd);
    }
    const int32_t weights = prepareWeights(op, weights_md);
    step.args = {{DNNL_ARG_SRC, ensureLayout(in, src_md)}, {DNNL_ARG_WEIGHTS, weights}};
    if (has_bias) {
        const int32_t bias = addBuffer(bmd, BufferHome::kOwned);
        std::memcpy(plan_.buffers[bias].memory.get_data_handle(), op.bias.data(),
                    op.bias.size() * sizeof(float));
        step.args[DNNL_ARG_BIAS] = bias;
    }
    const int32_t dst = addBuffer(out_md, BufferHome::kArena);
    step.args[DNNL_ARG_DST] = dst;
    addStep(std::move(step));
    tensor_buffers_[out].push_back(dst);
}

void GraphPlanner::planActivation(const GraphOp& op) {
    const int32_t src = primary(op.inputs[0]);
    const memory::desc md = plan_.buffers[src].memory.get_desc();
    float alpha = 0.0F, beta = 0.0F;
    const dnnl::algorithm alg = eltwiseAlgorithm(op, alpha, beta);
    const dnnl::eltwise_forward::desc desc(dnnl::prop_kind::forward_inference, alg, md, alpha,
                                           beta);
    PlanStep step;
    step.primitive =
        dnnl::eltwise_forward(dnnl::eltwise_forward::primitive_desc(desc, runAttr(), engine_));
    const int32_t dst = addBuffer(md, BufferHome::kArena);
    step.args = {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

void GraphPlanner::planPooling(const GraphOp& op) {
    const int32_t src = primary(op.inputs[0]);
    const Dims& in_dims = graph_.tensors[op.inputs[0]].dims;
    const int32_t n = in_dims.nbDims - 2;
    const memory::dims kernel = toDnnl(op.kernel);
    const memory::dims strides = op.stride.nbDims == 0 ? kernel : spatial(op.stride, n, 1);
    const memory::dims pad_l = spatial(op.pre_padding, n, 0),
                       pad_r = spatial(op.post_padding, n, 0);
    dnnl::algorithm alg = dnnl::algorithm::pooling_max;
    if (op.pooling == nvinfer1::PoolingType::kAVERAGE) {
        alg = op.exclude_padding ? dnnl::algorithm::pooling_avg_exclude_padding
                                 : dnnl::algorithm::pooling_avg_include_padding;
    }
    const dnnl::pooling_forward::desc desc(
        dnnl::prop_kind::forward_inference, alg, plan_.buffers[src].memory.get_desc(),
        anyDesc(graph_.tensors[op.outputs[0]].dims), strides, kernel, pad_l, pad_r);
    const dnnl::pooling_forward::primitive_desc pd(desc, runAttr(), engine_);
    PlanStep step;
    step.primitive = dnnl::pooling_forward(pd);
    const int32_t dst = addBuffer(pd.dst_desc(), BufferHome::kArena);
    step.args = {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
    if (pd.workspace_desc().get_size() != 0) {
        step.args[DNNL_ARG_WORKSPACE] = addBuffer(pd.workspace_desc(), BufferHome::kArena);
    }
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

void GraphPlanner::planConcatenation(const GraphOp& op) {
    for (int32_t tensor : op.inputs) {
        if (pending_upsamples_.count(tensor) != 0) {
            planExpandingConcat(op);
            return;
        }
    }
    const Dims& first = graph_.tensors[op.inputs[0]].dims;
    const int32_t axis = op.axis < 0 ? ShapeInference::defaultAxis(first.nbDims) : op.axis;
    // Inputs in one common layout let oneDNN copy whole blocks instead of element by element.
    const memory::format_tag tag = commonLayout(op.inputs);
    std::vector<memory::desc> sources;
    PlanStep step;
    for (std::size_t k = 0; k < op.inputs.size(); ++k) {
        const int32_t tensor = op.inputs[k];
        const int32_t src =
            tag == memory::format_tag::undef
                ? primary(tensor)
                : ensureLayout(tensor, memory::desc(toDnnl(graph_.tensors[tensor].dims),
                                                    memory::data_type::f32, tag));
        sources.push_back(plan_.buffers[src].memory.get_desc());
        step.args[DNNL_ARG_MULTIPLE_SRC + static_cast<int>(k)] = src;
    }
    const Dims& out_dims = graph_.tensors[op.outputs[0]].dims;
    const dnnl::concat::primitive_desc pd =
        tag == memory::format_tag::undef
            ? dnnl::concat::primitive_desc(axis, sources, engine_, runAttr())
            : dnnl::concat::primitive_desc(
                  memory::desc(toDnnl(out_dims), memory::data_type::f32, tag), axis, sources,
                  engine_, runAttr());
    step.primitive = dnnl::concat(pd);
    const int32_t dst = addBuffer(pd.dst_desc(), BufferHome::kArena);
    step.args[DNNL_ARG_DST] = dst;
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

memory::format_tag GraphPlanner::commonLayout(const std::vector<int32_t>& tensors) const {
    using tag = memory::format_tag;
    const int rank = graph_.tensors[tensors[0]].dims.nbDims;
    std::vector<tag> candidates;
    if (rank == 3) candidates = {tag::acb, tag::abc, tag::aBc16b, tag::aBc8b};
    if (rank == 4) candidates = {tag::acdb, tag::abcd, tag::aBcd16b, tag::aBcd8b};
    if (rank == 5) candidates = {tag::acdeb, tag::abcde, tag::aBcde16b, tag::aBcde8b};
    // Channel-last is preferred: the convolutions that read it need no reorder.
    for (const tag candidate : candidates) {
        for (int32_t tensor : tensors) {
            const memory::desc md(toDnnl(graph_.tensors[tensor].dims), memory::data_type::f32,
                                  candidate);
            if (plan_.buffers[primary(tensor)].memory.get_desc() == md) {
                return candidate;
            }
        }
    }
    return tag::undef;
}

void GraphPlanner::planElementWise(const GraphOp& op) {
    int32_t a = op.inputs[0], b = op.inputs[1];
    const Dims& out_dims = graph_.tensors[op.outputs[0]].dims;
    if (!sameDims(graph_.tensors[a].dims, out_dims)) {
        std::swap(
            a, b);  // only commutative operations pass the shape check with a broadcast first input
    }
    int32_t src0 = primary(a), src1 = -1;
    if (sameDims(graph_.tensors[b].dims, out_dims)) {
        src1 = ensureLayout(b, plan_.buffers[src0].memory.get_desc());
    } else {
        src0 = ensureLayout(a, plainDesc(out_dims));
        src1 = ensureLayout(b, plainDesc(graph_.tensors[b].dims));
    }
    const memory::desc md0 = plan_.buffers[src0].memory.get_desc();
    const dnnl::binary::desc desc(binaryAlgorithm(op.elementwise), md0,
                                  plan_.buffers[src1].memory.get_desc(), md0);
    PlanStep step;
    step.primitive = dnnl::binary(dnnl::binary::primitive_desc(desc, runAttr(), engine_));
    const int32_t dst = addBuffer(md0, BufferHome::kArena);
    step.args = {{DNNL_ARG_SRC_0, src0}, {DNNL_ARG_SRC_1, src1}, {DNNL_ARG_DST, dst}};
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

void GraphPlanner::planSoftMax(const GraphOp& op) {
    const Dims& dims = graph_.tensors[op.inputs[0]].dims;
    int axis = ShapeInference::defaultAxis(dims.nbDims);
    if (op.axes != 0) {
        axis = 0;
        while ((op.axes >> axis) != 1U) {
            ++axis;
        }
    }
    const memory::desc md = plainDesc(dims);
    const int32_t src = ensureLayout(op.inputs[0], md);
    const dnnl::softmax_forward::desc desc(dnnl::prop_kind::forward_inference, md, axis);
    PlanStep step;
    step.primitive =
        dnnl::softmax_forward(dnnl::softmax_forward::primitive_desc(desc, runAttr(), engine_));
    const int32_t dst = addBuffer(md, BufferHome::kArena);
    step.args = {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

void GraphPlanner::planResize(const GraphOp& op) {
    const Dims& in_dims = graph_.tensors[op.inputs[0]].dims;
    const Dims& out_dims = graph_.tensors[op.outputs[0]].dims;
    const int32_t src = ensureLayout(op.inputs[0], plainDesc(in_dims));
    const int32_t dst = addBuffer(plainDesc(out_dims), BufferHome::kArena);
    const int rank = out_dims.nbDims;
    std::vector<std::vector<int64_t>> tables;
    std::vector<int64_t> in_strides(rank, 1);
    for (int i = rank - 1; i >= 0; --i) {
        tables.push_back(nearestIndices(in_dims.d[i], out_dims.d[i], op.scales, i));
        in_strides[i] = i == rank - 1 ? 1 : in_strides[i + 1] * in_dims.d[i + 1];
    }
    std::reverse(tables.begin(), tables.end());
    const ExecutionPlan* plan = &plan_;
    PlanStep step;
    step.custom = [plan, src, dst, tables, in_strides, rank] {
        const float* from = data(*plan, src);
        float* to = data(*plan, dst);
        const std::vector<int64_t>& inner = tables[rank - 1];
        std::vector<int64_t> coord(rank, 0);
        for (;;) {
            int64_t base = 0;
            for (int i = 0; i + 1 < rank; ++i) {
                base += tables[i][coord[i]] * in_strides[i];
            }
            for (int64_t x : inner) {
                *to++ = from[base + x];
            }
            int axis = rank - 2;
            while (axis >= 0 && ++coord[axis] == static_cast<int64_t>(tables[axis].size())) {
                coord[axis--] = 0;
            }
            if (axis < 0) {
                return;
            }
        }
    };
    step.custom_uses = {src, dst};
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

void GraphPlanner::planShuffle(const GraphOp& op) {
    const Dims& in_dims = graph_.tensors[op.inputs[0]].dims;
    const memory::desc in_md = plainDesc(in_dims);
    const int32_t src = ensureLayout(op.inputs[0], in_md);
    Dims transposed = in_dims;
    memory::dims in_strides(in_dims.nbDims, 1);
    for (int32_t i = in_dims.nbDims - 2; i >= 0; --i) {
        in_strides[i] = in_strides[i + 1] * in_dims.d[i + 1];
    }
    memory::dims view_strides(in_dims.nbDims);
    for (int32_t i = 0; i < in_dims.nbDims; ++i) {
        const int32_t axis = op.has_transpose ? op.transpose.order[i] : i;
        transposed.d[i] = in_dims.d[axis];
        view_strides[i] = in_strides[axis];
    }
    const memory::desc view_md(toDnnl(transposed), memory::data_type::f32, view_strides);
    const int32_t view = addBuffer(view_md, BufferHome::kArena);
    plan_.buffers[view].alias_of = src;
    const int32_t dst =
        addBuffer(plainDesc(graph_.tensors[op.outputs[0]].dims), BufferHome::kArena);
    const int32_t dst_view = addBuffer(plainDesc(transposed), BufferHome::kArena);
    plan_.buffers[dst_view].alias_of = dst;
    PlanStep step;
    step.primitive = dnnl::reorder(
        dnnl::reorder::primitive_desc(engine_, view_md, engine_, plainDesc(transposed), runAttr()));
    step.args = {{DNNL_ARG_FROM, view}, {DNNL_ARG_TO, dst_view}};
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
}

}  // namespace trt_host
