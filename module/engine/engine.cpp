#include "module/engine/engine.h"

#include <utility>

#include "module/common/data_structure/data_type.h"
#include "module/common/log.h"
#include "module/common/missing_key.h"
#include "module/engine/engine_provider.h"

namespace krell::det {

Engine::Engine(const EngineParameter& parameter, std::string name)
    : batch_size_(parameter.batchSize()),
      name_(std::move(name)),
      data_type_(parameter.dataType().empty() ? kDataTypeUnknown
                                              : getDataType(parameter.dataType())),
      parameter_(parameter) {}

void Engine::registerBuffers(const EngineProvider& runner) {
    const EngineParameter& own = runner.modelParameter().engine(name_);
    if (!own.contains("registration")) {
        return;
    }
    for (const auto& [local, source] : own.get("registration").items()) {
        const std::string reference = source.get<std::string>();
        const size_t dot = reference.find('.');
        if (dot == std::string::npos || reference.find('.', dot + 1) != std::string::npos) {
            DET_LOG(kLogError) << "[Engine][registerBuffers] registration " << local << " of "
                               << name_ << " must read <engine>.<buffer>, not " << reference
                               << kLogReset;
            continue;
        }
        const auto& owner = runner.engine(reference.substr(0, dot));
        setBuffer(local, owner->getBuffer(reference.substr(dot + 1)));
    }
}

void Engine::setBuffer(const std::string& name, std::shared_ptr<Buffer> buffer) {
    auto found = buffers_.find(name);
    if (found == buffers_.end()) {
        buffers_.emplace(name, std::move(buffer));
        return;
    }
    DET_LOG(kLogInfo) << "[Engine][setBuffer] buffer with name " << name << " already exists in "
                      << name_ << ", now it will be replaced" << kLogReset;
    found->second = std::move(buffer);
}

bool Engine::swapBindings(const std::string&, const std::string&) {
    return false;  // an engine without a binding table of its own has nothing to rebind
}

const std::shared_ptr<Buffer>& Engine::getBuffer(const std::string& name) const {
    const auto found = buffers_.find(name);
    if (found == buffers_.end()) {
        DET_LOG(kLogError) << "[Engine][getBuffer] can not find buffer with name " << name << " in "
                           << name_ << kLogReset;
        throwMissingKey();
    }
    return found->second;
}

}  // namespace krell::det
