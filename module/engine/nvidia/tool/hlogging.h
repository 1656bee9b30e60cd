// Logger: the TensorRT logger of the framework, forwarding TensorRT messages to the log facility.
// (The file keeps the name "hlogging": the log headers of TensorRT messages print it.)
#pragma once

#include "NvInferRuntimeBase.h"

namespace krell::det {

class Logger : public nvinfer1::ILogger {
public:
    //! Messages more severe than or equal to reportable (lower or equal value) are logged.
    explicit Logger(Severity reportable = Severity::kERROR) : reportable_(reportable) {}

    //! Logs "[INIT][TRT_KR_LOG][<tag>] " + msg at the level matching severity; messages less
    //! severe than the reportable severity are ignored. Callable from any thread.
    void log(Severity severity, const nvinfer1::AsciiChar* msg) noexcept override;

    Severity reportableSeverity() const { return reportable_; }

private:
    Severity reportable_;
};

}  // namespace krell::det
