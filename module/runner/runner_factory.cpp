#include "module/runner/runner_factory.h"

#include <utility>

#include "module/common/log.h"
#include "module/common/missing_key.h"

namespace krell::det {

RunnerFactory& RunnerFactory::instance() {
    static RunnerFactory factory;  // reached from other files' static initialisers
    return factory;
}

bool RunnerFactory::registerClass(const std::string& name, Creator creator) {
    if (!creators_.emplace(name, std::move(creator)).second) {
        DET_LOG(kLogError) << "[INIT][RunnerFactory][register] operator with name " << name
                           << " already exists!" << kLogReset;
        return false;
    }
    return true;
}

std::shared_ptr<Runner> RunnerFactory::create(const std::string& name,
                                              const ModelParameter& parameter) const {
    const auto found = creators_.find(name);
    if (found == creators_.end()) {
        DET_LOG(kLogError) << "[INIT][RunnerFactory][create] Can not find Runner with name " << name
                           << kLogReset;
        throwMissingKey();
    }
    return found->second(parameter);
}

}  // namespace krell::det
