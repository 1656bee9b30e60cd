#include "platform/tensorrt/src/network_layers.h"

#include <cstring>

#include "platform/tensorrt/src/half_float.h"
#include "platform/tensorrt/src/network_definition.h"
#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {

using nvinfer1::DataType;

bool usableWeights(const nvinfer1::Weights& weights) {
    if (weights.count == 0) {
        return true;
    }
    return weights.count > 0 && weights.count < ShapeInference::kMaxElements &&
           weights.values != nullptr &&
           (weights.type == DataType::kFLOAT || weights.type == DataType::kHALF);
}

bool copyWeights(const nvinfer1::Weights& weights, std::vector<float>& out) {
    out.clear();
    if (weights.count == 0) {
        return true;
    }
    if (!usableWeights(weights)) {
        return false;
    }
    const auto count = static_cast<std::size_t>(weights.count);
    if (weights.type == DataType::kFLOAT) {
        out.resize(count);
        std::memcpy(out.data(), weights.values, count * sizeof(float));
        return true;
    }
    if (weights.type == DataType::kHALF) {
        const auto* halves = static_cast<const uint16_t*>(weights.values);
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = HalfFloat::toFloat(halves[i]);
        }
        return true;
    }
    return false;
}

bool readWeights(Graph& graph, std::string& error) {
    for (GraphOp& op : graph.ops) {
        if (op.kind != OpKind::kConvolution && op.kind != OpKind::kDeconvolution) {
            continue;
        }
        if (!copyWeights(op.weights_source, op.weights) || !copyWeights(op.bias_source, op.bias)) {
            error = "layer " + op.name + ": weights must be float or half values";
            return false;
        }
        op.weights_source = nvinfer1::Weights{};
        op.bias_source = nvinfer1::Weights{};
    }
    return true;
}

namespace {

nvinfer1::LayerType layerType(OpKind kind) {
    switch (kind) {
        case OpKind::kConvolution:
            return nvinfer1::LayerType::kCONVOLUTION;
        case OpKind::kDeconvolution:
            return nvinfer1::LayerType::kDECONVOLUTION;
        case OpKind::kActivation:
            return nvinfer1::LayerType::kACTIVATION;
        case OpKind::kPooling:
            return nvinfer1::LayerType::kPOOLING;
        case OpKind::kConcatenation:
            return nvinfer1::LayerType::kCONCATENATION;
        case OpKind::kElementWise:
            return nvinfer1::LayerType::kELEMENTWISE;
        case OpKind::kSoftMax:
            return nvinfer1::LayerType::kSOFTMAX;
        case OpKind::kResize:
            return nvinfer1::LayerType::kRESIZE;
        case OpKind::kShuffle:
            return nvinfer1::LayerType::kSHUFFLE;
    }
    return nvinfer1::LayerType::kIDENTITY;
}

}  // namespace

template <typename Interface>
GraphOp& LayerImpl<Interface>::op() const {
    return network_.graph().ops[op_index_];
}

template <typename Interface>
void LayerImpl<Interface>::reportError(const std::string& message) const {
    network_.reportError("layer " + op().name + ": " + message);
}

template <typename Interface>
nvinfer1::LayerType LayerImpl<Interface>::getType() const noexcept {
    return layerType(op().kind);
}

template <typename Interface>
void LayerImpl<Interface>::setName(char const* name) noexcept {
    if (name != nullptr) {
        op().name = name;
    }
}

template <typename Interface>
char const* LayerImpl<Interface>::getName() const noexcept {
    return op().name.c_str();
}

template <typename Interface>
int32_t LayerImpl<Interface>::getNbInputs() const noexcept {
    return static_cast<int32_t>(op().inputs.size());
}

template <typename Interface>
nvinfer1::ITensor* LayerImpl<Interface>::getInput(int32_t index) const noexcept {
    if (index < 0 || index >= getNbInputs()) {
        return nullptr;
    }
    return network_.tensorHandle(op().inputs[index]);
}

template <typename Interface>
int32_t LayerImpl<Interface>::getNbOutputs() const noexcept {
    return static_cast<int32_t>(op().outputs.size());
}

template <typename Interface>
nvinfer1::ITensor* LayerImpl<Interface>::getOutput(int32_t index) const noexcept {
    if (index < 0 || index >= getNbOutputs()) {
        return nullptr;
    }
    return network_.tensorHandle(op().outputs[index]);
}

template <typename Interface>
void LayerImpl<Interface>::setInput(int32_t index, nvinfer1::ITensor& tensor) noexcept {
    const int32_t tensor_index = network_.tensorIndex(tensor, "setInput");
    if (index >= 0 && index < getNbInputs() && tensor_index >= 0) {
        op().inputs[index] = tensor_index;
    }
}

template <typename Interface>
void LayerImpl<Interface>::setPrecision(DataType dataType) noexcept {
    op().precision = dataType;
    op().precision_set = true;
}

template <typename Interface>
DataType LayerImpl<Interface>::getPrecision() const noexcept {
    return op().precision;
}

template <typename Interface>
bool LayerImpl<Interface>::precisionIsSet() const noexcept {
    return op().precision_set;
}

