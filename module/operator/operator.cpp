#include "module/operator/operator.h"

#include <algorithm>
#include <utility>

#include "module/common/log.h"

namespace krell::det {

Operator::Operator(const BaseParameter& parameter, std::string name,
                   std::vector<std::string> bufferNames)
    : parameter_(parameter), name_(std::move(name)), buffer_names_(std::move(bufferNames)) {}

bool Operator::declares(const std::string& name) const {
    return std::find(buffer_names_.begin(), buffer_names_.end(), name) != buffer_names_.end();
}

void Operator::setBuffer(const std::string& name, std::shared_ptr<Buffer> buffer) {
    if (!declares(name)) {
        DET_LOG(kLogError) << "[INIT][Operator][setBuffer] Can not find buffer with name " << name
                           << " in operator " << name_ << kLogReset;
        return;
    }
    buffers_[name] = std::move(buffer);
}

std::shared_ptr<Buffer> Operator::buffer(const std::string& name) const {
    const auto found = buffers_.find(name);
    return found == buffers_.end() ? nullptr : found->second;
}

}  // namespace krell::det
