#include "module/engine/nvidia/tool/hlogging.h"

#include "module/common/log.h"

namespace krell::det {

void Logger::log(Severity severity, const nvinfer1::AsciiChar* msg) noexcept {
    if (severity > reportable_) {
        return;
    }
    const char* tag = "[INIT][TRT_KR_LOG][I] ";
    uint8_t level = kLogInfo;
    switch (severity) {
        case Severity::kINTERNAL_ERROR:
            tag = "[INIT][TRT_KR_LOG][IE] ";
            level = kLogError;
            break;
        case Severity::kERROR:
            tag = "[INIT][TRT_KR_LOG][E] ";
            level = kLogError;
            break;
        case Severity::kWARNING:
            tag = "[INIT][TRT_KR_LOG][W] ";
            level = kLogWarning;
            break;
        default:
            break;  // info and verbose share the info tag
    }
    try {
        DET_LOG(level) << tag << (msg == nullptr ? "" : msg) << kLogReset;
    } catch (...) {
        // Composing the line ran out of memory; TensorRT must not see an exception.
    }
}

}  // namespace krell::det
