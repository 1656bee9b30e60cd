// GraphPlanner: deconvolutions that only upsample (kernel == stride) as a 1x1 convolution and a
// depth-to-space copy. oneDNN runs general deconvolutions as strided backward convolutions,
// several times slower than this for the 2x2 stride-2 layers of the denoiser.
#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/tensorrt/src/channel_blocks.h"
#include "platform/tensorrt/src/dnnl_dims.h"
#include "platform/tensorrt/src/graph_planner.h"
#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {
namespace {

using dnnl::memory;
using nvinfer1::Dims;

bool allEqual(const Dims& param, int32_t count, int32_t value) {
    for (int32_t i = 0; i < param.nbDims && i < count; ++i) {
        if (param.d[i] != value) {
            return false;
        }
    }
    return true;
}

// Planning-time view of an expanding copy: the sources and the layout of what they fill.
struct ExpandPlan {
    std::vector<ExpandSource> sources;
    ChannelBlocks out;
    int64_t images, channels;
};

std::function<void()> expandStep(const ExecutionPlan* plan, ExpandPlan expand, int32_t out) {
    return [plan, expand, out] {
        std::vector<const float*> data;
        for (const ExpandSource& source : expand.sources) {
            data.push_back(
                static_cast<const float*>(plan->buffers[source.buffer].memory.get_data_handle()));
        }
        expandIntoChannels(expand.sources, data,
                           static_cast<float*>(plan->buffers[out].memory.get_data_handle()),
                           expand.out, expand.images, expand.channels);
    };
}

}  // namespace

bool GraphPlanner::isUpsampling(const GraphOp& op) const {
    const Dims& in = graph_.tensors[op.inputs[0]].dims;
    if (op.kind != OpKind::kDeconvolution || in.nbDims != 4 || op.groups != 1 ||
        !allEqual(op.pre_padding, 2, 0) || !allEqual(op.post_padding, 2, 0) ||
        !allEqual(op.dilation, 2, 1)) {
        return false;
    }
    const int32_t sh = op.stride.nbDims == 0 ? 1 : op.stride.d[0];
    const int32_t sw = op.stride.nbDims == 0 ? 1 : op.stride.d[1];
    return op.kernel.d[0] == sh && op.kernel.d[1] == sw;
}

void GraphPlanner::planUpsampling(const GraphOp& op, const GraphOp* activation) {
    const Dims& in = graph_.tensors[op.inputs[0]].dims;
    const int64_t n = in.d[0], ic = in.d[1], h = in.d[2], w = in.d[3];
    const int64_t maps = op.out_maps, kh = op.kernel.d[0], kw = op.kernel.d[1], taps = kh * kw;
    // 1x1 kernel with output channel (tap, map): taps-major so that one pixel's maps for one tap
    // are contiguous in a channel-last result.
    std::vector<float> kernel(static_cast<std::size_t>(taps * maps * ic));
    std::vector<float> bias(op.bias.empty() ? 0 : static_cast<std::size_t>(taps * maps));
    for (int64_t t = 0; t < taps; ++t) {
        for (int64_t m = 0; m < maps; ++m) {
            for (int64_t c = 0; c < ic; ++c) {
                kernel[static_cast<std::size_t>((t * maps + m) * ic + c)] =
                    op.weights[static_cast<std::size_t>((c * maps + m) * taps + t)];
            }
            if (!bias.empty()) {
                bias[static_cast<std::size_t>(t * maps + m)] = op.bias[static_cast<std::size_t>(m)];
            }
        }
    }
    const memory::dims wdims{taps * maps, ic, 1, 1};
    const memory::desc bmd({taps * maps}, memory::data_type::f32, memory::format_tag::a);
    const memory::desc src_any({n, ic, h, w}, memory::data_type::f32, memory::format_tag::any);
    const memory::desc w_any(wdims, memory::data_type::f32, memory::format_tag::any);
    const auto kind = dnnl::prop_kind::forward_inference;
    const auto alg = dnnl::algorithm::convolution_direct;
    const memory::dims ones{1, 1}, zeros{0, 0};
    auto primitiveFor = [&](memory::format_tag mid_tag) {
        const memory::desc mid_md({n, taps * maps, h, w}, memory::data_type::f32, mid_tag);
        const auto desc = bias.empty()
                              ? dnnl::convolution_forward::desc(kind, alg, src_any, w_any, mid_md,
                                                                ones, zeros, zeros)
                              : dnnl::convolution_forward::desc(kind, alg, src_any, w_any, bmd,
                                                                mid_md, ones, zeros, zeros);
        return dnnl::convolution_forward::primitive_desc(desc, activationAttr(activation), engine_);
    };
    // The kernels' own result layout: a forced channel-last one leaves CPUs without AVX-512 on
    // oneDNN's reference convolution. Channel-last remains for layouts the copy cannot read.
    dnnl::convolution_forward::primitive_desc pd = primitiveFor(memory::format_tag::any);
    if (!ChannelBlocks::of(pd.dst_desc())) {
        pd = primitiveFor(memory::format_tag::acdb);
    }
    PlanStep conv;
    conv.primitive = dnnl::convolution_forward(pd);
    const memory::desc user_w(wdims, memory::data_type::f32, memory::format_tag::abcd);
    conv.args = {{DNNL_ARG_SRC, ensureLayout(op.inputs[0], pd.src_desc())},
                 {DNNL_ARG_WEIGHTS, ownedWeights(user_w, kernel.data(), pd.weights_desc())}};
    if (!bias.empty()) {
        const int32_t id = addBuffer(bmd, BufferHome::kOwned);
        std::memcpy(plan_.buffers[id].memory.get_data_handle(), bias.data(),
                    bias.size() * sizeof(float));
        conv.args[DNNL_ARG_BIAS] = id;
    }
    const int32_t mid = addBuffer(pd.dst_desc(), BufferHome::kArena);
    conv.args[DNNL_ARG_DST] = mid;
    addStep(std::move(conv));

    const int32_t final_tensor = activation != nullptr ? activation->outputs[0] : op.outputs[0];
    if (readOnlyByChannelConcat(final_tensor)) {
        pending_upsamples_[final_tensor] = {mid, kh, kw, maps};
        return;
    }
    const ChannelBlocks mid_layout = *ChannelBlocks::of(pd.dst_desc());
    const memory::desc out_md = mid_layout.descFor({n, maps, h * kh, w * kw});
    const int32_t out = addBuffer(out_md, BufferHome::kArena);
    PlanStep shuffle;
    shuffle.custom = expandStep(
        &plan_, {{{mid, mid_layout, 0, maps, kh, kw}}, *ChannelBlocks::of(out_md), n, maps}, out);
    shuffle.custom_uses = {mid, out};
    addStep(std::move(shuffle));
    tensor_buffers_[op.outputs[0]].push_back(out);
}

