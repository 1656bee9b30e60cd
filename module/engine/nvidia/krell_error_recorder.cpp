#include "module/engine/nvidia/krell_error_recorder.h"

#include <exception>

namespace krell::det {

namespace {
constexpr const char* kOutOfRangeDesc = "errorIdx out of range.";
}  // namespace

bool KrellErrorRecorder::validIndex(int32_t errorIdx) const {
    return errorIdx >= 0 && static_cast<size_t>(errorIdx) < errors_.size();
}

int32_t KrellErrorRecorder::getNbErrors() const noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(errors_.size());
}

nvinfer1::ErrorCode KrellErrorRecorder::getErrorCode(int32_t errorIdx) const noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return validIndex(errorIdx) ? errors_[static_cast<size_t>(errorIdx)].first
                                : nvinfer1::ErrorCode::kINVALID_ARGUMENT;
}

nvinfer1::IErrorRecorder::ErrorDesc KrellErrorRecorder::getErrorDesc(
    int32_t errorIdx) const noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return validIndex(errorIdx) ? errors_[static_cast<size_t>(errorIdx)].second.c_str()
                                : kOutOfRangeDesc;
}

void KrellErrorRecorder::clear() noexcept {
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.clear();
    } catch (const std::exception& e) {
        reportInternal(e.what());
    }
}

bool KrellErrorRecorder::reportError(nvinfer1::ErrorCode val, ErrorDesc desc) noexcept {
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.emplace_back(val, desc == nullptr ? "" : desc);
    } catch (const std::exception& e) {
        reportInternal(e.what());
    }
    return true;
}

void KrellErrorRecorder::reportInternal(const char* text) noexcept {
    if (logger_ != nullptr) {
        logger_->log(nvinfer1::ILogger::Severity::kINTERNAL_ERROR, text);
    }
}

}  // namespace krell::det
