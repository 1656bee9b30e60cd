#include "module/operator/operator_factory.h"

#include <utility>

#include "module/common/log.h"
#include "module/common/missing_key.h"

namespace krell::det {

OperatorFactory& OperatorFactory::instance() {
    static OperatorFactory factory;  // reached from other files' static initialisers
    return factory;
}

bool OperatorFactory::registerClass(const std::string& name, Creator creator) {
    if (!creators_.emplace(name, std::move(creator)).second) {
        DET_LOG(kLogError) << "[INIT][OperatorFactory][register] operator with name " << name
                           << " already exists!" << kLogReset;
        return false;
    }
    return true;
}

std::shared_ptr<Operator> OperatorFactory::create(const std::string& name,
                                                  const BaseParameter& parameter) const {
    const auto found = creators_.find(name);
    if (found == creators_.end()) {
        DET_LOG(kLogError) << "[INIT][OperatorFactory][create] Can not find operator with name "
                           << name << kLogReset;
        throwMissingKey();
    }
    return found->second(parameter, name);
}

}  // namespace krell::det
