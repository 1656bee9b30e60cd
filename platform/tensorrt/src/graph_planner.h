// Turns a checked Graph into an ExecutionPlan: picks memory layouts, fuses activations into the
// convolutions before them, prepares weights and creates every oneDNN primitive once.
#pragma once

#include <oneapi/dnnl/dnnl.hpp>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/tensorrt/src/execution_plan.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! Single use: construct, then plan(). Throws dnnl::error or std::runtime_error on failure.
class GraphPlanner {
public:
    //! graph must have passed ShapeInference::check and outlive the plan (weights are read from it).
    GraphPlanner(const Graph& graph, const dnnl::engine& engine, dnnl::stream& stream,
                 ExecutionPlan& plan)
        : graph_(graph), engine_(engine), stream_(stream), plan_(plan) {}

    //! Fills the plan. current_bindings is read by the binding steps at run time.
    void plan(const std::vector<void*>& current_bindings);

    //! Name of the engine layer that op op_index begins (its own name, plus " + " and the
    //! activation's name when one is fused into it).
    static std::string layerName(const Graph& graph, std::size_t op_index);

    //! Index of the activation that the convolution or deconvolution op_index absorbs as a
    //! post-op (its only consumer, when its output is no network output and skipping its
    //! storage changes nothing: see storageKind), or -1.
    static int32_t fusedActivation(const Graph& graph, std::size_t op_index);

    //! How a tensor produced by a layer is stored between layers.
    enum class Storage { kFloat, kInt8, kHalf };
    //! kINT8 engines: a tensor with a usable dynamic range is stored as int8 (real = q x amax /
    //! 127, q = x / scale rounded half away from zero, saturated to -128..127). kFP16 engines:
    //! every other tensor that is neither a network input nor a network output is stored as
    //! half. Everything else stays float.
    static Storage storageKind(const Graph& graph, int32_t tensor);

    //! True when md stores dims with exactly the bytes of the dense row-major layout (axes of
    //! extent 1 may carry any stride).
    static bool denseLike(const dnnl::memory::desc& md, const nvinfer1::Dims& dims);

    //! Dense row-major float descriptor of dims.
    static dnnl::memory::desc plainDesc(const nvinfer1::Dims& dims);

private:
    int32_t addBuffer(const dnnl::memory::desc& md, BufferHome home);
    void addStep(PlanStep step);
    int32_t ensureLayout(int32_t tensor, const dnnl::memory::desc& md);
    int32_t primary(int32_t tensor) const { return tensor_buffers_[tensor].front(); }
    void planInputs(const std::vector<void*>& bindings);
    void planOutputs(const std::vector<void*>& bindings);
    void planOp(std::size_t op_index);
    // Rounds tensor, just produced, to its storage (int8 grid or half) in place.
    void planStorage(int32_t tensor);
    // A float network input with a range in an INT8 engine: quantised into a copy.
    int32_t quantisedBindingCopy(int32_t tensor, int32_t binding_buffer);
    void planConvolution(const GraphOp& op, const GraphOp* activation);
    // Kernel of op (a convolution or deconvolution) reordered into target; returns its buffer.
    int32_t prepareWeights(const GraphOp& op, const dnnl::memory::desc& target);
    // values laid out as user, reordered once into a buffer of layout target.
    int32_t ownedWeights(const dnnl::memory::desc& user, const float* values,
                         const dnnl::memory::desc& target);
    // Attributes of every primitive the plan runs: scratch memory comes from the executor.
    static dnnl::primitive_attr runAttr();
    // runAttr() with the activation as a post-op of the layer before it (none when null).
    static dnnl::primitive_attr activationAttr(const GraphOp* activation);
    // A deconvolution whose kernel equals its stride (no padding, dilation or groups): every
    // output pixel takes exactly one kernel tap, so it runs as a 1x1 convolution to
    // maps x taps channels followed by a depth-to-space copy.
    bool isUpsampling(const GraphOp& op) const;
    void planUpsampling(const GraphOp& op, const GraphOp* activation);
    // A convolution computed in int8 (engine built with kINT8 and kHOST_INT8_COMPUTE, input with
    // a dynamic range, one group): input quantised to s8 by its range, weights to s8 per output
    // channel, float output. Returns false (planning nothing) when the op does not qualify.
    bool planInt8Convolution(const GraphOp& op, const GraphOp* activation);
    // op's float kernel (dims, dense) quantised once into target with 1 / scale per output channel.
    int32_t quantisedWeights(const GraphOp& op, const dnnl::memory::dims& dims,
                             const dnnl::memory::desc& target,
                             const std::vector<float>& inverse_scales);
    // tensor as s8 in layout md (value / scale, rounded), converted once per tensor and layout.
    int32_t quantisedInput(int32_t tensor, const dnnl::memory::desc& md, float scale);
    // True when tensor's only reader is a channel concatenation of 4-D tensors (and it is no
    // network output): an upsampled tensor is then expanded straight into the concatenation.
    bool readOnlyByChannelConcat(int32_t tensor) const;
    // Concatenation whose inputs include pending upsamplings: one copy pass, in the channel
    // blocks of the upsamplings' convolutions.
    void planExpandingConcat(const GraphOp& op);
    // Makes tensor's buffer a view of concatenation output out from channel first_channel on
    // when the layouts allow it (the tensor then needs no copy); false when they do not.
    bool placeInside(int32_t tensor, int32_t out, int64_t first_channel);
    void planActivation(const GraphOp& op);
    void planPooling(const GraphOp& op);
    void planConcatenation(const GraphOp& op);
    // The first of channel-last, plain, 16- and 8-channel blocks that some input is in; undef if none.
    dnnl::memory::format_tag commonLayout(const std::vector<int32_t>& tensors) const;
    void planElementWise(const GraphOp& op);
    void planSoftMax(const GraphOp& op);
    void planResize(const GraphOp& op);
    void planShuffle(const GraphOp& op);

    const Graph& graph_;
    dnnl::engine engine_;
    dnnl::stream& stream_;
    ExecutionPlan& plan_;
    std::vector<std::vector<int32_t>>
        tensor_buffers_;       // per tensor: buffer ids, first = producer's
    std::vector<bool> fused_;  // per op: folded into the layer before it
    struct PendingUpsample {
        int32_t mid;  // buffer of the 1x1 convolution (ChannelBlocks layout), channels (tap, map)
        int64_t kh, kw, maps;
    };
    std::unordered_map<int32_t, PendingUpsample> pending_upsamples_;  // by tensor, not yet expanded
    int32_t layer_{-1};
};

}  // namespace trt_host
