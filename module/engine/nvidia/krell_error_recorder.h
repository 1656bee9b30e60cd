// KrellErrorRecorder: keeps the errors TensorRT reports during execution.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "NvInferRuntimeBase.h"
#include "module/engine/nvidia/tool/hlogging.h"

namespace krell::det {

class KrellErrorRecorder : public nvinfer1::IErrorRecorder {
public:
    //! logger (borrowed, may be null) receives the recorder's own internal failures; it must
    //! outlive the recorder.
    explicit KrellErrorRecorder(Logger* logger) : logger_(logger) {}

    //! Every operation below may be called from any thread.
    int32_t getNbErrors() const noexcept override;
    //! kINVALID_ARGUMENT for an index outside 0..count-1.
    nvinfer1::ErrorCode getErrorCode(int32_t errorIdx) const noexcept override;
    //! "errorIdx out of range." for an index outside 0..count-1. The text stays valid until clear.
    ErrorDesc getErrorDesc(int32_t errorIdx) const noexcept override;
    //! Never overflows (the list grows).
    bool hasOverflowed() const noexcept override { return false; }
    void clear() noexcept override;
    //! Appends (val, copy of desc); returns true, every error being fatal.
    bool reportError(nvinfer1::ErrorCode val, ErrorDesc desc) noexcept override;
    RefCount incRefCount() noexcept override { return ++ref_count_; }
    RefCount decRefCount() noexcept override { return --ref_count_; }

private:
    bool validIndex(int32_t errorIdx) const;
    void reportInternal(const char* text) noexcept;

    Logger* logger_;
    mutable std::mutex mutex_;  // guards errors_ (reads too: TensorRT threads may append)
    std::atomic<int32_t> ref_count_{0};
    // A deque: appending never moves stored descriptions, so texts handed out stay valid.
    std::deque<std::pair<nvinfer1::ErrorCode, std::string>> errors_;
};

}  // namespace krell::det
