#pragma once
// tf::Taskflow: a directed acyclic graph of tasks, built on one thread and run by tf::Executor.
// The graph must not be changed, moved or destroyed while a run of it is in progress.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "taskflow/core/export.hpp"
#include "taskflow/core/node.hpp"
#include "taskflow/core/task.hpp"

namespace tf {

class Executor;

class TF_API Taskflow {
public:
    Taskflow();
    explicit Taskflow(std::string name);
    ~Taskflow();
    Taskflow(const Taskflow&) = delete;
    Taskflow& operator=(const Taskflow&) = delete;
    Taskflow(Taskflow&&) noexcept;
    Taskflow& operator=(Taskflow&&) noexcept;

    //! Adds a task that calls `callable` (no arguments, result ignored). Returns its handle.
    template <typename C>
    Task emplace(C&& callable) {
        return addNode(std::function<void()>([fn = std::forward<C>(callable)]() mutable { fn(); }));
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

    std::string name_;
    std::vector<std::unique_ptr<Node>> nodes_;
};

}  // namespace tf
