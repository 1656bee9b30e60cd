#include "platform/tensorrt/src/network_tensor.h"

#include <algorithm>
#include <cmath>

#include "platform/tensorrt/src/network_definition.h"

namespace trt_host {

namespace {
bool contains(const std::vector<int32_t>& list, int32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}
}  // namespace

void NetworkTensor::setName(char const* name) noexcept {
    if (name != nullptr) {
        network_.graph().tensors[index_].name = name;
    }
}

char const* NetworkTensor::getName() const noexcept {
    return network_.graph().tensors[index_].name.c_str();
}

void NetworkTensor::setDimensions(nvinfer1::Dims dimensions) noexcept {
    if (!isNetworkInput()) {
        network_.reportError("setDimensions: only network inputs take dimensions (tensor " +
                             std::string(getName()) + ")");
        return;
    }
    network_.graph().tensors[index_].dims = dimensions;
}

nvinfer1::Dims NetworkTensor::getDimensions() const noexcept {
    return network_.tensorDims(index_);
}

void NetworkTensor::setType(nvinfer1::DataType type) noexcept {
    network_.graph().tensors[index_].type = type;
}

nvinfer1::DataType NetworkTensor::getType() const noexcept {
    return network_.graph().tensors[index_].type;
}

bool NetworkTensor::setDynamicRange(float min, float max) noexcept {
    if (!(min <= max) || !std::isfinite(min) || !std::isfinite(max)) {
        return false;
    }
    GraphTensor& tensor = network_.graph().tensors[index_];
    tensor.has_range = true;
    tensor.range_min = min;
    tensor.range_max = max;
    return true;
}

bool NetworkTensor::dynamicRangeIsSet() const noexcept {
    return network_.graph().tensors[index_].has_range;
}

void NetworkTensor::resetDynamicRange() noexcept {
    network_.graph().tensors[index_].has_range = false;
}

float NetworkTensor::getDynamicRangeMin() const noexcept {
    return network_.graph().tensors[index_].range_min;
}

float NetworkTensor::getDynamicRangeMax() const noexcept {
    return network_.graph().tensors[index_].range_max;
}

bool NetworkTensor::isNetworkInput() const noexcept {
    return contains(network_.graph().inputs, index_);
}

bool NetworkTensor::isNetworkOutput() const noexcept {
    return contains(network_.graph().outputs, index_);
}

void NetworkTensor::setAllowedFormats(nvinfer1::TensorFormats formats) noexcept {
    network_.graph().tensors[index_].allowed_formats = formats;
}

nvinfer1::TensorFormats NetworkTensor::getAllowedFormats() const noexcept {
    return network_.graph().tensors[index_].allowed_formats;
}

}  // namespace trt_host
