#include "platform/tensorrt/src/network_definition.h"

#include <algorithm>

#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {
namespace {

const char* kindText(OpKind kind) {
    switch (kind) {
        case OpKind::kConvolution:
            return "Convolution";
        case OpKind::kDeconvolution:
            return "Deconvolution";
        case OpKind::kActivation:
            return "Activation";
        case OpKind::kPooling:
            return "Pooling";
        case OpKind::kConcatenation:
            return "Concatenation";
        case OpKind::kElementWise:
            return "ElementWise";
        case OpKind::kSoftMax:
            return "Softmax";
        case OpKind::kResize:
            return "Resize";
        case OpKind::kShuffle:
            return "Shuffle";
    }
    return "Layer";
}

}  // namespace

void NetworkDefinition::reportError(const std::string& message) const {
    logger_.log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
}

int32_t NetworkDefinition::tensorIndex(const nvinfer1::ITensor& tensor, const char* caller) const {
    for (const auto& handle : tensors_) {
        if (handle.get() == &tensor) {
            return handle->index();
        }
    }
    reportError(std::string(caller) + ": the tensor does not belong to this network");
    return -1;
}

nvinfer1::Dims NetworkDefinition::tensorDims(int32_t index) {
    std::size_t producer = graph_.ops.size();
    for (std::size_t i = 0; i < graph_.ops.size(); ++i) {
        const std::vector<int32_t>& outs = graph_.ops[i].outputs;
        if (std::find(outs.begin(), outs.end(), index) != outs.end()) {
            producer = i;
            break;
        }
    }
    if (producer == graph_.ops.size()) {
        return graph_.tensors[index].dims;
    }
    std::string reason;
    if (!ShapeInference::inferOps(graph_, producer + 1, reason)) {
        nvinfer1::Dims invalid{};
        invalid.nbDims = -1;
        return invalid;
    }
    return graph_.tensors[index].dims;
}

nvinfer1::ITensor* NetworkDefinition::addInput(char const* name, nvinfer1::DataType type,
                                               nvinfer1::Dims dimensions) noexcept {
    if (name == nullptr || *name == '\0') {
        reportError("addInput: an input needs a name");
        return nullptr;
    }
    GraphTensor tensor;
    tensor.name = name;
    tensor.type = type;
    tensor.dims = dimensions;
    const auto index = static_cast<int32_t>(graph_.tensors.size());
    graph_.tensors.push_back(tensor);
    graph_.inputs.push_back(index);
    tensors_.push_back(std::make_unique<NetworkTensor>(*this, index));
    return tensors_.back().get();
}

void NetworkDefinition::markOutput(nvinfer1::ITensor& tensor) noexcept {
    const int32_t index = tensorIndex(tensor, "markOutput");
    if (index >= 0 &&
        std::find(graph_.outputs.begin(), graph_.outputs.end(), index) == graph_.outputs.end()) {
        graph_.outputs.push_back(index);
    }
}

void NetworkDefinition::unmarkOutput(nvinfer1::ITensor& tensor) noexcept {
    const int32_t index = tensorIndex(tensor, "unmarkOutput");
    graph_.outputs.erase(std::remove(graph_.outputs.begin(), graph_.outputs.end(), index),
                         graph_.outputs.end());
}

int32_t NetworkDefinition::appendOp(OpKind kind, const std::vector<int32_t>& inputs) {
    const auto op_index = static_cast<int32_t>(graph_.ops.size());
    GraphOp op;
    op.kind = kind;
    op.name = "(Unnamed Layer* " + std::to_string(op_index) + ") [" + kindText(kind) + "]";
    op.inputs = inputs;
    const auto out = static_cast<int32_t>(graph_.tensors.size());
    op.outputs.push_back(out);
    GraphTensor tensor;
    tensor.name = op.name + "_output";
    graph_.tensors.push_back(tensor);
    tensors_.push_back(std::make_unique<NetworkTensor>(*this, out));
    graph_.ops.push_back(std::move(op));
    return op_index;
}

template <typename Layer>
Layer* NetworkDefinition::attach() {
    auto layer = std::make_unique<Layer>(*this, static_cast<int32_t>(graph_.ops.size()) - 1);
    Layer* raw = layer.get();
    layers_.push_back(std::move(layer));
    return raw;
}

int32_t NetworkDefinition::appendUnary(OpKind kind, nvinfer1::ITensor& input, const char* caller) {
    const int32_t index = tensorIndex(input, caller);
    return index < 0 ? -1 : appendOp(kind, {index});
}

template <typename Layer>
Layer* NetworkDefinition::addWindowed(OpKind kind, nvinfer1::ITensor& input, int32_t maps,
                                      nvinfer1::Dims kernel, nvinfer1::Weights kernelWeights,
                                      nvinfer1::Weights biasWeights, const char* caller) {
    if (appendUnary(kind, input, caller) < 0) {
        return nullptr;
    }
    Layer* layer = attach<Layer>();
    layer->setNbOutputMaps(maps);
    layer->setKernelSizeNd(kernel);
    layer->setKernelWeights(kernelWeights);
    layer->setBiasWeights(biasWeights);
    return layer;
}

