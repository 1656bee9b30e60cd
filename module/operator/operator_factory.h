// OperatorFactory: the process-wide registry of operator classes by class name (empty in this
// program). Register during start-up; create from one thread afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "module/operator/operator.h"

namespace krell::det {

class OperatorFactory {
public:
    using Creator =
        std::function<std::shared_ptr<Operator>(const BaseParameter&, const std::string& name)>;

    static OperatorFactory& instance();

    //! Adds creator under name; an existing name logs and keeps the first. Returns whether
    //! creator was added.
    bool registerClass(const std::string& name, Creator creator);
    //! A new operator of class name; an unknown class logs, then throws std::out_of_range.
    std::shared_ptr<Operator> create(const std::string& name, const BaseParameter& parameter) const;
    bool contains(const std::string& name) const { return creators_.count(name) > 0; }

private:
    OperatorFactory() = default;

    std::unordered_map<std::string, Creator> creators_;
};

}  // namespace krell::det
