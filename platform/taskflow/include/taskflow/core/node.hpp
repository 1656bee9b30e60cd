#pragma once
// One vertex of a task graph: the work, its name and its edges. Owned by its tf::Taskflow.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tf {

struct Node {
    std::string name;
    std::function<void()> work;     // empty for a placeholder: the node only orders its neighbours
    std::vector<Node*> successors;  // not owned; nodes of the same graph
    size_t num_dependents = 0;      // number of nodes that list this one as a successor
};

}  // namespace tf
