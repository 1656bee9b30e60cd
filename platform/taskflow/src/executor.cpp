#include "taskflow/core/executor.hpp"

#include <oneapi/tbb/task_arena.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "worker_limit.h"

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

}  // namespace

struct Executor::Impl {
  explicit Impl(size_t n) : workers(n), arena(n > 0 ? static_cast<int>(n) : 1, 0) {}

  size_t workers;
  tbb::task_arena arena;  // no slot reserved for callers: every task runs on a worker
  std::atomic<size_t> pending{0};
  std::mutex idle_mutex;  // pairs with `idle`; pending reaching zero is announced under it
  std::condition_variable idle;
};

// The state of one run of a graph, shared by the tasks of that run.
struct GraphRun {
  std::vector<Node*> nodes;
  std::unordered_map<const Node*, size_t> slot;
  std::unique_ptr<std::atomic<size_t>[]> join;  // predecessors still to finish, per node
  std::atomic<size_t> remaining{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;  // written once, by the task that sets `failed`
  std::promise<void> done;
};

Executor::Executor(size_t N) : impl_(std::make_unique<Impl>(N)) {
  if (N > 0) WorkerLimit::instance().acquire(N);
}

Executor::~Executor() {
  wait_for_all();
  const size_t workers = impl_->workers;
  impl_.reset();
  if (workers > 0) WorkerLimit::instance().release(workers);
}

size_t Executor::num_workers() const noexcept { return impl_->workers; }

void Executor::schedule(std::function<void()> work) {
  if (impl_->workers == 0) throw std::runtime_error(kNoWorkersText);
  impl_->pending.fetch_add(1, std::memory_order_relaxed);
  Impl* impl = impl_.get();
  impl->arena.enqueue([impl, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      // A silent task has nowhere to report to; futures capture their own exceptions.
    }
    if (impl->pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      std::lock_guard<std::mutex> lock(impl->idle_mutex);
      impl->idle.notify_all();
    }
  });
}

void Executor::wait_for_all() {
  std::unique_lock<std::mutex> lock(impl_->idle_mutex);
  impl_->idle.wait(lock, [this] { return impl_->pending.load(std::memory_order_acquire) == 0; });
}

std::future<void> Executor::run(Taskflow& flow) {
  if (impl_->workers == 0) throw std::runtime_error(kNoWorkersText);
  auto state = std::make_shared<GraphRun>();
  std::future<void> result = state->done.get_future();
  for (auto& node : flow.nodes_) state->nodes.push_back(node.get());
  if (state->nodes.empty()) {
    state->done.set_value();
    return result;
  }
  if (!isAcyclic(state->nodes)) {
    state->done.set_exception(std::make_exception_ptr(std::runtime_error(kCycleText)));
    return result;
  }
  const size_t count = state->nodes.size();
  state->join = std::make_unique<std::atomic<size_t>[]>(count);
  for (size_t i = 0; i < count; ++i) {
    state->slot[state->nodes[i]] = i;
    state->join[i].store(state->nodes[i]->num_dependents, std::memory_order_relaxed);
  }
  state->remaining.store(count, std::memory_order_relaxed);

  // Each finished node releases its successors; the last one to finish completes the future.
  auto runNode = std::make_shared<std::function<void(Node*)>>();
  *runNode = [this, state, weak = std::weak_ptr<std::function<void(Node*)>>(runNode)](Node* node) {
    auto self = weak.lock();
    if (node->work && !state->failed.load(std::memory_order_acquire)) {
      try {
        node->work();
      } catch (...) {
        bool expected = false;
        if (state->failed.compare_exchange_strong(expected, true)) state->error = std::current_exception();
      }
    }
    for (Node* next : node->successors) {
      if (state->join[state->slot.at(next)].fetch_sub(1, std::memory_order_acq_rel) == 1) {
        schedule([self, next] { (*self)(next); });
      }
    }
    if (state->remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      if (state->error) {
        state->done.set_exception(state->error);
      } else {
        state->done.set_value();
      }
    }
  };
  for (Node* node : state->nodes) {
    if (node->num_dependents == 0) schedule([runNode, node] { (*runNode)(node); });
  }
  return result;
}

}  // namespace tf
