// IRuntime of the stand-in: validates engine blobs and turns them into engines.
#pragma once

#include "NvInferRuntime.h"

namespace trt_host {

//! One thread at a time. The logger is borrowed; the recorder is reference counted.
class Runtime final : public nvinfer1::IRuntime {
public:
    explicit Runtime(nvinfer1::ILogger& logger) : logger_(logger) {}
    ~Runtime() noexcept override;
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    nvinfer1::ICudaEngine* deserializeCudaEngine(void const* blob,
                                                 std::size_t size) noexcept override;
    void setDLACore(int32_t dlaCore) noexcept override { dla_core_ = dlaCore; }
    int32_t getDLACore() const noexcept override { return dla_core_; }
    int32_t getNbDLACores() const noexcept override { return 0; }
    void setErrorRecorder(nvinfer1::IErrorRecorder* recorder) noexcept override;
    nvinfer1::IErrorRecorder* getErrorRecorder() const noexcept override { return recorder_; }
    nvinfer1::ILogger* getLogger() const noexcept override { return &logger_; }

private:
    nvinfer1::ILogger& logger_;
    nvinfer1::IErrorRecorder* recorder_{nullptr};
    int32_t dla_core_{0};
};

}  // namespace trt_host
