#pragma once
// tf::Task: a light handle to one node of a tf::Taskflow. Copying a handle copies the reference;
// the node belongs to the graph and dies with it (or with Taskflow::clear).
#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "taskflow/core/export.hpp"
#include "taskflow/core/node.hpp"

namespace tf {

class TF_API Task {
public:
    //! An empty handle; every call except empty() on it is undefined.
    Task() = default;
    explicit Task(Node* node) : node_(node) {}

    //! Makes each of `tasks` run only after this one has finished. Returns *this.
    template <typename... Ts>
    Task& precede(Ts&&... tasks) {
        (addEdge(*this, tasks), ...);
        return *this;
    }

    //! Makes this task run only after each of `tasks` has finished. Returns *this.
    template <typename... Ts>
    Task& succeed(Ts&&... tasks) {
        (addEdge(tasks, *this), ...);
        return *this;
    }

    //! Sets the name (for diagnostics only). Returns *this.
    Task& name(const std::string& name);
    //! The name set last; empty by default.
    const std::string& name() const;
    //! Replaces the work of the task, with Taskflow's rule for its kind: a callable whose result
    //! converts to int makes a condition task (see Taskflow::emplace), any other a static task.
    //! An empty std::function makes a placeholder. Not while a run of its graph is pending.
    template <typename C>
    Task& work(C&& callable) {
        using D = std::decay_t<C>;
        static_assert(std::is_invocable_v<D&>, "a task is called with no arguments");
        if constexpr (std::is_invocable_r_v<int, D&>) {
            setCondition(std::function<int()>(std::forward<C>(callable)));
        } else {
            setWork(std::function<void()>(std::forward<C>(callable)));
        }
        return *this;
    }

    size_t num_successors() const;
    size_t num_dependents() const;
    //! True for a default-constructed handle.
    bool empty() const { return node_ == nullptr; }

    bool operator==(const Task& other) const { return node_ == other.node_; }
    bool operator!=(const Task& other) const { return node_ != other.node_; }

private:
    static void addEdge(const Task& from, const Task& to);
    void setWork(std::function<void()> work);
    void setCondition(std::function<int()> condition);

    Node* node_ = nullptr;
};

}  // namespace tf
