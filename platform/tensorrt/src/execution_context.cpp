#include "platform/tensorrt/src/execution_context.h"

#include <exception>

namespace trt_host {

struct ExecutionContext::Job {
    ExecutionContext* context;
    std::vector<void*> bindings;
};

ExecutionContext::ExecutionContext(std::shared_ptr<const Graph> graph,
                                   const nvinfer1::ICudaEngine& engine, nvinfer1::ILogger& logger)
    : graph_(graph),
      engine_(engine),
      logger_(logger),
      max_batch_(engine.getMaxBatchSize()),
      executor_(std::move(graph)) {}

ExecutionContext::~ExecutionContext() noexcept {
    std::unique_lock<std::mutex> lock(pending_mutex_);
    pending_done_.wait(lock, [this] { return pending_ == 0; });
    lock.unlock();
    setErrorRecorder(nullptr);
}

void ExecutionContext::setErrorRecorder(nvinfer1::IErrorRecorder* recorder) noexcept {
    if (recorder != nullptr) {
        recorder->incRefCount();
    }
    if (recorder_ != nullptr) {
        recorder_->decRefCount();
    }
    recorder_ = recorder;
}

void ExecutionContext::reportError(nvinfer1::ErrorCode code, const std::string& message) {
    if (recorder_ != nullptr) {
        recorder_->reportError(code, message.c_str());
    } else {
        logger_.log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
    }
}

bool ExecutionContext::checkArguments(int32_t batchSize, void* const* bindings,
                                      const char* caller) {
    const int32_t batch = max_batch_;
    if (batchSize < 1 || batchSize > batch) {
        reportError(nvinfer1::ErrorCode::kINVALID_ARGUMENT,
                    std::string(caller) + ": batch size " + std::to_string(batchSize) +
                        " outside 1.." + std::to_string(batch));
        return false;
    }
    const std::size_t count = graph_->inputs.size() + graph_->outputs.size();
    for (std::size_t i = 0; bindings != nullptr && i < count; ++i) {
        if (bindings[i] == nullptr) {
            reportError(nvinfer1::ErrorCode::kINVALID_ARGUMENT,
                        std::string(caller) + ": binding " + std::to_string(i) + " is null");
            return false;
        }
    }
    if (bindings == nullptr) {
        reportError(nvinfer1::ErrorCode::kINVALID_ARGUMENT,
                    std::string(caller) + ": bindings is null");
        return false;
    }
    return true;
}

bool ExecutionContext::runNow(void* const* bindings) noexcept {
    try {
        std::lock_guard<std::mutex> lock(run_mutex_);
        executor_.run(bindings, profiler_);
        return true;
    } catch (const std::exception& e) {
        reportError(nvinfer1::ErrorCode::kFAILED_EXECUTION,
                    std::string("inference failed: ") + e.what());
        return false;
    }
}

void ExecutionContext::runJob(void* job) noexcept {
    std::unique_ptr<Job> owned(static_cast<Job*>(job));
    ExecutionContext* context = owned->context;
    context->runNow(owned->bindings.data());
    std::lock_guard<std::mutex> lock(context->pending_mutex_);
    --context->pending_;
    context->pending_done_.notify_all();
}

bool ExecutionContext::execute(int32_t batchSize, void* const* bindings) noexcept {
    return checkArguments(batchSize, bindings, "execute") && runNow(bindings);
}

bool ExecutionContext::executeV2(void* const* bindings) noexcept {
    return execute(max_batch_, bindings);
}

bool ExecutionContext::enqueue(int32_t batchSize, void* const* bindings, cudaStream_t stream,
                               cudaEvent_t*) noexcept {
    if (!checkArguments(batchSize, bindings, "enqueue")) {
        return false;
    }
    Job* job = nullptr;
    try {
        job = new Job{this, std::vector<void*>(bindings, bindings + graph_->inputs.size() +
                                                             graph_->outputs.size())};
    } catch (const std::exception&) {
        reportError(nvinfer1::ErrorCode::kFAILED_ALLOCATION, "enqueue: out of memory");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        ++pending_;
    }
    const cudaError_t status = cudaLaunchHostFunc(stream, &ExecutionContext::runJob, job);
    if (status != cudaSuccess) {
        delete job;
        std::lock_guard<std::mutex> lock(pending_mutex_);
        --pending_;
        pending_done_.notify_all();
        reportError(
            nvinfer1::ErrorCode::kINVALID_ARGUMENT,
            std::string("enqueue: cannot queue on the stream: ") + cudaGetErrorString(status));
        return false;
    }
    return true;
}

bool ExecutionContext::enqueueV2(void* const* bindings, cudaStream_t stream,
                                 cudaEvent_t* inputConsumed) noexcept {
    return enqueue(max_batch_, bindings, stream, inputConsumed);
}

}  // namespace trt_host
