#include "taskflow/core/executor.hpp"

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "scheduler.h"

namespace tf {

namespace detail {

// The state of one run of a graph, shared by the jobs of that run. Everything a job reads after
// the run may have ended lives here, not in the graph: the graph may be destroyed as soon as the
// run's future is ready.
struct GraphRun {
    Scheduler* scheduler = nullptr;     // held (Scheduler::hold) from run() until the run ends
    std::mutex* queue_mutex = nullptr;  // the graph's run queue, which this run is in
    std::deque<std::shared_ptr<GraphRun>>* queue = nullptr;
    std::vector<Node*> nodes;
    std::vector<std::vector<size_t>> successors;  // per node, the indices of its successors
    std::vector<size_t> strong;   // per node, predecessors that are not condition tasks
    std::vector<size_t> sources;  // nodes without any predecessor, started first
    std::unique_ptr<std::atomic<size_t>[]> join;  // per node, strong predecessors still to finish
    std::atomic<size_t> in_flight{0};             // nodes scheduled and not yet finished
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // written once, by the task that sets `failed`
    std::promise<void> done;
};

}  // namespace detail

namespace {

using detail::GraphRun;

constexpr char kNoWorkersText[] = "no workers to execute the graph";
constexpr char kCycleText[] = "the graph contains a cycle";

// True when the edges that wait (those leaving static tasks and placeholders) form no cycle
// (Kahn's algorithm over them). Edges leaving a condition task do not wait, as in Taskflow, so a
// cycle through one is a loop and allowed.
bool strongEdgesAcyclic(const GraphRun& run) {
    std::vector<size_t> waiting = run.strong;
    std::vector<size_t> ready;
    for (size_t i = 0; i < waiting.size(); ++i) {
        if (waiting[i] == 0) ready.push_back(i);
    }
    size_t visited = 0;
    while (!ready.empty()) {
        const size_t node = ready.back();
        ready.pop_back();
        ++visited;
        if (run.nodes[node]->isCondition()) continue;
        for (size_t next : run.successors[node]) {
            if (--waiting[next] == 0) ready.push_back(next);
        }
    }
    return visited == run.nodes.size();
}

// Copies the shape of `flow` into a new run: successor indices, predecessor counts, sources.
std::shared_ptr<GraphRun> snapshot(const std::vector<std::unique_ptr<Node>>& graph,
                                   Scheduler* scheduler) {
    auto run = std::make_shared<GraphRun>();
    run->scheduler = scheduler;
    const size_t count = graph.size();
    std::unordered_map<const Node*, size_t> slot;
    for (size_t i = 0; i < count; ++i) {
        run->nodes.push_back(graph[i].get());
        slot[graph[i].get()] = i;
    }
    run->successors.resize(count);
    run->strong.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        const Node* node = run->nodes[i];
        for (const Node* next : node->successors) {
            const size_t j = slot.at(next);
            run->successors[i].push_back(j);
            if (!node->isCondition()) ++run->strong[j];
        }
        if (node->num_dependents == 0) run->sources.push_back(i);
    }
    run->join = std::make_unique<std::atomic<size_t>[]>(count);
    for (size_t i = 0; i < count; ++i)
        run->join[i].store(run->strong[i], std::memory_order_relaxed);
    return run;
}

void runNode(const std::shared_ptr<GraphRun>& run, size_t index);

void schedule(const std::shared_ptr<GraphRun>& run, size_t index) {
    run->in_flight.fetch_add(1, std::memory_order_relaxed);
    run->scheduler->submit(detail::Job([run, index] { runNode(run, index); }));
}

// Submits the sources of `run`, which is at the front of its graph's queue.
void start(const std::shared_ptr<GraphRun>& run) {
    // Counted in full before the first submission: a fast source must not end the run early.
    run->in_flight.store(run->sources.size(), std::memory_order_relaxed);
    Scheduler* scheduler = run->scheduler;
    for (size_t index : run->sources)
        scheduler->submit(detail::Job([run, index] { runNode(run, index); }));
}

// Completes a run that has no task left in flight and starts the next queued run of its graph.
void finish(std::shared_ptr<GraphRun> run) {
    std::shared_ptr<GraphRun> next;
    {
        std::lock_guard<std::mutex> lock(*run->queue_mutex);
        run->queue->pop_front();  // this run
        if (!run->queue->empty()) next = run->queue->front();
    }
    // From here on the graph is not touched: once the future is ready its owner may destroy it.
    Scheduler* scheduler = run->scheduler;
    if (run->error) {
        run->done.set_exception(run->error);
    } else {
        run->done.set_value();
    }
    if (next) start(next);  // the next run keeps the graph (and its own executor) alive
    scheduler->release();
}

// Runs node `index` (unless a task of the run failed), then schedules what follows it: for a
// condition task the one successor its result picks, otherwise each successor whose strong
// predecessors have all finished. Whoever finishes the last task in flight ends the run.
void runNode(const std::shared_ptr<GraphRun>& run, size_t index) {
    Node* node = run->nodes[index];
    int choice = -1;
    if (!run->failed.load(std::memory_order_acquire)) {
        try {
            if (node->isCondition()) {
                choice = node->condition();
            } else if (node->work) {
                node->work();
            }
        } catch (...) {
            bool expected = false;
            if (run->failed.compare_exchange_strong(expected, true))
                run->error = std::current_exception();
        }
    }
    // A failed run schedules nothing more; it ends when the tasks already in flight are done.
    if (!run->failed.load(std::memory_order_acquire)) {
        const std::vector<size_t>& next = run->successors[index];
        // Re-armed before the successors run, so that a loop back to this task waits again.
        run->join[index].store(run->strong[index], std::memory_order_relaxed);
        if (node->isCondition()) {
            if (choice >= 0 && static_cast<size_t>(choice) < next.size()) {
                run->join[next[choice]].store(0, std::memory_order_relaxed);
                schedule(run, next[choice]);
            }
        } else {
            for (size_t successor : next) {
                if (run->join[successor].fetch_sub(1, std::memory_order_acq_rel) == 1)
                    schedule(run, successor);
            }
        }
    }
    if (run->in_flight.fetch_sub(1, std::memory_order_acq_rel) == 1) finish(run);
}

}  // namespace

struct Executor::Impl {
    explicit Impl(size_t n) : scheduler(n) {}
    Scheduler scheduler;
};

Executor::Executor(size_t N) : workers_(N), impl_(std::make_unique<Impl>(N)) {}

Executor::~Executor() = default;  // the scheduler waits for every task and run before it stops

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
    std::shared_ptr<GraphRun> run = snapshot(flow.nodes_, &impl_->scheduler);
    std::future<void> result = run->done.get_future();
    if (!strongEdgesAcyclic(*run)) {
        run->done.set_exception(std::make_exception_ptr(std::runtime_error(kCycleText)));
        return result;
    }
    // Nothing would run (an empty graph, or no task without predecessors): ready at once, without
    // waiting for the graph's earlier runs.
    if (run->sources.empty()) {
        run->done.set_value();
        return result;
    }
    run->queue_mutex = &flow.runs_mutex_;
    run->queue = &flow.runs_;
    impl_->scheduler.hold();
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(flow.runs_mutex_);
        flow.runs_.push_back(run);
        first = flow.runs_.size() == 1;
    }
    // Otherwise the run before it starts it when it ends.
    if (first) start(run);
    return result;
}

}  // namespace tf
