// ICudaEngine of the stand-in: an immutable checked Graph plus binding queries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "NvInferRuntime.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! Queries may come from any thread (the engine never changes). Contexts share the graph, so
//! they stay usable after the engine is released. The logger is borrowed.
class CudaEngine final : public nvinfer1::ICudaEngine {
public:
    CudaEngine(std::shared_ptr<const Graph> graph, nvinfer1::ILogger& logger);

    int32_t getNbBindings() const noexcept override {
        return static_cast<int32_t>(bindings_.size());
    }
    int32_t getBindingIndex(char const* name) const noexcept override;
    char const* getBindingName(int32_t bindingIndex) const noexcept override;
    bool bindingIsInput(int32_t bindingIndex) const noexcept override;
    nvinfer1::Dims getBindingDimensions(int32_t bindingIndex) const noexcept override;
    nvinfer1::DataType getBindingDataType(int32_t bindingIndex) const noexcept override;
    nvinfer1::TensorFormat getBindingFormat(int32_t) const noexcept override {
        return nvinfer1::TensorFormat::kLINEAR;
    }
    int32_t getBindingVectorizedDim(int32_t) const noexcept override { return -1; }
    int32_t getBindingComponentsPerElement(int32_t) const noexcept override { return 1; }
    int32_t getNbIOTensors() const noexcept override { return getNbBindings(); }
    char const* getIOTensorName(int32_t index) const noexcept override {
        return getBindingName(index);
    }
    nvinfer1::Dims getTensorShape(char const* tensorName) const noexcept override;
    nvinfer1::DataType getTensorDataType(char const* tensorName) const noexcept override;
    nvinfer1::TensorIOMode getTensorIOMode(char const* tensorName) const noexcept override;
    int32_t getMaxBatchSize() const noexcept override;
    int32_t getNbLayers() const noexcept override;
    bool hasImplicitBatchDimension() const noexcept override { return false; }
    nvinfer1::IHostMemory* serialize() const noexcept override;
    nvinfer1::IExecutionContext* createExecutionContext() noexcept override;
    nvinfer1::IEngineInspector* createEngineInspector() const noexcept override;
    char const* getName() const noexcept override { return graph_->name.c_str(); }

private:
    const GraphTensor* binding(int32_t index) const;

    std::shared_ptr<const Graph> graph_;
    nvinfer1::ILogger& logger_;
    std::vector<int32_t> bindings_;  // tensor index per binding: inputs, then outputs
};

}  // namespace trt_host
