// GraphPlanner: deconvolutions that only upsample (kernel == stride) as a 1x1 convolution and a
// depth-to-space copy. oneDNN runs general deconvolutions as strided backward convolutions,
// several times slower than this for the 2x2 stride-2 layers of the denoiser.
#include <algorithm>
#include <cstring>

#include "platform/tensorrt/src/graph_planner.h"
#include "platform/tensorrt/src/parallel_for.h"
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

struct UpsampleShape {
    int64_t n, h, w, kh, kw, maps;
};

// Copies the channel-last (tap, map) channels of each input pixel to its kh x kw output pixels.
std::function<void()> depthToSpace(const ExecutionPlan* plan, int32_t mid, int32_t out,
                                   UpsampleShape s) {
    return [plan, mid, out, s] {
        const auto* from = static_cast<const float*>(plan->buffers[mid].memory.get_data_handle());
        auto* to = static_cast<float*>(plan->buffers[out].memory.get_data_handle());
        const std::size_t run_bytes = static_cast<std::size_t>(s.kw * s.maps) * sizeof(float);
        TRT_HOST_PARALLEL_FOR
        for (int64_t row = 0; row < s.n * s.h; ++row) {
            for (int64_t ky = 0; ky < s.kh; ++ky) {
                float* line = to + ((row * s.kh + ky) * s.w * s.kw) * s.maps;
                for (int64_t x = 0; x < s.w; ++x) {
                    const float* pixel = from + ((row * s.w + x) * s.kh + ky) * s.kw * s.maps;
                    std::memcpy(line + x * s.kw * s.maps, pixel, run_bytes);
                }
            }
        }
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
    const memory::desc mid_md({n, taps * maps, h, w}, memory::data_type::f32,
                              memory::format_tag::acdb);
    const memory::desc src_any({n, ic, h, w}, memory::data_type::f32, memory::format_tag::any);
    const memory::desc w_any(wdims, memory::data_type::f32, memory::format_tag::any);
    const auto kind = dnnl::prop_kind::forward_inference;
    const auto alg = dnnl::algorithm::convolution_direct;
    const memory::dims ones{1, 1}, zeros{0, 0};
    const auto desc = bias.empty() ? dnnl::convolution_forward::desc(kind, alg, src_any, w_any,
                                                                     mid_md, ones, zeros, zeros)
                                   : dnnl::convolution_forward::desc(kind, alg, src_any, w_any, bmd,
                                                                     mid_md, ones, zeros, zeros);
    const dnnl::convolution_forward::primitive_desc pd(desc, activationAttr(activation), engine_);
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
    const int32_t mid = addBuffer(mid_md, BufferHome::kArena);
    conv.args[DNNL_ARG_DST] = mid;
    addStep(std::move(conv));

    const int32_t final_tensor = activation != nullptr ? activation->outputs[0] : op.outputs[0];
    if (readOnlyByChannelConcat(final_tensor)) {
        pending_upsamples_[final_tensor] = {mid, kh, kw, maps};
        return;
    }
    const memory::desc out_md({n, maps, h * kh, w * kw}, memory::data_type::f32,
                              memory::format_tag::acdb);
    const int32_t out = addBuffer(out_md, BufferHome::kArena);
    PlanStep shuffle;
    shuffle.custom = depthToSpace(&plan_, mid, out, {n, h, w, kh, kw, maps});
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

void GraphPlanner::planExpandingConcat(const GraphOp& op) {
    struct Part {
        int32_t buffer;
        int64_t channels;
        bool upsampled;
        int64_t kh, kw;
    };
    const Dims& out_dims = graph_.tensors[op.outputs[0]].dims;
    const int64_t rows = int64_t{out_dims.d[0]} * out_dims.d[2], width = out_dims.d[3],
                  channels = out_dims.d[1];
    std::vector<Part> parts;
    PlanStep step;
    for (int32_t tensor : op.inputs) {
        const Dims& dims = graph_.tensors[tensor].dims;
        const auto pending = pending_upsamples_.find(tensor);
        if (pending != pending_upsamples_.end()) {
            parts.push_back(
                {pending->second.mid, dims.d[1], true, pending->second.kh, pending->second.kw});
        } else {
            const memory::desc md({dims.d[0], dims.d[1], dims.d[2], dims.d[3]},
                                  memory::data_type::f32, memory::format_tag::acdb);
            parts.push_back({ensureLayout(tensor, md), dims.d[1], false, 1, 1});
        }
        step.custom_uses.push_back(parts.back().buffer);
    }
    const memory::desc out_md({out_dims.d[0], channels, out_dims.d[2], width},
                              memory::data_type::f32, memory::format_tag::acdb);
    const int32_t out = addBuffer(out_md, BufferHome::kArena);
    step.custom_uses.push_back(out);
    const ExecutionPlan* plan = &plan_;
    const int64_t height = out_dims.d[2];
    step.custom = [plan, parts, out, rows, height, width, channels] {
        auto* to = static_cast<float*>(plan->buffers[out].memory.get_data_handle());
        TRT_HOST_PARALLEL_FOR
        for (int64_t row = 0; row < rows; ++row) {
            const int64_t image = row / height, y = row % height;
            int64_t offset = 0;
            for (const Part& part : parts) {
                const auto* from =
                    static_cast<const float*>(plan->buffers[part.buffer].memory.get_data_handle());
                const int64_t c = part.channels, taps = part.kh * part.kw,
                              in_width = width / part.kw;
                // Output pixel (y, xi * kw + kx) takes tap (y % kh, kx) of input pixel (y / kh, xi).
                const float* line =
                    from + ((image * (height / part.kh) + y / part.kh) * in_width * taps +
                            (y % part.kh) * part.kw) *
                               c;
                float* target = to + row * width * channels + offset;
                for (int64_t xi = 0; xi < in_width; ++xi) {
                    for (int64_t kx = 0; kx < part.kw; ++kx, target += channels) {
                        const float* source = line + (xi * taps + kx) * c;
                        for (int64_t i = 0; i < c; ++i) {
                            target[i] = source[i];
                        }
                    }
                }
                offset += c;
            }
        }
    };
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(out);
}

}  // namespace trt_host
