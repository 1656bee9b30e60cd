#include "platform/tensorrt/src/cuda_engine.h"

#include <cstring>
#include <exception>

#include "platform/tensorrt/src/blob_codec.h"
#include "platform/tensorrt/src/engine_inspector.h"
#include "platform/tensorrt/src/execution_context.h"
#include "platform/tensorrt/src/graph_planner.h"
#include "platform/tensorrt/src/host_memory.h"

namespace trt_host {

CudaEngine::CudaEngine(std::shared_ptr<const Graph> graph, nvinfer1::ILogger& logger)
    : graph_(std::move(graph)), logger_(logger) {
    bindings_ = graph_->inputs;
    bindings_.insert(bindings_.end(), graph_->outputs.begin(), graph_->outputs.end());
}

const GraphTensor* CudaEngine::binding(int32_t index) const {
    if (index < 0 || index >= getNbBindings()) {
        return nullptr;
    }
    return &graph_->tensors[bindings_[index]];
}

int32_t CudaEngine::getBindingIndex(char const* name) const noexcept {
    for (int32_t i = 0; name != nullptr && i < getNbBindings(); ++i) {
        if (binding(i)->name == name) {
            return i;
        }
    }
    return -1;
}

char const* CudaEngine::getBindingName(int32_t bindingIndex) const noexcept {
    const GraphTensor* tensor = binding(bindingIndex);
    return tensor != nullptr ? tensor->name.c_str() : nullptr;
}

bool CudaEngine::bindingIsInput(int32_t bindingIndex) const noexcept {
    return bindingIndex >= 0 && bindingIndex < static_cast<int32_t>(graph_->inputs.size());
}

nvinfer1::Dims CudaEngine::getBindingDimensions(int32_t bindingIndex) const noexcept {
    const GraphTensor* tensor = binding(bindingIndex);
    if (tensor == nullptr) {
        nvinfer1::Dims invalid{};
        invalid.nbDims = -1;
        return invalid;
    }
    return tensor->dims;
}

nvinfer1::DataType CudaEngine::getBindingDataType(int32_t bindingIndex) const noexcept {
    const GraphTensor* tensor = binding(bindingIndex);
    return tensor != nullptr ? tensor->type : nvinfer1::DataType::kFLOAT;
}

nvinfer1::Dims CudaEngine::getTensorShape(char const* tensorName) const noexcept {
    return getBindingDimensions(getBindingIndex(tensorName));
}

nvinfer1::DataType CudaEngine::getTensorDataType(char const* tensorName) const noexcept {
    return getBindingDataType(getBindingIndex(tensorName));
}

nvinfer1::TensorIOMode CudaEngine::getTensorIOMode(char const* tensorName) const noexcept {
    const int32_t index = getBindingIndex(tensorName);
    if (index < 0) {
        return nvinfer1::TensorIOMode::kNONE;
    }
    return bindingIsInput(index) ? nvinfer1::TensorIOMode::kINPUT : nvinfer1::TensorIOMode::kOUTPUT;
}

int32_t CudaEngine::getMaxBatchSize() const noexcept {
    return graph_->inputs.empty() ? 1 : graph_->tensors[graph_->inputs[0]].dims.d[0];
}

int32_t CudaEngine::getNbLayers() const noexcept {
    int32_t fused = 0;
    for (std::size_t i = 0; i < graph_->ops.size(); ++i) {
        fused += GraphPlanner::fusedActivation(*graph_, i) >= 0 ? 1 : 0;
    }
    return static_cast<int32_t>(graph_->ops.size()) - fused;
}

nvinfer1::IHostMemory* CudaEngine::serialize() const noexcept {
    try {
        return new HostMemory(BlobCodec::encode(*graph_));
    } catch (const std::exception&) {
        return nullptr;
    }
}

nvinfer1::IExecutionContext* CudaEngine::createExecutionContext() noexcept {
    try {
        return new ExecutionContext(graph_, *this, logger_);
    } catch (const std::exception& e) {
        const std::string message = std::string("createExecutionContext: cannot prepare engine ") +
                                    graph_->name + ": " + e.what();
        logger_.log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
        return nullptr;
    }
}

nvinfer1::IEngineInspector* CudaEngine::createEngineInspector() const noexcept {
    try {
        return new EngineInspector(*this, graph_, logger_);
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace trt_host
