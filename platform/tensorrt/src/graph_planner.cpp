#include "platform/tensorrt/src/dnnl_dims.h"
#include "platform/tensorrt/src/graph_planner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include <oneapi/dnnl/dnnl_debug.h>

#include "platform/tensorrt/src/half_float.h"
#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {
namespace {

using dnnl::memory;
using nvinfer1::DataType;
using nvinfer1::Dims;

memory::dims denseStrides(const memory::dims& dims) {
    memory::dims strides(dims.size(), 1);
    for (int i = static_cast<int>(dims.size()) - 2; i >= 0; --i) {
        strides[i] = strides[i + 1] * dims[i + 1];
    }
    return strides;
}

// "convolution jit:avx2" and the like: the primitive kind and oneDNN's implementation name.
std::string kernelName(const dnnl::primitive& primitive) {
    const const_dnnl_primitive_desc_t pd = primitive.get_primitive_desc();
    dnnl_primitive_kind_t kind = dnnl_undefined_primitive;
    const char* implementation = nullptr;
    dnnl_primitive_desc_query(pd, dnnl_query_primitive_kind, 0, &kind);
    dnnl_primitive_desc_query(pd, dnnl_query_impl_info_str, 0, &implementation);
    return std::string(dnnl_prim_kind2str(kind)) + " " +
           (implementation != nullptr ? implementation : "?");
}

// Scratch bytes the primitive takes from the executor at each run. A primitive made with a
// library-owned scratchpad would fail (or write through a null pointer) once a run reaches it on
// another thread than the one that made it, so none is let into a plan.
std::size_t userScratchpadBytes(const dnnl::primitive& primitive, int32_t layer) {
    const const_dnnl_primitive_desc_t pd = primitive.get_primitive_desc();
    const_dnnl_primitive_attr_t attr = nullptr;
    dnnl_scratchpad_mode_t mode = dnnl_scratchpad_mode_library;
    if (dnnl_primitive_desc_get_attr(pd, &attr) != dnnl_success ||
        dnnl_primitive_attr_get_scratchpad_mode(attr, &mode) != dnnl_success ||
        mode != dnnl_scratchpad_mode_user) {
        throw std::logic_error("a primitive of layer " + std::to_string(layer) +
                               " keeps its scratch memory per thread");
    }
    const dnnl_memory_desc_t* scratch =
        dnnl_primitive_desc_query_md(pd, dnnl_query_scratchpad_md, 0);
    return scratch != nullptr ? dnnl_memory_desc_get_size(scratch) : 0;
}

float* data(const ExecutionPlan& plan, int32_t buffer) {
    return static_cast<float*>(plan.buffers[buffer].memory.get_data_handle());
}

}  // namespace

memory::desc GraphPlanner::plainDesc(const Dims& dims) {
    const memory::dims extents = toDnnl(dims);
    return memory::desc(extents, memory::data_type::f32, denseStrides(extents));
}

bool GraphPlanner::denseLike(const memory::desc& md, const Dims& dims) {
    const dnnl_memory_desc_t& raw = md.data;
    if (raw.format_kind != dnnl_blocked || raw.format_desc.blocking.inner_nblks != 0 ||
        raw.ndims != dims.nbDims) {
        return false;
    }
    int64_t stride = 1;
    for (int32_t i = dims.nbDims - 1; i >= 0; --i) {
        if (raw.padded_dims[i] != dims.d[i] || raw.padded_offsets[i] != 0 ||
            (dims.d[i] > 1 && raw.format_desc.blocking.strides[i] != stride)) {
            return false;
        }
        stride *= dims.d[i];
    }
    return raw.offset0 == 0;
}

int32_t GraphPlanner::addBuffer(const memory::desc& md, BufferHome home) {
    PlanBuffer buffer;
    buffer.memory =
        home == BufferHome::kOwned ? memory(md, engine_) : memory(md, engine_, DNNL_MEMORY_NONE);
    buffer.home = home;
    plan_.buffers.push_back(std::move(buffer));
    return static_cast<int32_t>(plan_.buffers.size()) - 1;
}

void GraphPlanner::addStep(PlanStep step) {
    step.layer = layer_;
    step.kernel = step.primitive ? kernelName(step.primitive) : "host loop";
    if (step.primitive) {
        step.scratchpad_bytes = userScratchpadBytes(step.primitive, layer_);
        plan_.scratchpad_bytes = std::max(plan_.scratchpad_bytes, step.scratchpad_bytes);
    }
    plan_.steps.push_back(std::move(step));
}

int32_t GraphPlanner::ensureLayout(int32_t tensor, const memory::desc& md) {
    for (int32_t id : tensor_buffers_[tensor]) {
        if (plan_.buffers[id].memory.get_desc() == md) {
            return id;
        }
    }
    const int32_t source = primary(tensor);
    const int32_t converted = addBuffer(md, BufferHome::kArena);
    PlanStep step;
    step.primitive = dnnl::reorder(dnnl::reorder::primitive_desc(
        engine_, plan_.buffers[source].memory.get_desc(), engine_, md, runAttr()));
    step.args = {{DNNL_ARG_FROM, source}, {DNNL_ARG_TO, converted}};
    addStep(std::move(step));
    tensor_buffers_[tensor].push_back(converted);
    return converted;
}

