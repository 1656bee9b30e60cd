#include "platform/tensorrt/src/runtime.h"

#include <exception>
#include <memory>
#include <string>

#include "platform/tensorrt/src/blob_codec.h"
#include "platform/tensorrt/src/cuda_engine.h"

namespace trt_host {

Runtime::~Runtime() noexcept {
    setErrorRecorder(nullptr);
}

void Runtime::setErrorRecorder(nvinfer1::IErrorRecorder* recorder) noexcept {
    if (recorder != nullptr) {
        recorder->incRefCount();
    }
    if (recorder_ != nullptr) {
        recorder_->decRefCount();
    }
    recorder_ = recorder;
}

nvinfer1::ICudaEngine* Runtime::deserializeCudaEngine(void const* blob, std::size_t size) noexcept {
    std::string error;
    try {
        auto graph = std::make_shared<Graph>();
        if (BlobCodec::decode(blob, size, *graph, error)) {
            return new CudaEngine(std::move(graph), logger_);
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    const std::string message = "deserializeCudaEngine: " + error;
    if (recorder_ != nullptr) {
        recorder_->reportError(nvinfer1::ErrorCode::kINVALID_ARGUMENT, message.c_str());
    } else {
        logger_.log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
    }
    return nullptr;
}

}  // namespace trt_host

extern "C" void* createInferRuntime_INTERNAL(void* logger, int32_t version) noexcept {
    if (logger == nullptr) {
        return nullptr;
    }
    auto* sink = static_cast<nvinfer1::ILogger*>(logger);
    if (version / 1000 != NV_TENSORRT_MAJOR) {
        const std::string message = "createInferRuntime: version " + std::to_string(version) +
                                    " does not match this library (" +
                                    std::to_string(NV_TENSORRT_VERSION) + ")";
        sink->log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
        return nullptr;
    }
    return static_cast<nvinfer1::IRuntime*>(new (std::nothrow) trt_host::Runtime(*sink));
}