template <typename Interface>
void LayerImpl<Interface>::resetPrecision() noexcept {
    op().precision = DataType::kFLOAT;
    op().precision_set = false;
}

template <typename Interface>
void LayerImpl<Interface>::setOutputType(int32_t index, DataType dataType) noexcept {
    if (index >= 0 && index < getNbOutputs()) {
        op().output_type = dataType;
        op().output_type_set = true;
    }
}

template <typename Interface>
DataType LayerImpl<Interface>::getOutputType(int32_t index) const noexcept {
    return index >= 0 && index < getNbOutputs() ? op().output_type : DataType::kFLOAT;
}

template <typename Interface>
bool LayerImpl<Interface>::outputTypeIsSet(int32_t index) const noexcept {
    return index >= 0 && index < getNbOutputs() && op().output_type_set;
}

template <typename Interface>
void LayerImpl<Interface>::resetOutputType(int32_t index) noexcept {
    if (index >= 0 && index < getNbOutputs()) {
        op().output_type = DataType::kFLOAT;
        op().output_type_set = false;
    }
}

// Only the view is kept: the builder reads the values, so the caller's block must live until
// the engine is built, as with a GPU builder.
template <typename Interface>
void WindowedLayer<Interface>::setKernelWeights(nvinfer1::Weights weights) noexcept {
    this->op().weights.clear();
    this->op().weights_source = usableWeights(weights) ? weights : nvinfer1::Weights{};
    if (!usableWeights(weights)) {
        this->reportError("kernel weights must be float or half values");
    }
}

template <typename Interface>
nvinfer1::Weights WindowedLayer<Interface>::getKernelWeights() const noexcept {
    return this->op().weights_source;
}

template <typename Interface>
void WindowedLayer<Interface>::setBiasWeights(nvinfer1::Weights weights) noexcept {
    this->op().bias.clear();
    this->op().bias_source = usableWeights(weights) ? weights : nvinfer1::Weights{};
    if (!usableWeights(weights)) {
        this->reportError("bias weights must be float or half values");
    }
}

template <typename Interface>
nvinfer1::Weights WindowedLayer<Interface>::getBiasWeights() const noexcept {
    return this->op().bias_source;
}

template class LayerImpl<nvinfer1::IConvolutionLayer>;
template class LayerImpl<nvinfer1::IDeconvolutionLayer>;
template class LayerImpl<nvinfer1::IActivationLayer>;
template class LayerImpl<nvinfer1::IPoolingLayer>;
template class LayerImpl<nvinfer1::IConcatenationLayer>;
template class LayerImpl<nvinfer1::IElementWiseLayer>;
template class LayerImpl<nvinfer1::ISoftMaxLayer>;
template class LayerImpl<nvinfer1::IResizeLayer>;
template class LayerImpl<nvinfer1::IShuffleLayer>;
template class WindowedLayer<nvinfer1::IConvolutionLayer>;
template class WindowedLayer<nvinfer1::IDeconvolutionLayer>;

nvinfer1::Dims PoolingLayer::getStrideNd() const noexcept {
    return op().stride.nbDims == 0 ? op().kernel : op().stride;
}

int32_t ConcatenationLayer::getAxis() const noexcept {
    if (op().axis >= 0) {
        return op().axis;
    }
    const nvinfer1::ITensor* first = getInput(0);
    return ShapeInference::defaultAxis(first != nullptr ? first->getDimensions().nbDims : 4);
}

uint32_t SoftMaxLayer::getAxes() const noexcept {
    if (op().axes != 0) {
        return op().axes;
    }
    const nvinfer1::ITensor* input = getInput(0);
    return 1U << ShapeInference::defaultAxis(input != nullptr ? input->getDimensions().nbDims : 4);
}

void ResizeLayer::setOutputDimensions(nvinfer1::Dims dimensions) noexcept {
    op().resize_dims = dimensions;
    op().scales.clear();
}

void ResizeLayer::setScales(float const* scales, int32_t nbScales) noexcept {
    if (scales == nullptr || nbScales < 1 || nbScales > nvinfer1::Dims::MAX_DIMS) {
        reportError("setScales needs 1 to 8 scales");
        return;
    }
    op().scales.assign(scales, scales + nbScales);
}

int32_t ResizeLayer::getScales(int32_t size, float* scales) const noexcept {
    const auto count = static_cast<int32_t>(op().scales.size());
    if (count == 0) {
        return -1;
    }
    for (int32_t i = 0; i < count && i < size && scales != nullptr; ++i) {
        scales[i] = op().scales[i];
    }
    return count;
}

void ShuffleLayer::setFirstTranspose(nvinfer1::Permutation permutation) noexcept {
    op().transpose = permutation;
    op().has_transpose = true;
}

nvinfer1::Permutation ShuffleLayer::getFirstTranspose() const noexcept {
    if (op().has_transpose) {
        return op().transpose;
    }
    nvinfer1::Permutation identity{};
    for (int32_t i = 0; i < nvinfer1::Dims::MAX_DIMS; ++i) {
        identity.order[i] = i;
    }
    return identity;
}

void ShuffleLayer::setReshapeDimensions(nvinfer1::Dims dimensions) noexcept {
    op().reshape = dimensions;
    op().has_reshape = true;
}

}  // namespace trt_host
