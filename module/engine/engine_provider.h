// EngineProvider: what an engine needs from the runner that owns it to wire shared buffers (the
// model parameters and the other engines by name). Runner implements it; the engine library
// thereby stays free of the runner library.
#pragma once

#include <memory>
#include <string>

#include "module/common/parameter.h"

namespace krell::det {

class Engine;

class EngineProvider {
public:
    virtual ~EngineProvider() = default;
    //! The whole parameter model of the runner.
    virtual const ModelParameter& modelParameter() const = 0;
    //! The loaded engine of that name; a missing name logs, then throws std::out_of_range.
    virtual const std::shared_ptr<Engine>& engine(const std::string& name) const = 0;
};

}  // namespace krell::det
