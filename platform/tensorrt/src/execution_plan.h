// What GraphPlanner produces and GraphExecutor runs: oneDNN primitives in order, the buffers
// they read and write, and which engine layer each step belongs to.
#pragma once

#include <oneapi/dnnl/dnnl.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace trt_host {

//! Where a buffer's bytes live.
enum class BufferHome {
    kArena,    //!< a slice of the executor's arena, shared with buffers of disjoint lifetime
    kOwned,    //!< allocated once by oneDNN and kept (weights, bias, binding staging)
    kBinding,  //!< the caller's binding pointer, set before every run
};

//! One tensor in one memory layout.
struct PlanBuffer {
    dnnl::memory memory;
    BufferHome home{BufferHome::kArena};
    int32_t binding{-1};   //!< binding index for kBinding
    int32_t alias_of{-1};  //!< when set, a second view (other descriptor) of that buffer's bytes
    std::size_t alias_offset{0};  //!< where the view starts in them
    int32_t first_use{-1};        //!< step indices; filled by the executor
    int32_t last_use{-1};
};

//! A primitive with its arguments (buffer ids), or a custom function over buffer ids.
struct PlanStep {
    dnnl::primitive primitive;
    std::unordered_map<int, int32_t> args;
    std::size_t scratchpad_bytes{0};  //!< scratch memory the primitive is handed at each run
    std::string kernel;               //!< what runs it: oneDNN kind and implementation, or a loop
    std::function<void()> custom;
    std::vector<int32_t> custom_uses;
    int32_t layer{-1};  //!< engine layer whose time this step adds to; -1 for binding conversions
};

//! The whole plan. Steps run in order, each run on whichever thread the caller or its stream
//! provides, so every primitive takes its scratch memory from the plan (user scratchpad mode):
//! oneDNN's library-owned scratchpad belongs to the thread that created the primitive.
struct ExecutionPlan {
    std::vector<PlanBuffer> buffers;
    std::vector<PlanStep> steps;
    std::vector<std::string> layer_names;  //!< engine layers (network layers after fusion)
    std::size_t scratchpad_bytes{0};       //!< the largest need of any step; steps share it
};

}  // namespace trt_host
