#include "taskflow/core/taskflow.hpp"

namespace tf {

Taskflow::Taskflow() = default;
Taskflow::Taskflow(std::string name) : name_(std::move(name)) {}
Taskflow::~Taskflow() = default;

Taskflow::Taskflow(Taskflow&& other) noexcept
    : name_(std::move(other.name_)), nodes_(std::move(other.nodes_)) {}

Taskflow& Taskflow::operator=(Taskflow&& other) noexcept {
    name_ = std::move(other.name_);
    nodes_ = std::move(other.nodes_);
    return *this;
}

Task Taskflow::placeholder() {
    return addNode(std::function<void()>());
}

void Taskflow::clear() {
    nodes_.clear();
}

Task Taskflow::addNode(std::function<void()> work) {
    nodes_.push_back(std::make_unique<Node>());
    nodes_.back()->work = std::move(work);
    return Task(nodes_.back().get());
}

Task Taskflow::addCondition(std::function<int()> condition) {
    nodes_.push_back(std::make_unique<Node>());
    nodes_.back()->condition = std::move(condition);
    return Task(nodes_.back().get());
}

}  // namespace tf
