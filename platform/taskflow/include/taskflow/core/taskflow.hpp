#pragma once
// tf::Taskflow: a directed graph of tasks, built on one thread and run by tf::Executor. The graph
// must not be changed, moved or destroyed while a run of it is pending (queued or in progress).
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "taskflow/core/export.hpp"
#include "taskflow/core/node.hpp"
#include "taskflow/core/task.hpp"

namespace tf {

class Executor;

namespace detail {
struct GraphRun;  // one run of a graph; defined by the executor
}  // namespace detail

class TF_API Taskflow {
public:
    Taskflow();
    explicit Taskflow(std::string name);
    ~Taskflow();
    Taskflow(const Taskflow&) = delete;
    Taskflow& operator=(const Taskflow&) = delete;
    //! Moves the tasks and the name; the run queue is not moved (no run may be pending).
    Taskflow(Taskflow&& other) noexcept;
    Taskflow& operator=(Taskflow&& other) noexcept;

    //! Adds a task that calls `callable` (no arguments) and returns its handle. As in Taskflow, a
    //! callable whose result converts to int (int, bool, size_t, ...) makes a *condition task*:
    //! its result is the index, in precede() order, of the one successor that runs next (none
    //! when out of range). Its edges are weak: they neither count towards a successor's
    //! predecessors nor close a cycle, so a condition may lead back to an earlier task (a loop).
    //! Any other result is ignored (a static task).
    template <typename C>
    Task emplace(C&& callable) {
        using D = std::decay_t<C>;
        static_assert(std::is_invocable_v<D&>, "a task is called with no arguments");
        if constexpr (std::is_invocable_r_v<int, D&>) {
            return addCondition(std::function<int()>(std::forward<C>(callable)));
        } else {
            return addNode(std::function<void()>(std::forward<C>(callable)));
        }
    }

    //! Adds several tasks at once; returns their handles in argument order.
    template <typename... Cs, typename = std::enable_if_t<(sizeof...(Cs) > 1)>>
    auto emplace(Cs&&... callables) {
        return std::make_tuple(emplace(std::forward<Cs>(callables))...);
    }

    //! Adds a task without work, useful only to order others.
    Task placeholder();

    size_t num_tasks() const { return nodes_.size(); }
    bool empty() const { return nodes_.empty(); }
    //! Removes every task; handles to them become dangling.
    void clear();

    const std::string& name() const { return name_; }
    void name(const std::string& name) { name_ = name; }

private:
    friend class Executor;
    Task addNode(std::function<void()> work);
    Task addCondition(std::function<int()> condition);

    std::string name_;
    std::vector<std::unique_ptr<Node>> nodes_;
    // Runs of this graph wait here, as in Taskflow, so that two never overlap: the front one is in
    // progress, the others start in turn as the one before ends.
    std::mutex runs_mutex_;  // guards runs_
    std::deque<std::shared_ptr<detail::GraphRun>> runs_;
};

}  // namespace tf
