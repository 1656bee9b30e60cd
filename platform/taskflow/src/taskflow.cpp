#include "taskflow/core/taskflow.hpp"

namespace tf {

Taskflow::Taskflow() = default;
Taskflow::Taskflow(std::string name) : name_(std::move(name)) {}
Taskflow::~Taskflow() = default;
Taskflow::Taskflow(Taskflow&&) noexcept = default;
Taskflow& Taskflow::operator=(Taskflow&&) noexcept = default;

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

}  // namespace tf
