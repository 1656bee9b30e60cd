// The ILayer handles a NetworkDefinition hands out, one class per layer interface. Each is a
// view of one GraphOp of the network's Graph; the setters write straight into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NvInfer.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

class NetworkDefinition;

//! Owner-side view of a layer handle (ILayer's destructor is not public).
class LayerHandle {
public:
    virtual ~LayerHandle() = default;
    //! The handle as the interface callers see.
    virtual nvinfer1::ILayer* layer() noexcept = 0;
};

//! True for weights the builder can read later: float or half values, a count from 0 to the
//! element limit, and a pointer unless the count is 0. Reads no value.
bool usableWeights(const nvinfer1::Weights& weights);

//! Copies usable weights given as float or half into floats. Returns false (leaving out empty)
//! for weights that are not usable.
bool copyWeights(const nvinfer1::Weights& weights, std::vector<float>& out);

//! Reads every convolution's and deconvolution's caller-owned weights into the graph (the
//! build-time read). Returns false, naming the layer in error, for weights that are not usable.
bool readWeights(Graph& graph, std::string& error);

//! The ILayer part shared by every layer kind. Owned by the network; op is the layer's position.
template <typename Interface>
class LayerImpl : public Interface, public LayerHandle {
public:
    LayerImpl(NetworkDefinition& network, int32_t op) : network_(network), op_index_(op) {}
    ~LayerImpl() noexcept override = default;
    LayerImpl(const LayerImpl&) = delete;
    LayerImpl& operator=(const LayerImpl&) = delete;

    nvinfer1::ILayer* layer() noexcept override { return this; }
    nvinfer1::LayerType getType() const noexcept override;
    void setName(char const* name) noexcept override;
    char const* getName() const noexcept override;
    int32_t getNbInputs() const noexcept override;
    nvinfer1::ITensor* getInput(int32_t index) const noexcept override;
    int32_t getNbOutputs() const noexcept override;
    nvinfer1::ITensor* getOutput(int32_t index) const noexcept override;
    void setInput(int32_t index, nvinfer1::ITensor& tensor) noexcept override;
    void setPrecision(nvinfer1::DataType dataType) noexcept override;
    nvinfer1::DataType getPrecision() const noexcept override;
    bool precisionIsSet() const noexcept override;
    void resetPrecision() noexcept override;
    void setOutputType(int32_t index, nvinfer1::DataType dataType) noexcept override;
    nvinfer1::DataType getOutputType(int32_t index) const noexcept override;
    bool outputTypeIsSet(int32_t index) const noexcept override;
    void resetOutputType(int32_t index) noexcept override;

protected:
    //! The layer's record in the network's Graph.
    GraphOp& op() const;
    //! Logs one error through the network's logger.
    void reportError(const std::string& message) const;

private:
    NetworkDefinition& network_;
    int32_t op_index_;
};

//! Convolution and deconvolution share every setting; only the weight layout differs.
template <typename Interface>
class WindowedLayer : public LayerImpl<Interface> {
public:
    using LayerImpl<Interface>::LayerImpl;
    void setNbOutputMaps(int32_t nbOutputMaps) noexcept override {
        this->op().out_maps = nbOutputMaps;
    }
    int32_t getNbOutputMaps() const noexcept override { return this->op().out_maps; }
    void setNbGroups(int32_t nbGroups) noexcept override { this->op().groups = nbGroups; }
    int32_t getNbGroups() const noexcept override { return this->op().groups; }
    void setKernelWeights(nvinfer1::Weights weights) noexcept override;
    nvinfer1::Weights getKernelWeights() const noexcept override;
    void setBiasWeights(nvinfer1::Weights weights) noexcept override;
    nvinfer1::Weights getBiasWeights() const noexcept override;
    void setKernelSizeNd(nvinfer1::Dims kernelSize) noexcept override {
        this->op().kernel = kernelSize;
    }
    nvinfer1::Dims getKernelSizeNd() const noexcept override { return this->op().kernel; }
    void setStrideNd(nvinfer1::Dims stride) noexcept override { this->op().stride = stride; }
    nvinfer1::Dims getStrideNd() const noexcept override { return this->op().stride; }
    void setPaddingNd(nvinfer1::Dims padding) noexcept override {
        this->op().pre_padding = padding;
        this->op().post_padding = padding;
    }
    nvinfer1::Dims getPaddingNd() const noexcept override { return this->op().pre_padding; }
    void setPrePadding(nvinfer1::Dims padding) noexcept override {
        this->op().pre_padding = padding;
    }
    nvinfer1::Dims getPrePadding() const noexcept override { return this->op().pre_padding; }
    void setPostPadding(nvinfer1::Dims padding) noexcept override {
        this->op().post_padding = padding;
    }
    nvinfer1::Dims getPostPadding() const noexcept override { return this->op().post_padding; }
    void setDilationNd(nvinfer1::Dims dilation) noexcept override {
        this->op().dilation = dilation;
    }
    nvinfer1::Dims getDilationNd() const noexcept override { return this->op().dilation; }
};

