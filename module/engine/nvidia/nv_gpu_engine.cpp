#include "module/engine/nvidia/nv_gpu_engine.h"

#include <algorithm>
#include <utility>

#include "module/common/assert/cpu_assert.h"
#include "module/common/log.h"
#include "module/engine/engine_factory.h"
#include "module/engine/nvidia/cuda_check.h"
#include "module/engine/nvidia/nv_gpu_buffer.h"
#include "module/engine/nvidia/tool/util.h"

namespace krell::det {

namespace {

// The TensorRT version this code is written against, as the runtime factory expects it.
constexpr int32_t kTensorRTVersion = 8601;

const char* typeName(nvinfer1::DataType type) {
    switch (type) {
        case nvinfer1::DataType::kINT8:
            return "int8";
        case nvinfer1::DataType::kHALF:
            return "float16";
        case nvinfer1::DataType::kFLOAT:
            return "float32";
        case nvinfer1::DataType::kINT32:
            return "int32";
        default:
            return "";
    }
}

}  // namespace

const bool NvGPUEngine::registered_ = NvGPUEngine::registerSelf();

bool NvGPUEngine::registerSelf() {
    const bool added = EngineFactory::instance().registerClass(
        "NvGPUEngine", [](const EngineParameter& parameter, const std::string& name) {
            return std::make_shared<NvGPUEngine>(parameter, name);
        });
    DET_LOG(kLogInfo) << "Registing the NvGPUEngine";
    return added;
}

NvGPUEngine::NvGPUEngine(const EngineParameter& parameter, std::string name)
    : Engine(parameter, std::move(name)),
      logger_(std::make_shared<Logger>(nvinfer1::ILogger::Severity::kERROR)),
      error_recorder_(std::make_shared<KrellErrorRecorder>(logger_.get())),
      profiler_(std::make_shared<KrellProfiler>()) {}

NvGPUEngine::~NvGPUEngine() {
    context_.reset();
    engine_.reset();
    runtime_.reset();
}

int32_t NvGPUEngine::synchronize() {
    const bool waited = DET_CUDA_CHECK(cudaStreamSynchronize(stream_));
    // Only after the wait has every error of the queued work reached the recorder.
    const int32_t failed = consumeRecordedErrors("failed on the stream");
    return waited && failed == 0 ? 0 : 1;
}

int32_t NvGPUEngine::consumeRecordedErrors(const char* what) {
    const int32_t count = error_recorder_->getNbErrors();
    for (int32_t i = 0; i < count; ++i) {
        DET_LOG(kLogError) << "[NvGPUEngine] the inference of " << name_ << " " << what
                           << ": error code "
                           << static_cast<int32_t>(error_recorder_->getErrorCode(i)) << ", "
                           << error_recorder_->getErrorDesc(i) << kLogReset;
    }
    error_recorder_->clear();
    return count;
}

int32_t NvGPUEngine::deserialize(const std::shared_ptr<Buffer>& blob) {
    runtime_.reset(static_cast<nvinfer1::IRuntime*>(
        createInferRuntime_INTERNAL(logger_.get(), kTensorRTVersion)));
    if (runtime_ != nullptr && blob != nullptr && blob->size() > 0) {
        engine_.reset(runtime_->deserializeCudaEngine(blob->data(), blob->size()));
    }
    CPUAssert(engine_ == nullptr ? 1 : 0, KrellException::NullPointer, __FILE__, __LINE__, false);
    context_.reset(engine_->createExecutionContext());
    CPUAssert(context_ == nullptr ? 1 : 0, KrellException::NullPointer, __FILE__, __LINE__, false);
    context_->setProfiler(profiler_.get());
    context_->setErrorRecorder(error_recorder_.get());

    bindings_ = std::make_shared<NvGPUBufferVector1d>(0);
    binding_names_.clear();
    binding_bytes_.clear();
    bindings_prepared_ = false;
    for (int32_t i = 0; i < engine_->getNbBindings(); ++i) {
        const nvinfer1::Dims dims = engine_->getBindingDimensions(i);
        int64_t volume = 1;
        for (int32_t d = 0; d < dims.nbDims; ++d) {
            volume *= dims.d[d];
        }
        int64_t bytes = volume * getTypeSize(engine_->getBindingDataType(i));
        if (engine_->getBindingVectorizedDim(i) != -1) {
            bytes *= engine_->getBindingComponentsPerElement(i);
        }
        const std::string name = engine_->getBindingName(i);
        if (bytes <= 0 || bytes > static_cast<int64_t>(UINT32_MAX)) {
            DET_LOG(kLogError) << "[NvGPUEngine] binding " << name << " of " << name_
                               << " has no fixed size in bytes (" << bytes << ")" << kLogReset;
            bytes = 0;
        }
        auto buffer = std::make_shared<NvGPUBuffer>(static_cast<uint32_t>(bytes));
        bindings_->elements().push_back(buffer);
        binding_names_.push_back(name);
        binding_bytes_.push_back(static_cast<uint32_t>(bytes));
        buffers_[name] = std::move(buffer);
    }
    return 0;
}

bool NvGPUEngine::bindable(size_t index, const std::shared_ptr<Buffer>& buffer) const {
    const char* problem = nullptr;
    if (dynamic_cast<const NvGPUBuffer*>(buffer.get()) == nullptr) {
        problem = " is not device memory";
    } else if (buffer->data() == nullptr || buffer->size() < binding_bytes_[index]) {
        problem = " is smaller than the binding";
    }
    if (problem == nullptr) {
        return true;
    }
    DET_LOG(kLogError) << "[NvGPUEngine] the buffer stored for binding " << binding_names_[index]
                       << " of " << name_ << problem << " (" << binding_bytes_[index]
                       << " bytes); the engine's own buffer stays bound" << kLogReset;
    return false;
}

int32_t NvGPUEngine::prepareBindings() {
    if (bindings_ == nullptr || bindings_->size() == 0) {
        DET_LOG(kLogError) << "[NvGPUEngine] " << name_ << " has no bindings to prepare"
                           << kLogReset;
        return 1;
    }
    int32_t result = 0;
    for (size_t i = 0; i < binding_names_.size(); ++i) {
        auto& stored = buffers_[binding_names_[i]];
        if (bindable(i, stored)) {
            bindings_->elements()[i] = stored;  // the shared buffer itself: no copy per frame
        } else {
            stored = bindings_->elements()[i];
            result = 1;
        }
    }
    bindings_->buildCpuPtrs();
    bindings_->mallocCustomizedPtrs();
    bindings_->uploadPtrs();
    bindings_prepared_ = true;
    return result;
}

bool NvGPUEngine::swapBindings(const std::string& first, const std::string& second) {
    const auto a = std::find(binding_names_.begin(), binding_names_.end(), first);
    const auto b = std::find(binding_names_.begin(), binding_names_.end(), second);
    if (!bindings_prepared_ || a == binding_names_.end() || b == binding_names_.end() || a == b) {
        return false;
    }
    const auto ia = static_cast<size_t>(a - binding_names_.begin());
    const auto ib = static_cast<size_t>(b - binding_names_.begin());
    std::vector<std::shared_ptr<Buffer>>& bound = bindings_->elements();
    // A buffer stored after the last prepareBindings is not the one bound: leave both alone.
    if (bound[ia] != buffers_[first] || bound[ib] != buffers_[second] ||
        !bound[ia]->swapStorage(*bound[ib])) {
        return false;
    }
    void** table = bindings_->cpu_ptrs();
    std::swap(table[ia], table[ib]);
    bindings_->uploadPtrs();
    return true;
}

int32_t NvGPUEngine::run() {
    if (!bindings_prepared_ || context_ == nullptr) {
        DET_LOG(kLogError) << "[NvGPUEngine] " << name_ << " runs before its bindings are prepared"
                           << kLogReset;
        return 1;
    }
    if (!context_->enqueueV2(bindings_->cpu_ptrs(), stream_, nullptr)) {
        DET_LOG(kLogError) << "[NvGPUEngine] TensorRT refused the inference of " << name_
                           << kLogReset;
        consumeRecordedErrors("was refused");
        return 1;
    }
    return 0;
}

void NvGPUEngine::getShape(ShapeMap& shapes) {
    if (engine_ == nullptr) {
        return;
    }
    for (int32_t i = 0; i < engine_->getNbBindings(); ++i) {
        const nvinfer1::Dims dims = engine_->getBindingDimensions(i);
        if (dims.nbDims != 4) {
            DET_LOG(kLogError) << "[NvGPUEngine] Do not support ndim > 4!" << kLogReset;
        }
        // Entries past the dimension count stand for 1, so a shorter shape still sizes right.
        int32_t d[4] = {1, 1, 1, 1};
        for (int32_t k = 0; k < 4 && k < dims.nbDims; ++k) {
            d[k] = dims.d[k];
        }
        const nvinfer1::DataType type = engine_->getBindingDataType(i);
        TensorParameter shape;
        shape.name = engine_->getBindingName(i);
        shape.batch_size = d[0];
        shape.channel = d[1];
        shape.spatial_shape = {d[2], d[3]};
        shape.data_type = typeName(type);
        shape.byte_size = static_cast<int32_t>(static_cast<int64_t>(getTypeSize(type)) * d[0] *
                                               d[1] * d[2] * d[3]);
        shape.computeSizes();
        shapes[shape.name] = shape;
    }
}

}  // namespace krell::det
