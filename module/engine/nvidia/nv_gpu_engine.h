// NvGPUEngine: an engine on TensorRT. deserialize() loads a serialised engine through the
// runtime and allocates one device buffer per binding; run() queues the inference on the
// engine's stream with enqueueV2 (explicit-batch engines); synchronize() waits for it and tells
// whether it ran. One thread drives an engine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "NvInferRuntime.h"
#include "module/engine/engine.h"
#include "module/engine/nvidia/krell_error_recorder.h"
#include "module/engine/nvidia/krell_profiler.h"
#include "module/engine/nvidia/nv_gpu_buffer_vector1d.h"
#include "module/engine/nvidia/tool/hlogging.h"

namespace krell::det {

class NvGPUEngine : public Engine {
public:
    NvGPUEngine(const EngineParameter& parameter, std::string name);
    //! Destroys the context, then the engine, then the runtime.
    ~NvGPUEngine() override;

    //! Waits for the engine's stream. 1, after a level-1 line each, when the wait fails or
    //! TensorRT recorded errors since the last wait: an inference that fails once the stream
    //! reaches it is reported only to the error recorder, after run() has returned 0. The
    //! recorded errors are consumed, so a later wait reports only later ones.
    int32_t synchronize() override;
    //! 1 (after a level-1 line) when the bindings are not prepared or TensorRT refuses the
    //! inference; the errors TensorRT recorded for the refusal are logged and consumed.
    int32_t run() override;
    //! Binds the buffer stored under each binding name. A stored buffer that is not device
    //! memory or is smaller than the binding is refused (the engine's own buffer stays bound)
    //! and 1 is returned.
    int32_t prepareBindings() override;
    //! Exchanges the memory of the two bound buffers and the two entries of the binding table
    //! (host and device copies); nothing is allocated or copied but the table.
    bool swapBindings(const std::string& first, const std::string& second) override;
    //! No engine from the runtime: CPUAssert throws KrellException (NullPointer).
    int32_t deserialize(const std::shared_ptr<Buffer>& blob) override;
    void getShape(ShapeMap& shapes) override;

    //! True once the class is registered with EngineFactory (set during static initialisation).
    static bool registered() { return registered_; }

    //! The recorder set on the execution context; TensorRT reports into it from the thread
    //! that runs the stream's work, too.
    const std::shared_ptr<KrellErrorRecorder>& errorRecorder() const { return error_recorder_; }

private:
    struct RuntimeDeleter {
        void operator()(nvinfer1::IRuntime* p) const { delete p; }
    };
    struct EngineDeleter {
        void operator()(nvinfer1::ICudaEngine* p) const { delete p; }
    };
    struct ContextDeleter {
        void operator()(nvinfer1::IExecutionContext* p) const { delete p; }
    };

    bool bindable(size_t index, const std::shared_ptr<Buffer>& buffer) const;
    //! Logs every recorded error (a level-1 line each, after what) and clears the recorder;
    //! returns how many there were.
    int32_t consumeRecordedErrors(const char* what);
    static bool registerSelf();

    static const bool registered_;

    std::shared_ptr<NvGPUBufferVector1d> bindings_;
    std::vector<std::string> binding_names_;
    std::vector<uint32_t> binding_bytes_;
    bool bindings_prepared_ = false;
    std::shared_ptr<Logger> logger_;
    std::shared_ptr<KrellErrorRecorder> error_recorder_;
    std::shared_ptr<KrellProfiler> profiler_;
    // Declared in release order reversed: the context goes first, then the engine, then the
    // runtime that made it.
    std::unique_ptr<nvinfer1::IRuntime, RuntimeDeleter> runtime_;
    std::unique_ptr<nvinfer1::ICudaEngine, EngineDeleter> engine_;
    std::unique_ptr<nvinfer1::IExecutionContext, ContextDeleter> context_;
};

}  // namespace krell::det
