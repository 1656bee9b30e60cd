// GraphPlanner: what an INT8 or FP16 engine does to the tensors between its layers. A GPU keeps
// them in int8 or half; the float kernels here compute on values rounded the same way, so an
// engine's results carry the same saturation and rounding as on the GPU.
#include <algorithm>
#include <cmath>

#include "platform/tensorrt/src/graph_planner.h"
#include "platform/tensorrt/src/half_float.h"

namespace trt_host {
namespace {

bool flagSet(nvinfer1::BuilderFlags flags, nvinfer1::BuilderFlag flag) {
    return (flags & (nvinfer1::BuilderFlags{1} << static_cast<uint32_t>(flag))) != 0;
}

bool contains(const std::vector<int32_t>& list, int32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

float* floats(const ExecutionPlan& plan, int32_t buffer) {
    return static_cast<float*>(plan.buffers[buffer].memory.get_data_handle());
}

}  // namespace

GraphPlanner::Storage GraphPlanner::storageKind(const Graph& graph, int32_t tensor) {
    const GraphTensor& t = graph.tensors[tensor];
    const float scale = BindingConversion::int8Scale(t.range_min, t.range_max);
    if (flagSet(graph.flags, nvinfer1::BuilderFlag::kINT8) && t.has_range && scale > 0.0F &&
        std::isfinite(scale)) {
        return Storage::kInt8;
    }
    if (flagSet(graph.flags, nvinfer1::BuilderFlag::kFP16) && !contains(graph.inputs, tensor) &&
        !contains(graph.outputs, tensor)) {
        return Storage::kHalf;
    }
    return Storage::kFloat;
}

void GraphPlanner::planStorage(int32_t tensor) {
    const Storage storage = storageKind(graph_, tensor);
    if (storage == Storage::kFloat) {
        return;
    }
    // An upsampling read only by a concatenation is expanded there; its values wait, unchanged,
    // in the 1x1 convolution's result, which is where they are rounded.
    int32_t buffer = -1;
    if (!tensor_buffers_[tensor].empty()) {
        buffer = primary(tensor);
    } else if (pending_upsamples_.count(tensor) != 0) {
        buffer = pending_upsamples_.at(tensor).mid;
    } else {
        return;
    }
    // Blocked layouts pad with zeros, which both roundings keep, so the whole buffer is rounded.
    const std::size_t count = plan_.buffers[buffer].memory.get_desc().get_size() / sizeof(float);
    const GraphTensor& t = graph_.tensors[tensor];
    const float scale = BindingConversion::int8Scale(t.range_min, t.range_max);
    const ExecutionPlan* plan = &plan_;
    PlanStep step;
    if (storage == Storage::kInt8) {
        step.custom = [plan, buffer, count, scale] {
            float* values = floats(*plan, buffer);
            BindingConversion::fakeQuantizeInt8(values, values, count, scale);
        };
    } else {
        step.custom = [plan, buffer, count] {
            float* values = floats(*plan, buffer);
            BindingConversion::roundToHalf(values, values, count);
        };
    }
    step.custom_uses = {buffer};
    addStep(std::move(step));
}

int32_t GraphPlanner::quantisedBindingCopy(int32_t tensor, int32_t binding_buffer) {
    const int32_t copy =
        addBuffer(plan_.buffers[binding_buffer].memory.get_desc(), BufferHome::kArena);
    const GraphTensor& t = graph_.tensors[tensor];
    const float scale = BindingConversion::int8Scale(t.range_min, t.range_max);
    const std::size_t count =
        plan_.buffers[binding_buffer].memory.get_desc().get_size() / sizeof(float);
    const ExecutionPlan* plan = &plan_;
    PlanStep step;
    step.custom = [plan, binding_buffer, copy, count, scale] {
        BindingConversion::fakeQuantizeInt8(floats(*plan, binding_buffer), floats(*plan, copy),
                                            count, scale);
    };
    step.custom_uses = {binding_buffer, copy};
    addStep(std::move(step));
    return copy;
}

}  // namespace trt_host