using ConvolutionLayer = WindowedLayer<nvinfer1::IConvolutionLayer>;
using DeconvolutionLayer = WindowedLayer<nvinfer1::IDeconvolutionLayer>;

class ActivationLayer final : public LayerImpl<nvinfer1::IActivationLayer> {
public:
    using LayerImpl::LayerImpl;
    void setActivationType(nvinfer1::ActivationType type) noexcept override {
        op().activation = type;
    }
    nvinfer1::ActivationType getActivationType() const noexcept override { return op().activation; }
    void setAlpha(float alpha) noexcept override { op().alpha = alpha; }
    float getAlpha() const noexcept override { return op().alpha; }
    void setBeta(float beta) noexcept override { op().beta = beta; }
    float getBeta() const noexcept override { return op().beta; }
};

class PoolingLayer final : public LayerImpl<nvinfer1::IPoolingLayer> {
public:
    using LayerImpl::LayerImpl;
    void setPoolingType(nvinfer1::PoolingType type) noexcept override { op().pooling = type; }
    nvinfer1::PoolingType getPoolingType() const noexcept override { return op().pooling; }
    void setWindowSizeNd(nvinfer1::Dims windowSize) noexcept override { op().kernel = windowSize; }
    nvinfer1::Dims getWindowSizeNd() const noexcept override { return op().kernel; }
    void setStrideNd(nvinfer1::Dims stride) noexcept override { op().stride = stride; }
    nvinfer1::Dims getStrideNd() const noexcept override;
    void setPaddingNd(nvinfer1::Dims padding) noexcept override {
        op().pre_padding = padding;
        op().post_padding = padding;
    }
    nvinfer1::Dims getPaddingNd() const noexcept override { return op().pre_padding; }
    void setAverageCountExcludesPadding(bool exclusive) noexcept override {
        op().exclude_padding = exclusive;
    }
    bool getAverageCountExcludesPadding() const noexcept override { return op().exclude_padding; }
};

class ConcatenationLayer final : public LayerImpl<nvinfer1::IConcatenationLayer> {
public:
    using LayerImpl::LayerImpl;
    void setAxis(int32_t axis) noexcept override { op().axis = axis; }
    int32_t getAxis() const noexcept override;
};

class ElementWiseLayer final : public LayerImpl<nvinfer1::IElementWiseLayer> {
public:
    using LayerImpl::LayerImpl;
    void setOperation(nvinfer1::ElementWiseOperation type) noexcept override {
        op().elementwise = type;
    }
    nvinfer1::ElementWiseOperation getOperation() const noexcept override {
        return op().elementwise;
    }
};

class SoftMaxLayer final : public LayerImpl<nvinfer1::ISoftMaxLayer> {
public:
    using LayerImpl::LayerImpl;
    void setAxes(uint32_t axes) noexcept override { op().axes = axes; }
    uint32_t getAxes() const noexcept override;
};

class ResizeLayer final : public LayerImpl<nvinfer1::IResizeLayer> {
public:
    using LayerImpl::LayerImpl;
    void setOutputDimensions(nvinfer1::Dims dimensions) noexcept override;
    nvinfer1::Dims getOutputDimensions() const noexcept override { return op().resize_dims; }
    void setScales(float const* scales, int32_t nbScales) noexcept override;
    int32_t getScales(int32_t size, float* scales) const noexcept override;
    void setResizeMode(nvinfer1::InterpolationMode mode) noexcept override {
        op().resize_mode = mode;
    }
    nvinfer1::InterpolationMode getResizeMode() const noexcept override { return op().resize_mode; }
};

class ShuffleLayer final : public LayerImpl<nvinfer1::IShuffleLayer> {
public:
    using LayerImpl::LayerImpl;
    void setFirstTranspose(nvinfer1::Permutation permutation) noexcept override;
    nvinfer1::Permutation getFirstTranspose() const noexcept override;
    void setReshapeDimensions(nvinfer1::Dims dimensions) noexcept override;
    nvinfer1::Dims getReshapeDimensions() const noexcept override { return op().reshape; }
};

}  // namespace trt_host
