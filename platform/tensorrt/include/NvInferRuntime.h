// Host stand-in for the TensorRT runtime subset cloud_denoiser uses: deserialising an engine
// blob, querying its bindings and running it on a CUDA stream (executed on the CPU here).
#pragma once

#include <cuda_runtime.h>

#include <cstddef>
#include <cstdint>

#include "NvInferRuntimeBase.h"

#define NV_TENSORRT_MAJOR 8
#define NV_TENSORRT_MINOR 6
#define NV_TENSORRT_PATCH 1
#define NV_TENSORRT_BUILD 6
#define NV_TENSORRT_VERSION \
    ((NV_TENSORRT_MAJOR * 1000) + (NV_TENSORRT_MINOR * 100) + NV_TENSORRT_PATCH)

namespace nvinfer1 {

//! A borrowed view of weight values: count elements of type at values. The network keeps only
//! the view; the builder reads the values when it builds the engine, so the caller's block must
//! live, unchanged, until buildSerializedNetwork returns.
class Weights {
public:
    DataType type{DataType::kFLOAT};
    void const* values{nullptr};
    int64_t count{0};
};

//! A block of bytes owned by the stand-in (a serialised engine). Released with delete.
class IHostMemory {
public:
    virtual ~IHostMemory() noexcept = default;
    //! First byte of the block; valid while this object lives.
    virtual void* data() const noexcept = 0;
    //! Size of the block in bytes.
    virtual std::size_t size() const noexcept = 0;
    //! Element type of the block (always kUINT8 for engines).
    virtual DataType type() const noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

//! Whether a named I/O tensor is read or written by the engine.
enum class TensorIOMode : int32_t {
    kNONE = 0,
    kINPUT = 1,
    kOUTPUT = 2,
};

class ICudaEngine;

//! Runs one engine. Create with ICudaEngine::createExecutionContext; one thread at a time.
//! Binding buffers are linear (row-major, batch first). Values of an INT8 binding are q with
//! real = q * (amax / 127), amax the larger magnitude of the tensor's dynamic range; INT8 outputs
//! are real / (amax / 127) rounded to nearest with ties away from zero, saturated to -128..127
//! (NaN gives 0). HALF bindings hold IEEE-754 half values (outputs rounded to nearest even).
//! Inside the network, tensors are stored as the builder flags say (see BuilderFlag in NvInfer.h).
class IExecutionContext {
public:
    virtual ~IExecutionContext() noexcept = default;
    //! Runs one inference of the first batchSize images (1 to the engine's batch) synchronously;
    //! only those images are computed and written. bindings holds one buffer per binding, in
    //! binding order, each device memory from cudaMalloc holding at least batchSize images of its
    //! tensor. Returns false (after reporting kINVALID_ARGUMENT to the error recorder, or to the
    //! logger when none is set) on bad arguments; nothing runs then.
    virtual bool execute(int32_t batchSize, void* const* bindings) noexcept = 0;
    //! Queues what execute does on stream and returns without waiting; bindings are checked as
    //! there. inputConsumed, when not null, is ignored by the stand-in (inputs are read when the
    //! stream reaches the work). Returns false when the arguments are rejected; nothing queued.
    virtual bool enqueue(int32_t batchSize, void* const* bindings, cudaStream_t stream,
                         cudaEvent_t* inputConsumed) noexcept = 0;
    //! execute/enqueue of the engine's whole batch (the shapes carry it); same checks.
    virtual bool executeV2(void* const* bindings) noexcept = 0;
    virtual bool enqueueV2(void* const* bindings, cudaStream_t stream,
                           cudaEvent_t* inputConsumed) noexcept = 0;
    //! Installs a profiler (borrowed, may be null): one reportLayerTime per engine layer per run,
    //! in layer order, called on the thread that runs the work.
    virtual void setProfiler(IProfiler* profiler) noexcept = 0;
    virtual IProfiler* getProfiler() const noexcept = 0;
    //! Installs an error recorder (reference counted, may be null); run-time errors go there
    //! instead of the logger.
    virtual void setErrorRecorder(IErrorRecorder* recorder) noexcept = 0;
    virtual IErrorRecorder* getErrorRecorder() const noexcept = 0;
    //! The engine this context runs.
    virtual ICudaEngine const& getEngine() const noexcept = 0;
    virtual void setName(char const* name) noexcept = 0;
    virtual char const* getName() const noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

//! How IEngineInspector writes what it reports.
enum class LayerInformationFormat : int32_t {
    kONELINE = 0,  //!< one line of text per layer
    kJSON = 1,     //!< JSON objects
};

//! Reports how an engine's layers are computed. Create with ICudaEngine::createEngineInspector;
//! the text returned stays valid until the next call on the inspector. The stand-in reports,
//! per engine layer, its "Name" and, once an execution context of the engine is set, its
//! "TacticName": the CPU kernels that run it (oneDNN implementation names, "host loop" for the
//! stand-in's own loops), as a GPU engine built with ProfilingVerbosity::kDETAILED would report
//! its CUDA kernels. Released with delete.
class IEngineInspector {
public:
    virtual ~IEngineInspector() noexcept = default;
    //! The context whose kernels are reported (borrowed; null clears). False, with nothing
    //! changed, for a context of another engine.
    virtual bool setExecutionContext(IExecutionContext const* context) noexcept = 0;
    virtual IExecutionContext const* getExecutionContext() const noexcept = 0;
    //! One engine layer (0 .. getNbLayers() - 1); null, after an error report, for another index.
    virtual AsciiChar const* getLayerInformation(int32_t layerIndex,
                                                 LayerInformationFormat format) const noexcept = 0;
    //! Every layer: kJSON gives {"Layers": [...], "Bindings": [...]}, kONELINE one line each.
    virtual AsciiChar const* getEngineInformation(LayerInformationFormat format) const noexcept = 0;
    virtual void setErrorRecorder(IErrorRecorder* recorder) noexcept = 0;
    virtual IErrorRecorder* getErrorRecorder() const noexcept = 0;
};

//! A deserialised, immutable engine. Contexts created from it may outlive it.
class ICudaEngine {
public:
    virtual ~ICudaEngine() noexcept = default;
    //! Number of bindings: the network inputs, then the network outputs.
    virtual int32_t getNbBindings() const noexcept = 0;
    //! Index of the binding named name, or -1.
    virtual int32_t getBindingIndex(char const* name) const noexcept = 0;
    //! Name of binding index, owned by the engine; null for an invalid index.
    virtual char const* getBindingName(int32_t bindingIndex) const noexcept = 0;
    //! True when binding index is a network input.
    virtual bool bindingIsInput(int32_t bindingIndex) const noexcept = 0;
    //! Full shape (batch included) of binding index; nbDims -1 for an invalid index.
    virtual Dims getBindingDimensions(int32_t bindingIndex) const noexcept = 0;
    //! Element type of binding index (kFLOAT for an invalid index).
    virtual DataType getBindingDataType(int32_t bindingIndex) const noexcept = 0;
    //! Layout of binding index: always kLINEAR.
    virtual TensorFormat getBindingFormat(int32_t bindingIndex) const noexcept = 0;
    //! Vectorised dimension of binding index: -1 (bindings are linear).
    virtual int32_t getBindingVectorizedDim(int32_t bindingIndex) const noexcept = 0;
    //! Components per vector element of binding index: 1 (bindings are linear).
    virtual int32_t getBindingComponentsPerElement(int32_t bindingIndex) const noexcept = 0;
    //! Name-based queries over the same bindings.
    virtual int32_t getNbIOTensors() const noexcept = 0;
    virtual char const* getIOTensorName(int32_t index) const noexcept = 0;
    virtual Dims getTensorShape(char const* tensorName) const noexcept = 0;
    virtual DataType getTensorDataType(char const* tensorName) const noexcept = 0;
    virtual TensorIOMode getTensorIOMode(char const* tensorName) const noexcept = 0;
    //! Batch size the engine was built for (the first dimension of its inputs).
    virtual int32_t getMaxBatchSize() const noexcept = 0;
    //! Number of engine layers (network layers after fusion); one profiler report each per run.
    virtual int32_t getNbLayers() const noexcept = 0;
    //! False: engines are built from explicit-batch networks.
    virtual bool hasImplicitBatchDimension() const noexcept = 0;
    //! A new blob equal to the one the engine came from; the caller owns it. Null on failure.
    virtual IHostMemory* serialize() const noexcept = 0;
    //! A new execution context (its compute plan is prepared here); the caller owns it.
    //! Null, after a logger message, when the plan cannot be prepared.
    virtual IExecutionContext* createExecutionContext() noexcept = 0;
    //! A new inspector of this engine (it must not outlive the engine); the caller owns it.
    virtual IEngineInspector* createEngineInspector() const noexcept = 0;
    virtual char const* getName() const noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

//! Turns engine blobs into engines. Create with createInferRuntime.
class IRuntime {
public:
    virtual ~IRuntime() noexcept = default;
    //! Validates and loads a blob (copied; the caller keeps its bytes). A truncated, corrupt or
    //! foreign blob gives null and one logger message. The caller owns the engine.
    virtual ICudaEngine* deserializeCudaEngine(void const* blob, std::size_t size) noexcept = 0;
    //! The stand-in runs everything on the CPU; the DLA core is recorded only.
    virtual void setDLACore(int32_t dlaCore) noexcept = 0;
    virtual int32_t getDLACore() const noexcept = 0;
    virtual int32_t getNbDLACores() const noexcept = 0;
    //! Recorder for deserialisation errors (reference counted, may be null).
    virtual void setErrorRecorder(IErrorRecorder* recorder) noexcept = 0;
    virtual IErrorRecorder* getErrorRecorder() const noexcept = 0;
    //! The logger given at creation.
    virtual ILogger* getLogger() const noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

}  // namespace nvinfer1

//! Creates a runtime reporting to logger (an nvinfer1::ILogger*, borrowed, must outlive the
//! runtime and its engines). Null, after a message, when version's major number is not ours.
extern "C" void* createInferRuntime_INTERNAL(void* logger, int32_t version) noexcept;

namespace nvinfer1 {

//! Creates a runtime for this header's version; the caller owns it. Null on failure.
inline IRuntime* createInferRuntime(ILogger& logger) noexcept {
    return static_cast<IRuntime*>(createInferRuntime_INTERNAL(&logger, NV_TENSORRT_VERSION));
}

}  // namespace nvinfer1
