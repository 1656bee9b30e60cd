#include "taskflow/core/executor.hpp"

#include <atomic>
#include <exception>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "scheduler.h"

namespace tf {

namespace {

constexpr char kNoWorkersText[] = "no workers to execute the graph";
constexpr char kCycleText[] = "the graph contains a cycle";

// True when every node can be reached in dependency order (Kahn's algorithm).
bool isAcyclic(const std::vector<Node*>& nodes) {
    std::unordered_map<const Node*, size_t> waiting;
    std::vector<const Node*> ready;
    for (const Node* node : nodes) {
        waiting[node] = node->num_dependents;
        if (node->num_dependents == 0) ready.push_back(node);
    }
    size_t visited = 0;
    while (!ready.empty()) {
        const Node* node = ready.back();
        ready.pop_back();
        ++visited;
        for (const Node* next : node->successors) {
            if (--waiting[next] == 0) ready.push_back(next);
        }
    }
    return visited == nodes.size();
}

// The state of one run of a graph, shared by the jobs of that run.
struct GraphRun {
    Scheduler* scheduler = nullptr;
    std::vector<Node*> nodes;
    std::vector<std::vector<size_t>> successors;  // per node, the indices of its successors
    std::unique_ptr<std::atomic<size_t>[]> join;  // per node, predecessors still to finish
    std::atomic<size_t> remaining{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // written once, by the task that sets `failed`
    std::promise<void> done;
};

// Runs node `index` (unless an earlier task failed), then releases its successors; whoever
// finishes the last node completes the run's future.
void runNode(const std::shared_ptr<GraphRun>& state, size_t index) {
    Node* node = state->nodes[index];
    if (node->work && !state->failed.load(std::memory_order_acquire)) {
        try {
            node->work();
        } catch (...) {
            bool expected = false;
            if (state->failed.compare_exchange_strong(expected, true))
                state->error = std::current_exception();
        }
    }
    for (size_t next : state->successors[index]) {
        if (state->join[next].fetch_sub(1, std::memory_order_acq_rel) == 1) {
            state->scheduler->submit(detail::Job([state, next] { runNode(state, next); }));
        }
    }
    if (state->remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        if (state->error) {
            state->done.set_exception(state->error);
        } else {
            state->done.set_value();
        }
    }
}

}  // namespace

struct Executor::Impl {
    explicit Impl(size_t n) : scheduler(n) {}
    Scheduler scheduler;
};

Executor::Executor(size_t N) : workers_(N), impl_(std::make_unique<Impl>(N)) {}

Executor::~Executor() = default;  // the scheduler waits for every task before it stops

size_t Executor::num_workers() const noexcept {
    return workers_;
}

void Executor::throwNoWorkers() {
    throw std::runtime_error(kNoWorkersText);
}

void Executor::schedule(detail::Job&& job) {
    impl_->scheduler.submit(std::move(job));
}

void Executor::wait_for_all() {
    impl_->scheduler.waitForAll();
}

std::future<void> Executor::run(Taskflow& flow) {
    if (workers_ == 0) throwNoWorkers();
    auto state = std::make_shared<GraphRun>();
    state->scheduler = &impl_->scheduler;
    std::future<void> result = state->done.get_future();
    for (auto& node : flow.nodes_)
        state->nodes.push_back(node.get());
    if (state->nodes.empty()) {
        state->done.set_value();
        return result;
    }
    if (!isAcyclic(state->nodes)) {
        state->done.set_exception(std::make_exception_ptr(std::runtime_error(kCycleText)));
        return result;
    }
    const size_t count = state->nodes.size();
    std::unordered_map<const Node*, size_t> slot;
    for (size_t i = 0; i < count; ++i)
        slot[state->nodes[i]] = i;
    state->successors.resize(count);
    state->join = std::make_unique<std::atomic<size_t>[]>(count);
    for (size_t i = 0; i < count; ++i) {
        for (const Node* next : state->nodes[i]->successors)
            state->successors[i].push_back(slot.at(next));
        state->join[i].store(state->nodes[i]->num_dependents, std::memory_order_relaxed);
    }
    state->remaining.store(count, std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i) {
        if (state->nodes[i]->num_dependents == 0) {
            state->scheduler->submit(detail::Job([state, i] { runNode(state, i); }));
        }
    }
    return result;
}

}  // namespace tf
