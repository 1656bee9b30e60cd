#pragma once
// tf::Task: a light handle to one node of a tf::Taskflow. Copying a handle copies the reference;
// the node belongs to the graph and dies with it (or with Taskflow::clear).
#include <cstddef>
#include <functional>
#include <string>

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
    //! Replaces the work of the task. Not while a run of its graph is in progress.
    Task& work(std::function<void()> work);

    size_t num_successors() const;
    size_t num_dependents() const;
    //! True for a default-constructed handle.
    bool empty() const { return node_ == nullptr; }

    bool operator==(const Task& other) const { return node_ == other.node_; }
    bool operator!=(const Task& other) const { return node_ != other.node_; }

private:
    static void addEdge(const Task& from, const Task& to);

    Node* node_ = nullptr;
};

}  // namespace tf
