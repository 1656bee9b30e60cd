// EngineFactory: the process-wide registry of engine classes by class name. NvGPUEngine
// registers itself during static initialisation (programs link the whole engine library, see
// module/engine/CMakeLists.txt). Register during start-up; create from one thread afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "module/engine/engine.h"

namespace krell::det {

class EngineFactory {
public:
    using Creator =
        std::function<std::shared_ptr<Engine>(const EngineParameter&, const std::string& name)>;

    static EngineFactory& instance();

    //! Adds creator under name; an existing name logs and keeps the first. Returns whether
    //! creator was added.
    bool registerClass(const std::string& name, Creator creator);
    //! A new engine of the class named by the parameter's "type". An unknown class logs, then
    //! throws std::out_of_range; the JSON library's errors pass through.
    std::shared_ptr<Engine> create(const EngineParameter& parameter, const std::string& name) const;
    bool contains(const std::string& name) const { return creators_.count(name) > 0; }

private:
    EngineFactory() = default;

    std::unordered_map<std::string, Creator> creators_;
};

}  // namespace krell::det
