// RunnerFactory: the process-wide registry of runner classes by class name. QuantedRimgRunner
// registers itself during static initialisation (programs link the whole runner library, see
// module/runner/CMakeLists.txt). Register during start-up; create from one thread afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "module/runner/runner.h"

namespace krell::det {

class RunnerFactory {
public:
    using Creator = std::function<std::shared_ptr<Runner>(const ModelParameter&)>;

    static RunnerFactory& instance();

    //! Adds creator under name; an existing name logs and keeps the first. Returns whether
    //! creator was added.
    bool registerClass(const std::string& name, Creator creator);
    //! A new runner of class name; an unknown class logs, then throws std::out_of_range.
    std::shared_ptr<Runner> create(const std::string& name, const ModelParameter& parameter) const;
    bool contains(const std::string& name) const { return creators_.count(name) > 0; }

private:
    RunnerFactory() = default;

    std::unordered_map<std::string, Creator> creators_;
};

}  // namespace krell::det
