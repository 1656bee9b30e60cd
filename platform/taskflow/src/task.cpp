#include "taskflow/core/task.hpp"

namespace tf {

Task& Task::name(const std::string& name) {
    node_->name = name;
    return *this;
}

const std::string& Task::name() const {
    return node_->name;
}

Task& Task::work(std::function<void()> work) {
    node_->work = std::move(work);
    return *this;
}

size_t Task::num_successors() const {
    return node_->successors.size();
}

size_t Task::num_dependents() const {
    return node_->num_dependents;
}

void Task::addEdge(const Task& from, const Task& to) {
    from.node_->successors.push_back(to.node_);
    ++to.node_->num_dependents;
}

}  // namespace tf
