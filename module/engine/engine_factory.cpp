#include "module/engine/engine_factory.h"

#include <utility>

#include "module/common/log.h"
#include "module/common/missing_key.h"

namespace krell::det {

EngineFactory& EngineFactory::instance() {
    static EngineFactory factory;  // reached from other files' static initialisers
    return factory;
}

bool EngineFactory::registerClass(const std::string& name, Creator creator) {
    if (!creators_.emplace(name, std::move(creator)).second) {
        DET_LOG(kLogError) << "[INIT][EngineFactory][register] operator with name " << name
                           << " already exists!" << kLogReset;
        return false;
    }
    return true;
}

std::shared_ptr<Engine> EngineFactory::create(const EngineParameter& parameter,
                                              const std::string& name) const {
    const std::string type = parameter.get("type").get<std::string>();
    const auto found = creators_.find(type);
    if (found == creators_.end()) {
        DET_LOG(kLogError) << "[INIT][EngineFactory][create] Can not find Engine with name " << type
                           << kLogReset;
        throwMissingKey();
    }
    return found->second(parameter, name);
}

}  // namespace krell::det