bool GraphPlanner::readOnlyByChannelConcat(int32_t tensor) const {
    if (std::find(graph_.outputs.begin(), graph_.outputs.end(), tensor) != graph_.outputs.end()) {
        return false;
    }
    const GraphOp* reader = nullptr;
    for (const GraphOp& op : graph_.ops) {
        const auto uses = std::count(op.inputs.begin(), op.inputs.end(), tensor);
        if (uses > 1 || (uses == 1 && reader != nullptr)) {
            return false;
        }
        reader = uses == 1 ? &op : reader;
    }
    return reader != nullptr && reader->kind == OpKind::kConcatenation &&
           graph_.tensors[tensor].dims.nbDims == 4 &&
           (reader->axis < 0 ? ShapeInference::defaultAxis(4) : reader->axis) == 1;
}

// One image in channel blocks holds the channels of each whole block apart from the others, so
// a tensor already in the output's blocks (same extents, whole blocks, starting on a block) can
// be produced straight into its place: its buffer becomes a view of the output's bytes.
bool GraphPlanner::placeInside(int32_t tensor, int32_t out, int64_t first_channel) {
    PlanBuffer& buffer = plan_.buffers[primary(tensor)];
    const memory::desc whole = plan_.buffers[out].memory.get_desc();
    const std::optional<ChannelBlocks> outer = ChannelBlocks::of(whole);
    const std::optional<ChannelBlocks> inner = ChannelBlocks::of(buffer.memory.get_desc());
    const bool is_output =
        std::find(graph_.outputs.begin(), graph_.outputs.end(), tensor) != graph_.outputs.end();
    if (buffer.home != BufferHome::kArena || buffer.alias_of >= 0 || is_output || !outer ||
        !inner || whole.dims()[0] != 1 || outer->block == whole.dims()[1] ||
        inner->tag != outer->tag || first_channel % outer->block != 0 ||
        buffer.memory.get_desc().dims()[1] % outer->block != 0) {
        return false;
    }
    buffer.alias_of = out;
    buffer.alias_offset =
        static_cast<std::size_t>(outer->offset(0, first_channel, 0, 0)) * sizeof(float);
    return true;
}

void GraphPlanner::planExpandingConcat(const GraphOp& op) {
    const Dims& out_dims = graph_.tensors[op.outputs[0]].dims;
    // The output takes the layout of the first upsampling's convolution result: the channel
    // blocks the convolution kernels of this CPU work in, and so what the next layer reads.
    std::optional<ChannelBlocks> layout;
    for (int32_t tensor : op.inputs) {
        const auto pending = pending_upsamples_.find(tensor);
        if (pending != pending_upsamples_.end() && !layout) {
            layout = ChannelBlocks::of(plan_.buffers[pending->second.mid].memory.get_desc());
        }
    }
    const memory::desc out_md = layout->descFor(toDnnl(out_dims));
    ExpandPlan expand{{}, *ChannelBlocks::of(out_md), out_dims.d[0], out_dims.d[1]};
    const int32_t out = addBuffer(out_md, BufferHome::kArena);
    PlanStep step;
    int64_t first = 0;
    for (int32_t tensor : op.inputs) {
        const Dims& dims = graph_.tensors[tensor].dims;
        const auto pending = pending_upsamples_.find(tensor);
        if (pending != pending_upsamples_.end()) {
            const int32_t mid = pending->second.mid;
            const ChannelBlocks source = *ChannelBlocks::of(plan_.buffers[mid].memory.get_desc());
            expand.sources.push_back(
                {mid, source, first, dims.d[1], pending->second.kh, pending->second.kw});
            step.custom_uses.push_back(mid);
        } else if (!placeInside(tensor, out, first)) {
            const int32_t buffer = ensureLayout(tensor, layout->descFor(toDnnl(dims)));
            const ChannelBlocks source =
                *ChannelBlocks::of(plan_.buffers[buffer].memory.get_desc());
            expand.sources.push_back({buffer, source, first, dims.d[1], 1, 1});
            step.custom_uses.push_back(buffer);
        }
        first += dims.d[1];
    }
    step.custom_uses.push_back(out);
    step.custom = expandStep(&plan_, std::move(expand), out);
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(out);
}

}  // namespace trt_host