void GraphPlanner::plan(const std::vector<void*>& current_bindings) {
    tensor_buffers_.assign(graph_.tensors.size(), {});
    fused_.assign(graph_.ops.size(), false);
    planInputs(current_bindings);
    for (std::size_t i = 0; i < graph_.ops.size(); ++i) {
        if (!fused_[i]) {
            planOp(i);
        }
    }
    layer_ = -1;
    planOutputs(current_bindings);
}

void GraphPlanner::planInputs(const std::vector<void*>& bindings) {
    layer_ = -1;
    for (std::size_t i = 0; i < graph_.inputs.size(); ++i) {
        const GraphTensor& tensor = graph_.tensors[graph_.inputs[i]];
        const memory::desc md = plainDesc(tensor.dims);
        if (tensor.type == DataType::kFLOAT) {
            const int32_t id = addBuffer(md, BufferHome::kBinding);
            plan_.buffers[id].binding = static_cast<int32_t>(i);
            const bool quantised = storageKind(graph_, graph_.inputs[i]) == Storage::kInt8;
            tensor_buffers_[graph_.inputs[i]].push_back(
                quantised ? quantisedBindingCopy(graph_.inputs[i], id) : id);
            continue;
        }
        const int32_t id = addBuffer(md, BufferHome::kArena);
        const auto count = static_cast<std::size_t>(ShapeInference::volume(tensor.dims));
        const bool is_int8 = tensor.type == DataType::kINT8;
        const float scale = BindingConversion::int8Scale(tensor.range_min, tensor.range_max);
        const ExecutionPlan* plan = &plan_;
        PlanStep step;
        step.custom = [plan, &bindings, i, id, count, is_int8, scale] {
            if (is_int8) {
                BindingConversion::dequantizeInt8(static_cast<const int8_t*>(bindings[i]),
                                                  data(*plan, id), count, scale);
            } else {
                BindingConversion::halfToFloat(static_cast<const uint16_t*>(bindings[i]),
                                               data(*plan, id), count);
            }
        };
        step.custom_uses = {id};
        addStep(std::move(step));
        tensor_buffers_[graph_.inputs[i]].push_back(id);
    }
}

void GraphPlanner::planOutputs(const std::vector<void*>& bindings) {
    for (std::size_t j = 0; j < graph_.outputs.size(); ++j) {
        const std::size_t binding = graph_.inputs.size() + j;
        const GraphTensor& tensor = graph_.tensors[graph_.outputs[j]];
        const memory::desc md = plainDesc(tensor.dims);
        const int32_t source = primary(graph_.outputs[j]);
        PlanBuffer& produced = plan_.buffers[source];
        const bool dense = denseLike(produced.memory.get_desc(), tensor.dims);
        if (tensor.type == DataType::kFLOAT && dense && produced.home == BufferHome::kArena &&
            produced.alias_of < 0) {
            // The producing layer writes straight into the caller's buffer.
            produced.home = BufferHome::kBinding;
            produced.binding = static_cast<int32_t>(binding);
            continue;
        }
        if (tensor.type == DataType::kFLOAT) {
            const int32_t target = addBuffer(md, BufferHome::kBinding);
            plan_.buffers[target].binding = static_cast<int32_t>(binding);
            PlanStep step;
            step.primitive = dnnl::reorder(dnnl::reorder::primitive_desc(
                engine_, plan_.buffers[source].memory.get_desc(), engine_, md, runAttr()));
            step.args = {{DNNL_ARG_FROM, source}, {DNNL_ARG_TO, target}};
            addStep(std::move(step));
            continue;
        }
        const int32_t plain = dense ? source : ensureLayout(graph_.outputs[j], md);
        const auto count = static_cast<std::size_t>(ShapeInference::volume(tensor.dims));
        const bool is_int8 = tensor.type == DataType::kINT8;
        const float scale = BindingConversion::int8Scale(tensor.range_min, tensor.range_max);
        const ExecutionPlan* plan = &plan_;
        PlanStep step;
        step.custom = [plan, &bindings, binding, plain, count, is_int8, scale] {
            if (is_int8) {
                BindingConversion::quantizeInt8(
                    data(*plan, plain), static_cast<int8_t*>(bindings[binding]), count, scale);
            } else {
                BindingConversion::floatToHalf(data(*plan, plain),
                                               static_cast<uint16_t*>(bindings[binding]), count);
            }
        };
        step.custom_uses = {plain};
        addStep(std::move(step));
    }
}

