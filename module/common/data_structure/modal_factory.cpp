#include "module/common/data_structure/modal_factory.h"

#include <utility>

#include "module/common/log.h"
#include "module/common/missing_key.h"

namespace krell::det {

ModalFactory& ModalFactory::instance() {
    // Function-local: registrations from other translation units' static initialisers may run
    // before anything else in this file.
    static ModalFactory factory;
    return factory;
}

bool ModalFactory::registerClass(const std::string& name, Creator creator) {
    if (!creators_.emplace(name, std::move(creator)).second) {
        DET_LOG(kLogError) << "[INIT][ModalFactory][register] operator with name " << name
                           << " already exists!" << kLogReset;
        return false;
    }
    return true;
}

std::shared_ptr<BaseModal> ModalFactory::create(const BaseModalParameter& parameter) const {
    const std::string type = parameter.get("type").get<std::string>();
    const auto found = creators_.find(type);
    if (found == creators_.end()) {
        DET_LOG(kLogError) << "[INIT][ModalFactory][create] Can not find operator with name "
                           << type << kLogReset;
        throwMissingKey();
    }
    return found->second(parameter);
}

}  // namespace krell::det
