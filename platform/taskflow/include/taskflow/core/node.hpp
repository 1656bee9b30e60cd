#pragma once
// One vertex of a task graph: the work, its name and its edges. Owned by its tf::Taskflow.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tf {

struct Node {
    std::string name;
    // At most one of the two is set; with neither the node is a placeholder that only orders its
    // neighbours. A condition returns the index (in precede() order) of the one successor to run.
    std::function<void()> work;
    std::function<int()> condition;
    std::vector<Node*> successors;  // not owned; nodes of the same graph
    size_t num_dependents = 0;      // number of nodes that list this one as a successor

    bool isCondition() const { return static_cast<bool>(condition); }
};

}  // namespace tf
