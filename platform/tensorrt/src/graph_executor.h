// Runs a checked Graph on the CPU: plans it once (primitives, weights, one arena for every
// intermediate tensor) and then executes the plan for each set of bindings.
#pragma once

#include <oneapi/dnnl/dnnl.hpp>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "NvInferRuntime.h"
#include "platform/tensorrt/src/execution_plan.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! One per execution context. One run at a time, from any thread; runs of different executors
//! (their own arena and scratch memory) may overlap.
class GraphExecutor {
public:
    //! Plans graph (which must have passed ShapeInference::check). Throws dnnl::error or
    //! std::runtime_error when a primitive cannot be created.
    explicit GraphExecutor(std::shared_ptr<const Graph> graph);
    GraphExecutor(const GraphExecutor&) = delete;
    GraphExecutor& operator=(const GraphExecutor&) = delete;

    //! Runs one inference: bindings holds one pointer per binding (inputs, then outputs), each
    //! to a linear buffer of the binding's type and full shape. When profiler is set it receives
    //! one time per engine layer, in order. Throws dnnl::error when a primitive fails.
    void run(void* const* bindings, nvinfer1::IProfiler* profiler);

    //! Names of the engine layers (network layers after fusion), in run order.
    const std::vector<std::string>& layerNames() const { return plan_.layer_names; }

    //! The kernels of engine layer `layer` in run order, each once, joined by "; "; layer -1
    //! gives those of the binding conversions.
    std::string kernelsOf(int32_t layer) const;

    //! Bytes of the arena shared by all intermediate tensors.
    std::size_t arenaBytes() const { return arena_bytes_; }

private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };

    void assignMemory();
    // Points every view at its buffer's bytes (plus its offset).
    void pointAliases();
    int32_t root(int32_t buffer) const;

    std::shared_ptr<const Graph> graph_;
    dnnl::engine engine_;
    dnnl::stream stream_;
    ExecutionPlan plan_;
    std::vector<void*> bindings_;
    std::vector<std::unordered_map<int, dnnl::memory>> step_args_;
    std::unique_ptr<void, FreeDeleter> arena_;
    dnnl::memory scratchpad_;  // handed to every primitive that asks for scratch memory
    std::size_t arena_bytes_{0};
    std::vector<float> layer_ms_;
};

}  // namespace trt_host
