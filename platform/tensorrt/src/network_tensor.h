// The ITensor handles a NetworkDefinition hands out: views of one tensor of its Graph.
#pragma once

#include <cstdint>

#include "NvInfer.h"

namespace trt_host {

class NetworkDefinition;

//! Owned by its network; index is the tensor's position in the network's Graph.
class NetworkTensor final : public nvinfer1::ITensor {
public:
    NetworkTensor(NetworkDefinition& network, int32_t index) : network_(network), index_(index) {}
    ~NetworkTensor() noexcept override = default;
    NetworkTensor(const NetworkTensor&) = delete;
    NetworkTensor& operator=(const NetworkTensor&) = delete;

    //! Position of the tensor in the Graph.
    int32_t index() const { return index_; }

    void setName(char const* name) noexcept override;
    char const* getName() const noexcept override;
    void setDimensions(nvinfer1::Dims dimensions) noexcept override;
    nvinfer1::Dims getDimensions() const noexcept override;
    void setType(nvinfer1::DataType type) noexcept override;
    nvinfer1::DataType getType() const noexcept override;
    bool setDynamicRange(float min, float max) noexcept override;
    bool dynamicRangeIsSet() const noexcept override;
    void resetDynamicRange() noexcept override;
    float getDynamicRangeMin() const noexcept override;
    float getDynamicRangeMax() const noexcept override;
    bool isNetworkInput() const noexcept override;
    bool isNetworkOutput() const noexcept override;
    void setAllowedFormats(nvinfer1::TensorFormats formats) noexcept override;
    nvinfer1::TensorFormats getAllowedFormats() const noexcept override;
    bool isExecutionTensor() const noexcept override { return true; }
    bool isShapeTensor() const noexcept override { return false; }

private:
    NetworkDefinition& network_;
    int32_t index_;
};

}  // namespace trt_host
