#include "platform/tensorrt/src/execution_context.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "platform/cuda/src/allocation_registry.h"
#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {

struct ExecutionContext::Job {
    ExecutionContext* context;
    int32_t batch;
    std::vector<void*> bindings;
};

namespace {

std::size_t elementBytes(nvinfer1::DataType type) {
    switch (type) {
        case nvinfer1::DataType::kHALF:
            return 2;
        case nvinfer1::DataType::kINT8:
            return 1;
        default:
            return 4;
    }
}

}  // namespace

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
    return checkBindingMemory(batchSize, bindings, caller);
}

// A GPU reads and writes bindings in device memory; host memory or a short allocation would
// fault there, so it is refused here before anything runs.
bool ExecutionContext::checkBindingMemory(int32_t batchSize, void* const* bindings,
                                          const char* caller) {
    std::vector<int32_t> tensors = graph_->inputs;
    tensors.insert(tensors.end(), graph_->outputs.begin(), graph_->outputs.end());
    for (std::size_t i = 0; i < tensors.size(); ++i) {
        const GraphTensor& tensor = graph_->tensors[tensors[i]];
        const auto images = static_cast<std::size_t>(tensor.dims.nbDims > 0 ? tensor.dims.d[0] : 1);
        const std::size_t bytes = static_cast<std::size_t>(ShapeInference::volume(tensor.dims)) /
                                  std::max<std::size_t>(images, 1) *
                                  static_cast<std::size_t>(batchSize) * elementBytes(tensor.type);
        if (krell::cuda_host::classifyRange(bindings[i], bytes) !=
            krell::cuda_host::RangeKind::kDevice) {
            reportError(nvinfer1::ErrorCode::kINVALID_ARGUMENT,
                        std::string(caller) + ": binding " + std::to_string(i) + " (" +
                            tensor.name + ") is not device memory from cudaMalloc holding " +
                            std::to_string(bytes) + " bytes");
            return false;
        }
    }
    return true;
}

GraphExecutor& ExecutionContext::executorFor(int32_t batchSize) {
    if (batchSize == max_batch_) {
        return executor_;
    }
    std::unique_ptr<GraphExecutor>& smaller = smaller_batches_[batchSize];
    if (!smaller) {
        // The same network for fewer images: only the leading extent of every tensor changes.
        auto graph = std::make_shared<Graph>(*graph_);
        for (int32_t input : graph->inputs) {
            graph->tensors[input].dims.d[0] = batchSize;
        }
        graph->max_batch = batchSize;
        std::string reason;
        if (!ShapeInference::check(*graph, reason)) {
            smaller_batches_.erase(batchSize);
            throw std::runtime_error("the network cannot run " + std::to_string(batchSize) +
                                     " images: " + reason);
        }
        smaller = std::make_unique<GraphExecutor>(std::move(graph));
    }
    return *smaller;
}

bool ExecutionContext::runNow(int32_t batchSize, void* const* bindings) noexcept {
    try {
        std::lock_guard<std::mutex> lock(run_mutex_);
        executorFor(batchSize).run(bindings, profiler_);
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
    context->runNow(owned->batch, owned->bindings.data());
    std::lock_guard<std::mutex> lock(context->pending_mutex_);
    --context->pending_;
    context->pending_done_.notify_all();
}

bool ExecutionContext::execute(int32_t batchSize, void* const* bindings) noexcept {
    return checkArguments(batchSize, bindings, "execute") && runNow(batchSize, bindings);
}

bool ExecutionContext::executeV2(void* const* bindings) noexcept {
    return checkArguments(max_batch_, bindings, "executeV2") && runNow(max_batch_, bindings);
}

bool ExecutionContext::enqueue(int32_t batchSize, void* const* bindings, cudaStream_t stream,
                               cudaEvent_t* inputConsumed) noexcept {
    return checkArguments(batchSize, bindings, "enqueue") &&
           queueRun(batchSize, bindings, stream, inputConsumed);
}

bool ExecutionContext::queueRun(int32_t batchSize, void* const* bindings, cudaStream_t stream,
                                cudaEvent_t*) noexcept {
    Job* job = nullptr;
    try {
        job = new Job{this, batchSize,
                      std::vector<void*>(
                          bindings, bindings + graph_->inputs.size() + graph_->outputs.size())};
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
    return checkArguments(max_batch_, bindings, "enqueueV2") &&
           queueRun(max_batch_, bindings, stream, inputConsumed);
}

}  // namespace trt_host
