#include "module/processor/processor.h"

#include "module/common/log.h"
#include "module/common/missing_key.h"
#include "module/operator/operator_factory.h"

namespace krell::det {

Processor::Processor(const ProcessParameter& parameter)
    : name_(parameter.name()), order_(parameter.operatorNames()) {
    for (const std::string& name : order_) {
        operators_[name] = OperatorFactory::instance().create(name, parameter[name]);
    }
}

const std::shared_ptr<Operator>& Processor::getOperator(const std::string& name) const {
    const auto found = operators_.find(name);
    if (found == operators_.end()) {
        DET_LOG(kLogError) << "[Processor][setCPUBuffer] Can not find operater with name " << name
                           << " in " << name_ << kLogReset;
        throwMissingKey();
    }
    return found->second;
}

void Processor::setBuffer(const std::string& name, const std::shared_ptr<Buffer>& buffer) {
    bool taken = false;
    for (const std::string& operatorName : order_) {
        const auto& op = operators_.at(operatorName);
        if (op->declares(name)) {
            op->setBuffer(name, buffer);
            taken = true;
        }
    }
    if (!taken) {
        DET_LOG(kLogError) << "[Processor][setBuffer] no operator of " << name_
                           << " takes a buffer with name " << name << kLogReset;
    }
}

void Processor::setStream(cudaStream_t stream) {
    for (const auto& entry : operators_) {
        entry.second->setStream(stream);
    }
}

}  // namespace krell::det
