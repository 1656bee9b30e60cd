#include "module/common/data_structure/base_modal.h"

#include <utility>

#include "module/common/log.h"
#include "module/common/missing_key.h"

namespace krell::det {

namespace {

template <typename Map, typename Value>
void addOnce(Map& map, const std::string& name, Value value, const char* prefix) {
    if (!map.emplace(name, std::move(value)).second) {
        DET_LOG(kLogError) << prefix << "item with name " << name << " already exists!"
                           << kLogReset;
    }
}

template <typename Map>
const typename Map::mapped_type& findOrThrow(const Map& map, const std::string& name,
                                             const char* what) {
    const auto found = map.find(name);
    if (found == map.end()) {
        DET_LOG(kLogError) << what << name << kLogReset;
        throwMissingKey();
    }
    return found->second;
}

}  // namespace

BaseModal::BaseModal(const BaseModalParameter& parameter)
    : name_(parameter.contains("name") ? parameter.get("name").get<std::string>() : ""),
      parameter_(parameter) {}

void BaseModal::addData(const std::string& name, std::shared_ptr<Buffer> buffer) {
    addOnce(data_, name, std::move(buffer), "[BaseModal][addData] ");
}

const std::shared_ptr<Buffer>& BaseModal::data(const std::string& name) const {
    return findOrThrow(data_, name, "[BaseModal][data] can not find data item with name ");
}

bool BaseModal::containData(const std::string& name) const {
    return data_.count(name) > 0;
}

void BaseModal::addAttr(const std::string& name, int32_t value) {
    addOnce(attrs32_, name, value, "[BaseModal][addAttr] ");
}

void BaseModal::addAttr(const std::string& name, int64_t value) {
    addOnce(attrs64_, name, value, "[BaseModal][addAttr] ");
}

template <>
int32_t BaseModal::attr<int32_t>(const std::string& name) const {
    return findOrThrow(attrs32_, name, "[BaseModal][attr] can not find attr item with name ");
}

template <>
int64_t BaseModal::attr<int64_t>(const std::string& name) const {
    return findOrThrow(attrs64_, name, "[BaseModal][attr] can not find attr item with name ");
}

uint32_t BaseModal::readAttr(const std::string& key) const {
    return parameter_.get(key).get<uint32_t>();
}

}  // namespace krell::det
