// Processor: a named, ordered group of operators built from one ProcessParameter. One thread
// drives a processor.
#pragma once

#include <cuda_runtime_api.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/common/parameter.h"
#include "module/operator/operator.h"

namespace krell::det {

class Processor {
public:
    //! Creates every operator through OperatorFactory, by operator name, in file order. An
    //! unknown operator class logs, then throws std::out_of_range.
    explicit Processor(const ProcessParameter& parameter);

    //! The operator of that name; a missing name logs, then throws std::out_of_range.
    const std::shared_ptr<Operator>& getOperator(const std::string& name) const;
    //! Hands buffer to every operator that declared name; when none did, logs once.
    void setBuffer(const std::string& name, const std::shared_ptr<Buffer>& buffer);
    //! Hands stream to every operator.
    void setStream(cudaStream_t stream);

    const std::string& name() const { return name_; }
    //! Operator names in file order.
    const std::vector<std::string>& operatorOrder() const { return order_; }

private:
    std::string name_;
    std::map<std::string, std::shared_ptr<Operator>> operators_;
    std::vector<std::string> order_;
};

}  // namespace krell::det
