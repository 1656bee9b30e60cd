// GraphPlanner: the optional int8 compute path for convolutions (VNNI on CPUs that have it).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/tensorrt/src/dnnl_dims.h"
#include "platform/tensorrt/src/graph_planner.h"
#include "platform/tensorrt/src/half_float.h"

namespace trt_host {
namespace {

using dnnl::memory;
using nvinfer1::Dims;

bool flagSet(nvinfer1::BuilderFlags flags, nvinfer1::BuilderFlag flag) {
    return (flags & (nvinfer1::BuilderFlags{1} << static_cast<uint32_t>(flag))) != 0;
}

// Per output channel: the largest weight magnitude over 127 (1 for an all-zero channel).
std::vector<float> weightScales(const GraphOp& op) {
    const std::size_t per_map = op.weights.size() / static_cast<std::size_t>(op.out_maps);
    std::vector<float> scales(static_cast<std::size_t>(op.out_maps), 1.0F);
    for (std::size_t m = 0; m < scales.size(); ++m) {
        float top = 0.0F;
        for (std::size_t i = 0; i < per_map; ++i) {
            top = std::max(top, std::fabs(op.weights[m * per_map + i]));
        }
        scales[m] = top > 0.0F ? top / 127.0F : 1.0F;
    }
    return scales;
}

}  // namespace

int32_t GraphPlanner::quantisedWeights(const GraphOp& op, const memory::dims& dims,
                                       const memory::desc& target,
                                       const std::vector<float>& inverse_scales) {
    memory::dims strides(dims.size(), 1);
    for (int i = static_cast<int>(dims.size()) - 2; i >= 0; --i) {
        strides[i] = strides[i + 1] * dims[i + 1];
    }
    memory user(memory::desc(dims, memory::data_type::f32, strides), engine_,
                const_cast<float*>(op.weights.data()));
    const int32_t id = addBuffer(target, BufferHome::kOwned);
    dnnl::primitive_attr attr;
    attr.set_output_scales(1 << 0, inverse_scales);
    memory& quantised = plan_.buffers[id].memory;
    dnnl::reorder(dnnl::reorder::primitive_desc(user, quantised, attr))
        .execute(stream_, user, quantised);
    stream_.wait();
    return id;
}

int32_t GraphPlanner::quantisedInput(int32_t tensor, const memory::desc& md, float scale) {
    for (int32_t id : tensor_buffers_[tensor]) {
        if (plan_.buffers[id].memory.get_desc() == md) {
            return id;
        }
    }
    const int32_t id = addBuffer(md, BufferHome::kArena);
    dnnl::primitive_attr attr = runAttr();
    attr.set_output_scales(0, {1.0F / scale});
    PlanStep step;
    step.primitive = dnnl::reorder(dnnl::reorder::primitive_desc(
        engine_, plan_.buffers[primary(tensor)].memory.get_desc(), engine_, md, attr));
    step.args = {{DNNL_ARG_FROM, primary(tensor)}, {DNNL_ARG_TO, id}};
    addStep(std::move(step));
    tensor_buffers_[tensor].push_back(id);
    return id;
}

bool GraphPlanner::planInt8Convolution(const GraphOp& op, const GraphOp* activation) {
    const GraphTensor& input = graph_.tensors[op.inputs[0]];
    const float in_scale = BindingConversion::int8Scale(input.range_min, input.range_max);
    if (!flagSet(graph_.flags, nvinfer1::BuilderFlag::kINT8) ||
        !flagSet(graph_.flags, nvinfer1::BuilderFlag::kHOST_INT8_COMPUTE) ||
        op.kind != OpKind::kConvolution || op.groups != 1 || !input.has_range ||
        !(in_scale > 0.0F) || !std::isfinite(in_scale)) {
        return false;
    }
    const Dims& in_dims = input.dims;
    const Dims& out_dims = graph_.tensors[op.outputs[0]].dims;
    const int32_t n = in_dims.nbDims - 2;
    memory::dims wdims{op.out_maps, in_dims.d[1]};
    const memory::dims kernel = toDnnl(op.kernel);
    wdims.insert(wdims.end(), kernel.begin(), kernel.end());
    const std::vector<float> w_scales = weightScales(op);
    std::vector<float> out_scales(w_scales.size()), inverse_w(w_scales.size());
    std::vector<float> bias(w_scales.size(), 0.0F);
    for (std::size_t m = 0; m < w_scales.size(); ++m) {
        out_scales[m] = in_scale * w_scales[m];
        inverse_w[m] = 1.0F / w_scales[m];
        // oneDNN 2.x adds the bias to the accumulator before the output scale.
        bias[m] = op.bias.empty() ? 0.0F : op.bias[m] / out_scales[m];
    }
    dnnl::primitive_attr attr = activationAttr(activation);
    attr.set_output_scales(1 << 1, out_scales);
    const memory::desc bmd({op.out_maps}, memory::data_type::f32, memory::format_tag::a);
    const dnnl::convolution_forward::desc desc(
        dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct,
        memory::desc(toDnnl(in_dims), memory::data_type::s8, memory::format_tag::any),
        memory::desc(wdims, memory::data_type::s8, memory::format_tag::any), bmd,
        memory::desc(toDnnl(out_dims), memory::data_type::f32, memory::format_tag::any),
        spatial(op.stride, n, 1), spatial(op.dilation, n, 1, -1), spatial(op.pre_padding, n, 0),
        spatial(op.post_padding, n, 0));
    const dnnl::convolution_forward::primitive_desc pd(desc, attr, engine_);

    const int32_t weights = quantisedWeights(op, wdims, pd.weights_desc(), inverse_w);
    const int32_t bias_id = addBuffer(bmd, BufferHome::kOwned);
    std::memcpy(plan_.buffers[bias_id].memory.get_data_handle(), bias.data(),
                bias.size() * sizeof(float));
    const int32_t src = quantisedInput(op.inputs[0], pd.src_desc(), in_scale);
    PlanStep step;
    step.primitive = dnnl::convolution_forward(pd);
    const int32_t dst = addBuffer(pd.dst_desc(), BufferHome::kArena);
    step.args = {{DNNL_ARG_SRC, src},
                 {DNNL_ARG_WEIGHTS, weights},
                 {DNNL_ARG_BIAS, bias_id},
                 {DNNL_ARG_DST, dst}};
    addStep(std::move(step));
    tensor_buffers_[op.outputs[0]].push_back(dst);
    return true;
}

}  // namespace trt_host
