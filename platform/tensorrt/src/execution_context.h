// IExecutionContext of the stand-in: runs an engine's plan on the CPU in the order of a CUDA
// stream of the host CUDA layer.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "NvInferRuntime.h"
#include "platform/tensorrt/src/graph.h"
#include "platform/tensorrt/src/graph_executor.h"

namespace trt_host {

//! Calls come from one thread at a time; queued runs execute on the stream's thread. The
//! destructor waits for runs still queued. Profiler borrowed; recorder reference counted.
class ExecutionContext final : public nvinfer1::IExecutionContext {
public:
    //! Plans the graph; throws (dnnl::error, std::runtime_error, std::bad_alloc) on failure.
    ExecutionContext(std::shared_ptr<const Graph> graph, const nvinfer1::ICudaEngine& engine,
                     nvinfer1::ILogger& logger);
    ~ExecutionContext() noexcept override;
    ExecutionContext(const ExecutionContext&) = delete;
    ExecutionContext& operator=(const ExecutionContext&) = delete;

    bool execute(int32_t batchSize, void* const* bindings) noexcept override;
    bool enqueue(int32_t batchSize, void* const* bindings, cudaStream_t stream,
                 cudaEvent_t* inputConsumed) noexcept override;
    bool executeV2(void* const* bindings) noexcept override;
    bool enqueueV2(void* const* bindings, cudaStream_t stream,
                   cudaEvent_t* inputConsumed) noexcept override;
    void setProfiler(nvinfer1::IProfiler* profiler) noexcept override { profiler_ = profiler; }
    nvinfer1::IProfiler* getProfiler() const noexcept override { return profiler_; }
    void setErrorRecorder(nvinfer1::IErrorRecorder* recorder) noexcept override;
    nvinfer1::IErrorRecorder* getErrorRecorder() const noexcept override { return recorder_; }
    const nvinfer1::ICudaEngine& getEngine() const noexcept override { return engine_; }
    //! The plan of the engine's full batch (for the engine inspector).
    const GraphExecutor& fullBatch() const { return executor_; }
    void setName(char const* name) noexcept override { name_ = name != nullptr ? name : ""; }
    char const* getName() const noexcept override { return name_.c_str(); }

private:
    struct Job;
    static void runJob(void* job) noexcept;

    bool checkArguments(int32_t batchSize, void* const* bindings, const char* caller);
    bool checkBindingMemory(int32_t batchSize, void* const* bindings, const char* caller);
    bool queueRun(int32_t batchSize, void* const* bindings, cudaStream_t stream,
                  cudaEvent_t* inputConsumed) noexcept;
    // The plan for batchSize images (planned on first use); throws when it cannot be made.
    // Called with run_mutex_ held.
    GraphExecutor& executorFor(int32_t batchSize);
    bool runNow(int32_t batchSize, void* const* bindings) noexcept;
    void reportError(nvinfer1::ErrorCode code, const std::string& message);

    std::shared_ptr<const Graph> graph_;
    const nvinfer1::ICudaEngine& engine_;
    nvinfer1::ILogger& logger_;
    int32_t max_batch_;       // copied so that the context keeps working after the engine is gone
    GraphExecutor executor_;  // the engine's full batch
    std::map<int32_t, std::unique_ptr<GraphExecutor>> smaller_batches_;  // guarded by run_mutex_
    nvinfer1::IProfiler* profiler_{nullptr};
    nvinfer1::IErrorRecorder* recorder_{nullptr};
    std::string name_;
    std::mutex run_mutex_;  // guards the executors (runs queued on different streams may overlap)
    std::mutex pending_mutex_;  // guards pending_
    std::condition_variable pending_done_;
    int32_t pending_{0};
};

}  // namespace trt_host