int32_t GraphPlanner::fusedActivation(const Graph& graph, std::size_t op_index) {
    const OpKind kind = graph.ops[op_index].kind;
    if (kind != OpKind::kConvolution && kind != OpKind::kDeconvolution) {
        return -1;
    }
    const int32_t out = graph.ops[op_index].outputs[0];
    if (std::find(graph.outputs.begin(), graph.outputs.end(), out) != graph.outputs.end()) {
        return -1;
    }
    int32_t consumer = -1;
    for (std::size_t j = op_index + 1; j < graph.ops.size(); ++j) {
        const std::vector<int32_t>& ins = graph.ops[j].inputs;
        const auto uses = std::count(ins.begin(), ins.end(), out);
        if (uses > 0) {
            if (consumer >= 0 || uses > 1) {
                return -1;
            }
            consumer = static_cast<int32_t>(j);
        }
    }
    if (consumer < 0 || graph.ops[consumer].kind != OpKind::kActivation) {
        return -1;
    }
    // ReLU commutes with a symmetric quantisation of one scale (and with rounding to half), so
    // the unstored convolution output changes nothing then; otherwise both are stored.
    const Storage stored = storageKind(graph, out);
    if (stored == Storage::kInt8) {
        const GraphOp& act = graph.ops[consumer];
        const GraphTensor& a = graph.tensors[out];
        const GraphTensor& b = graph.tensors[act.outputs[0]];
        const bool same_scale = storageKind(graph, act.outputs[0]) == Storage::kInt8 &&
                                BindingConversion::int8Scale(a.range_min, a.range_max) ==
                                    BindingConversion::int8Scale(b.range_min, b.range_max);
        if (act.activation != nvinfer1::ActivationType::kRELU || !same_scale) {
            return -1;
        }
    }
    return consumer;
}

std::string GraphPlanner::layerName(const Graph& graph, std::size_t op_index) {
    const int32_t activation = fusedActivation(graph, op_index);
    return activation < 0 ? graph.ops[op_index].name
                          : graph.ops[op_index].name + " + " + graph.ops[activation].name;
}

void GraphPlanner::planOp(std::size_t op_index) {
    const GraphOp& op = graph_.ops[op_index];
    layer_ = static_cast<int32_t>(plan_.layer_names.size());
    const std::string name = layerName(graph_, op_index);
    switch (op.kind) {
        case OpKind::kConvolution:
        case OpKind::kDeconvolution: {
            const int32_t act = fusedActivation(graph_, op_index);
            const GraphOp* activation = act >= 0 ? &graph_.ops[act] : nullptr;
            if (activation != nullptr) {
                fused_[act] = true;
            }
            planConvolution(op, activation);
            if (activation != nullptr && !tensor_buffers_[op.outputs[0]].empty()) {
                tensor_buffers_[activation->outputs[0]] = {primary(op.outputs[0])};
            }
            planStorage(activation != nullptr ? activation->outputs[0] : op.outputs[0]);
            plan_.layer_names.push_back(name);
            return;
        }
        case OpKind::kActivation:
            planActivation(op);
            break;
        case OpKind::kPooling:
            planPooling(op);
            break;
        case OpKind::kConcatenation:
            planConcatenation(op);
            break;
        case OpKind::kElementWise:
            planElementWise(op);
            break;
        case OpKind::kSoftMax:
            planSoftMax(op);
            break;
        case OpKind::kResize:
            planResize(op);
            break;
        case OpKind::kShuffle:
            planShuffle(op);
            break;
    }
    planStorage(op.outputs[0]);
    plan_.layer_names.push_back(name);
}

int32_t GraphPlanner::ownedWeights(const memory::desc& user, const float* values,
                                   const memory::desc& target) {
    const int32_t id = addBuffer(target, BufferHome::kOwned);
    memory source(user, engine_, const_cast<float*>(values));
    memory& prepared = plan_.buffers[id].memory;
    dnnl::reorder(source, prepared).execute(stream_, source, prepared);
    stream_.wait();
    return id;
}

int32_t GraphPlanner::prepareWeights(const GraphOp& op, const memory::desc& target) {
    const Dims& in = graph_.tensors[op.inputs[0]].dims;
    const int64_t groups = op.groups, taps = ShapeInference::volume(op.kernel);
    const int64_t ocg = op.out_maps / groups, icg = in.d[1] / groups;
    memory::dims dims = groups > 1 ? memory::dims{groups, ocg, icg} : memory::dims{ocg, icg};
    const memory::dims kernel = toDnnl(op.kernel);
    dims.insert(dims.end(), kernel.begin(), kernel.end());
    memory::dims strides = denseStrides(dims);
    if (op.kind == OpKind::kDeconvolution) {
        // Stored as [in channels][out maps / groups][spatial]: swap the two channel strides.
        const std::size_t o = groups > 1 ? 1 : 0;
        strides[o] = taps;
        strides[o + 1] = ocg * taps;
    }
    return ownedWeights(memory::desc(dims, memory::data_type::f32, strides), op.weights.data(),
                        target);
}

}  // namespace trt_host
