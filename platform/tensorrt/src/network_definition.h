// INetworkDefinition of the stand-in: records layers into a Graph that the builder checks and
// serialises.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "NvInfer.h"
#include "platform/tensorrt/src/graph.h"
#include "platform/tensorrt/src/network_layers.h"
#include "platform/tensorrt/src/network_tensor.h"

namespace trt_host {

//! Owns its layer and tensor handles. One thread at a time; logger is borrowed.
class NetworkDefinition final : public nvinfer1::INetworkDefinition {
public:
    explicit NetworkDefinition(nvinfer1::ILogger& logger) : logger_(logger) {}
    ~NetworkDefinition() noexcept override = default;
    NetworkDefinition(const NetworkDefinition&) = delete;
    NetworkDefinition& operator=(const NetworkDefinition&) = delete;

    //! The recorded network; handles write into it.
    Graph& graph() { return graph_; }
    //! Shape of tensor index as far as it can be inferred; nbDims -1 when inconsistent.
    nvinfer1::Dims tensorDims(int32_t index);
    //! One error line to the logger.
    void reportError(const std::string& message) const;
    //! Tensor index of a handle from this network, or -1 (and an error line) for a foreign one.
    int32_t tensorIndex(const nvinfer1::ITensor& tensor, const char* caller) const;
    //! Handle of tensor index.
    nvinfer1::ITensor* tensorHandle(int32_t index) const { return tensors_[index].get(); }

    nvinfer1::ITensor* addInput(char const* name, nvinfer1::DataType type,
                                nvinfer1::Dims dimensions) noexcept override;
    void markOutput(nvinfer1::ITensor& tensor) noexcept override;
    void unmarkOutput(nvinfer1::ITensor& tensor) noexcept override;
    nvinfer1::IConvolutionLayer* addConvolutionNd(nvinfer1::ITensor& input, int32_t nbOutputMaps,
                                                  nvinfer1::Dims kernelSize,
                                                  nvinfer1::Weights kernelWeights,
                                                  nvinfer1::Weights biasWeights) noexcept override;
    nvinfer1::IDeconvolutionLayer* addDeconvolutionNd(
        nvinfer1::ITensor& input, int32_t nbOutputMaps, nvinfer1::Dims kernelSize,
        nvinfer1::Weights kernelWeights, nvinfer1::Weights biasWeights) noexcept override;
    nvinfer1::IActivationLayer* addActivation(nvinfer1::ITensor& input,
                                              nvinfer1::ActivationType type) noexcept override;
    nvinfer1::IPoolingLayer* addPoolingNd(nvinfer1::ITensor& input, nvinfer1::PoolingType type,
                                          nvinfer1::Dims windowSize) noexcept override;
    nvinfer1::IConcatenationLayer* addConcatenation(nvinfer1::ITensor* const* inputs,
                                                    int32_t nbInputs) noexcept override;
    nvinfer1::IElementWiseLayer* addElementWise(
        nvinfer1::ITensor& input1, nvinfer1::ITensor& input2,
        nvinfer1::ElementWiseOperation op) noexcept override;
    nvinfer1::ISoftMaxLayer* addSoftMax(nvinfer1::ITensor& input) noexcept override;
    nvinfer1::IResizeLayer* addResize(nvinfer1::ITensor& input) noexcept override;
    nvinfer1::IShuffleLayer* addShuffle(nvinfer1::ITensor& input) noexcept override;
    int32_t getNbLayers() const noexcept override { return static_cast<int32_t>(layers_.size()); }
    nvinfer1::ILayer* getLayer(int32_t index) const noexcept override;
    int32_t getNbInputs() const noexcept override {
        return static_cast<int32_t>(graph_.inputs.size());
    }
    nvinfer1::ITensor* getInput(int32_t index) const noexcept override;
    int32_t getNbOutputs() const noexcept override {
        return static_cast<int32_t>(graph_.outputs.size());
    }
    nvinfer1::ITensor* getOutput(int32_t index) const noexcept override;
    bool hasImplicitBatchDimension() const noexcept override { return false; }
    void setName(char const* name) noexcept override;
    char const* getName() const noexcept override { return graph_.name.c_str(); }

private:
    // Appends an op of kind reading inputs, with a fresh output tensor; returns its index.
    int32_t appendOp(OpKind kind, const std::vector<int32_t>& inputs);
    // Creates the handle of the newest op.
    template <typename Layer>
    Layer* attach();
    // Appends an op with one input, or returns -1 after an error line for a foreign tensor.
    int32_t appendUnary(OpKind kind, nvinfer1::ITensor& input, const char* caller);
    template <typename Layer>
    Layer* addWindowed(OpKind kind, nvinfer1::ITensor& input, int32_t maps, nvinfer1::Dims kernel,
                       nvinfer1::Weights kernelWeights, nvinfer1::Weights biasWeights,
                       const char* caller);

    nvinfer1::ILogger& logger_;
    Graph graph_;
    std::vector<std::unique_ptr<NetworkTensor>> tensors_;
    std::vector<std::unique_ptr<LayerHandle>> layers_;
};

}  // namespace trt_host
