#include "taskflow/core/task.hpp"

namespace tf {

Task& Task::name(const std::string& name) {
    node_->name = name;
    return *this;
}

const std::string& Task::name() const {
    return node_->name;
}

void Task::setWork(std::function<void()> work) {
    node_->condition = nullptr;
    node_->work = std::move(work);
}

void Task::setCondition(std::function<int()> condition) {
    node_->work = nullptr;
    node_->condition = std::move(condition);
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