nvinfer1::IConvolutionLayer* NetworkDefinition::addConvolutionNd(
    nvinfer1::ITensor& input, int32_t nbOutputMaps, nvinfer1::Dims kernelSize,
    nvinfer1::Weights kernelWeights, nvinfer1::Weights biasWeights) noexcept {
    return addWindowed<ConvolutionLayer>(OpKind::kConvolution, input, nbOutputMaps, kernelSize,
                                         kernelWeights, biasWeights, "addConvolutionNd");
}

nvinfer1::IDeconvolutionLayer* NetworkDefinition::addDeconvolutionNd(
    nvinfer1::ITensor& input, int32_t nbOutputMaps, nvinfer1::Dims kernelSize,
    nvinfer1::Weights kernelWeights, nvinfer1::Weights biasWeights) noexcept {
    return addWindowed<DeconvolutionLayer>(OpKind::kDeconvolution, input, nbOutputMaps, kernelSize,
                                           kernelWeights, biasWeights, "addDeconvolutionNd");
}

nvinfer1::IActivationLayer* NetworkDefinition::addActivation(
    nvinfer1::ITensor& input, nvinfer1::ActivationType type) noexcept {
    if (appendUnary(OpKind::kActivation, input, "addActivation") < 0) {
        return nullptr;
    }
    ActivationLayer* layer = attach<ActivationLayer>();
    layer->setActivationType(type);
    return layer;
}

nvinfer1::IPoolingLayer* NetworkDefinition::addPoolingNd(nvinfer1::ITensor& input,
                                                         nvinfer1::PoolingType type,
                                                         nvinfer1::Dims windowSize) noexcept {
    if (appendUnary(OpKind::kPooling, input, "addPoolingNd") < 0) {
        return nullptr;
    }
    PoolingLayer* layer = attach<PoolingLayer>();
    layer->setPoolingType(type);
    layer->setWindowSizeNd(windowSize);
    return layer;
}

nvinfer1::IConcatenationLayer* NetworkDefinition::addConcatenation(nvinfer1::ITensor* const* inputs,
                                                                   int32_t nbInputs) noexcept {
    if (inputs == nullptr || nbInputs < 1) {
        reportError("addConcatenation: needs at least one input");
        return nullptr;
    }
    std::vector<int32_t> indices;
    for (int32_t i = 0; i < nbInputs; ++i) {
        const int32_t index =
            inputs[i] != nullptr ? tensorIndex(*inputs[i], "addConcatenation") : -1;
        if (index < 0) {
            return nullptr;
        }
        indices.push_back(index);
    }
    appendOp(OpKind::kConcatenation, indices);
    return attach<ConcatenationLayer>();
}

nvinfer1::IElementWiseLayer* NetworkDefinition::addElementWise(
    nvinfer1::ITensor& input1, nvinfer1::ITensor& input2,
    nvinfer1::ElementWiseOperation op) noexcept {
    const int32_t first = tensorIndex(input1, "addElementWise");
    const int32_t second = tensorIndex(input2, "addElementWise");
    if (first < 0 || second < 0) {
        return nullptr;
    }
    appendOp(OpKind::kElementWise, {first, second});
    ElementWiseLayer* layer = attach<ElementWiseLayer>();
    layer->setOperation(op);
    return layer;
}

nvinfer1::ISoftMaxLayer* NetworkDefinition::addSoftMax(nvinfer1::ITensor& input) noexcept {
    return appendUnary(OpKind::kSoftMax, input, "addSoftMax") < 0 ? nullptr
                                                                  : attach<SoftMaxLayer>();
}

nvinfer1::IResizeLayer* NetworkDefinition::addResize(nvinfer1::ITensor& input) noexcept {
    return appendUnary(OpKind::kResize, input, "addResize") < 0 ? nullptr : attach<ResizeLayer>();
}

nvinfer1::IShuffleLayer* NetworkDefinition::addShuffle(nvinfer1::ITensor& input) noexcept {
    return appendUnary(OpKind::kShuffle, input, "addShuffle") < 0 ? nullptr
                                                                  : attach<ShuffleLayer>();
}

nvinfer1::ILayer* NetworkDefinition::getLayer(int32_t index) const noexcept {
    return index >= 0 && index < getNbLayers() ? layers_[index]->layer() : nullptr;
}

nvinfer1::ITensor* NetworkDefinition::getInput(int32_t index) const noexcept {
    return index >= 0 && index < getNbInputs() ? tensors_[graph_.inputs[index]].get() : nullptr;
}

nvinfer1::ITensor* NetworkDefinition::getOutput(int32_t index) const noexcept {
    return index >= 0 && index < getNbOutputs() ? tensors_[graph_.outputs[index]].get() : nullptr;
}

void NetworkDefinition::setName(char const* name) noexcept {
    if (name != nullptr) {
        graph_.name = name;
    }
}

}  // namespace trt_host
