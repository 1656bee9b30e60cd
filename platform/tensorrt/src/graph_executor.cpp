#include "platform/tensorrt/src/graph_executor.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "platform/tensorrt/src/graph_planner.h"

namespace trt_host {
namespace {

constexpr std::size_t kArenaAlignBytes = 64;

std::size_t alignUp(std::size_t bytes) {
    return (bytes + kArenaAlignBytes - 1) / kArenaAlignBytes * kArenaAlignBytes;
}

struct Placement {
    int32_t buffer;
    std::size_t bytes;
    std::size_t offset;
};

bool overlaps(const PlanBuffer& a, const PlanBuffer& b) {
    return a.first_use <= b.last_use && b.first_use <= a.last_use;
}

}  // namespace

GraphExecutor::GraphExecutor(std::shared_ptr<const Graph> graph)
    : graph_(std::move(graph)), engine_(dnnl::engine::kind::cpu, 0), stream_(engine_) {
    bindings_.assign(graph_->inputs.size() + graph_->outputs.size(), nullptr);
    GraphPlanner(*graph_, engine_, stream_, plan_).plan(bindings_);
    assignMemory();
    layer_ms_.assign(plan_.layer_names.size(), 0.0F);
}

int32_t GraphExecutor::root(int32_t buffer) const {
    while (plan_.buffers[buffer].alias_of >= 0) {
        buffer = plan_.buffers[buffer].alias_of;
    }
    return buffer;
}

void GraphExecutor::pointAliases() {
    for (PlanBuffer& buffer : plan_.buffers) {
        if (buffer.alias_of < 0) {
            continue;
        }
        std::size_t offset = buffer.alias_offset;
        for (int32_t up = buffer.alias_of; plan_.buffers[up].alias_of >= 0;
             up = plan_.buffers[up].alias_of) {
            offset += plan_.buffers[up].alias_offset;
        }
        auto* base =
            static_cast<uint8_t*>(plan_.buffers[root(buffer.alias_of)].memory.get_data_handle());
        buffer.memory.set_data_handle(base != nullptr ? base + offset : nullptr);
    }
}

// Lifetimes are step ranges; buffers whose ranges do not meet share arena bytes. Placement is
// first fit, largest buffer first.
void GraphExecutor::assignMemory() {
    for (std::size_t s = 0; s < plan_.steps.size(); ++s) {
        std::vector<int32_t> used = plan_.steps[s].custom_uses;
        for (const auto& arg : plan_.steps[s].args) {
            used.push_back(arg.second);
        }
        for (int32_t id : used) {
            PlanBuffer& buffer = plan_.buffers[root(id)];
            const auto step = static_cast<int32_t>(s);
            buffer.first_use = buffer.first_use < 0 ? step : std::min(buffer.first_use, step);
            buffer.last_use = std::max(buffer.last_use, step);
        }
    }
    std::vector<Placement> placed;
    std::vector<Placement> pending;
    for (std::size_t id = 0; id < plan_.buffers.size(); ++id) {
        const PlanBuffer& buffer = plan_.buffers[id];
        if (buffer.home == BufferHome::kArena && buffer.alias_of < 0 && buffer.first_use >= 0) {
            pending.push_back(
                {static_cast<int32_t>(id), alignUp(buffer.memory.get_desc().get_size()), 0});
        }
    }
    std::stable_sort(pending.begin(), pending.end(),
                     [](const Placement& a, const Placement& b) { return a.bytes > b.bytes; });
    for (Placement item : pending) {
        std::vector<std::pair<std::size_t, std::size_t>> busy;
        for (const Placement& other : placed) {
            if (overlaps(plan_.buffers[item.buffer], plan_.buffers[other.buffer])) {
                busy.emplace_back(other.offset, other.offset + other.bytes);
            }
        }
        std::sort(busy.begin(), busy.end());
        for (const auto& range : busy) {
            if (item.offset + item.bytes <= range.first) {
                break;
            }
            item.offset = std::max(item.offset, range.second);
        }
        arena_bytes_ = std::max(arena_bytes_, item.offset + item.bytes);
        placed.push_back(item);
    }
    arena_.reset(arena_bytes_ > 0 ? std::aligned_alloc(kArenaAlignBytes, arena_bytes_) : nullptr);
    if (arena_bytes_ > 0 && !arena_) {
        throw std::bad_alloc();
    }
    for (const Placement& item : placed) {
        plan_.buffers[item.buffer].memory.set_data_handle(static_cast<uint8_t*>(arena_.get()) +
                                                          item.offset);
    }
    pointAliases();
    if (plan_.scratchpad_bytes > 0) {
        const auto bytes = static_cast<dnnl::memory::dim>(plan_.scratchpad_bytes);
        scratchpad_ = dnnl::memory(
            dnnl::memory::desc({bytes}, dnnl::memory::data_type::u8, dnnl::memory::format_tag::a),
            engine_);
    }
    for (const PlanStep& step : plan_.steps) {
        std::unordered_map<int, dnnl::memory> args;
        for (const auto& arg : step.args) {
            args.emplace(arg.first, plan_.buffers[arg.second].memory);
        }
        if (step.scratchpad_bytes > 0) {
            args.emplace(DNNL_ARG_SCRATCHPAD, scratchpad_);
        }
        step_args_.push_back(std::move(args));
    }
}

std::string GraphExecutor::kernelsOf(int32_t layer) const {
    std::vector<std::string> seen;
    std::string joined;
    for (const PlanStep& step : plan_.steps) {
        if (step.layer != layer || std::find(seen.begin(), seen.end(), step.kernel) != seen.end()) {
            continue;
        }
        joined += (seen.empty() ? "" : "; ") + step.kernel;
        seen.push_back(step.kernel);
    }
    return joined;
}

void GraphExecutor::run(void* const* bindings, nvinfer1::IProfiler* profiler) {
    std::copy(bindings, bindings + bindings_.size(), bindings_.begin());
    for (PlanBuffer& buffer : plan_.buffers) {
        if (buffer.home == BufferHome::kBinding) {
            buffer.memory.set_data_handle(bindings_[buffer.binding]);
        }
    }
    // Views of a binding follow it to this run's pointer.
    pointAliases();
    std::fill(layer_ms_.begin(), layer_ms_.end(), 0.0F);
    for (std::size_t s = 0; s < plan_.steps.size(); ++s) {
        const PlanStep& step = plan_.steps[s];
        const auto start = std::chrono::steady_clock::now();
        if (step.custom) {
            step.custom();
        } else {
            step.primitive.execute(stream_, step_args_[s]);
        }
        if (profiler != nullptr && step.layer >= 0) {
            stream_.wait();
            const std::chrono::duration<float, std::milli> spent =
                std::chrono::steady_clock::now() - start;
            layer_ms_[step.layer] += spent.count();
        }
    }
    stream_.wait();
    if (profiler != nullptr) {
        for (std::size_t i = 0; i < layer_ms_.size(); ++i) {
            profiler->reportLayerTime(plan_.layer_names[i].c_str(), layer_ms_[i]);
        }
    }
}

}  // namespace trt_host
