// The layer adders of TRTBuilder: one TensorRT layer (or a convolution and its activation) per
// described layer, named after it, with its INT8 range when the engine is INT8.
#include <string>

#include "module/common/log.h"
#include "module/common/missing_key.h"
#include "module/network/nvidia/trt_builder.h"

namespace krell::det {
namespace {

constexpr int64_t kFloatBytes = 4;
constexpr int32_t kPermuteDims = 4;

// A 2-D size given as one number for both axes or as [height, width, ...].
nvinfer1::Dims dims2(const nlohmann::json& value) {
    if (value.is_array()) {
        return nvinfer1::Dims2(value.at(0).get<int32_t>(), value.at(1).get<int32_t>());
    }
    const int32_t both = value.get<int32_t>();
    return nvinfer1::Dims2(both, both);
}

void nameOutput(nvinfer1::ILayer& layer, const std::string& name) {
    layer.getOutput(0)->setName(name.c_str());
}

}  // namespace

bool TRTBuilder::addConvLike(const nlohmann::json& layer, const uint8_t*& cursor, bool v0_0_4,
                             bool deconv) {
    const std::string name = layer.at("name").get<std::string>();
    ConvSpec spec;
    spec.out_channels = layer.at("out_channels").get<int32_t>();
    spec.groups = layer.at("groups").get<int32_t>();
    spec.kernel = dims2(layer.at("kernel_size"));
    spec.stride = dims2(layer.at("stride"));
    spec.padding = dims2(layer.at(v0_0_4 ? "padding" : "pad"));
    spec.dilation = dims2(layer.at("dilation"));
    if (v0_0_4) {
        spec.activation = layer.at("activation").get<std::string>();
    } else if (layer.contains("activation")) {
        spec.activation = layer.at("activation").get<std::string>();
    }
    const float amax = layer.at("amax").get<float>();
    if (!takeWeights(cursor, layer.at("weight_length").get<int64_t>(), name, spec.kernel_weights)) {
        return false;
    }
    const nlohmann::json& bias = layer.at("bias");
    if (bias == 1 || bias == true) {
        if (!takeWeights(cursor, layer.at("bias_length").get<int64_t>(), name, spec.bias_weights)) {
            return false;
        }
    }
    Tensor& input = tensorOf(layer.at("pre_nodes").at(0));
    return registerLast(layer, deconv ? addDeconvolutionLayer(input, spec, name, amax)
                                      : addConvolutionLayer(input, spec, name, amax));
}

bool TRTBuilder::takeWeights(const uint8_t*& cursor, int64_t bytes, const std::string& layerName,
                             nvinfer1::Weights& weights) {
    // The description is outside data: a length past the weight block would make TensorRT read
    // beyond the buffer, so it ends the network instead.
    const int64_t left = cursor == nullptr ? 0 : weights_end_ - cursor;
    if (bytes < 0 || bytes % kFloatBytes != 0 || bytes > left) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Layer " << layerName << " asks for " << bytes
                           << " weight bytes, but " << left
                           << " are left in the weight block (whole floats only)" << kLogReset;
        return false;
    }
    weights.type = nvinfer1::DataType::kFLOAT;
    weights.values = bytes > 0 ? cursor : nullptr;
    weights.count = bytes / kFloatBytes;
    if (bytes > 0) {
        cursor += bytes;
    }
    return true;
}

bool TRTBuilder::addPooling(const nlohmann::json& layer, nvinfer1::PoolingType kind, bool v0_0_4) {
    const std::string name = layer.at("name").get<std::string>();
    const nvinfer1::Dims window = dims2(layer.at(v0_0_4 ? "kernel_size" : "size"));
    const nvinfer1::Dims stride = dims2(layer.at("stride"));
    const nvinfer1::Dims padding = dims2(layer.at(v0_0_4 ? "padding" : "pad"));
    return registerLast(
        layer, addPoolingLayer(tensorOf(layer.at("pre_nodes").at(0)), kind, window, stride, padding,
                               name, layer.at("amax").get<float>()));
}

nvinfer1::ILayer* TRTBuilder::addConvolutionLayer(Tensor& input, const ConvSpec& spec,
                                                  const std::string& name, float amax) {
    nvinfer1::IConvolutionLayer* conv = network_->addConvolutionNd(
        input, spec.out_channels, spec.kernel, spec.kernel_weights, spec.bias_weights);
    if (conv == nullptr) {
        return nullptr;
    }
    conv->setStrideNd(spec.stride);
    conv->setPaddingNd(spec.padding);
    conv->setDilationNd(spec.dilation);
    conv->setNbGroups(spec.groups);
    conv->setName((name + ".conv").c_str());
    nameOutput(*conv, name + ".conv.output");
    setRange(*conv->getOutput(0), amax);
    if (spec.activation.empty()) {
        return conv;
    }
    return addActivationLayer(*conv->getOutput(0), spec.activation, name, amax);
}

nvinfer1::ILayer* TRTBuilder::addDeconvolutionLayer(Tensor& input, const ConvSpec& spec,
                                                    const std::string& name, float amax) {
    nvinfer1::IDeconvolutionLayer* deconv = network_->addDeconvolutionNd(
        input, spec.out_channels, spec.kernel, spec.kernel_weights, spec.bias_weights);
    if (deconv == nullptr) {
        return nullptr;
    }
    deconv->setStrideNd(spec.stride);
    deconv->setPaddingNd(spec.padding);
    deconv->setDilationNd(spec.dilation);
    deconv->setNbGroups(spec.groups);
    deconv->setName((name + ".deconv").c_str());
    nameOutput(*deconv, name + ".deconv.output");
    setRange(*deconv->getOutput(0), amax);
    if (spec.activation.empty()) {
        return deconv;
    }
    return addActivationLayer(*deconv->getOutput(0), spec.activation, name, amax);
}

nvinfer1::ILayer* TRTBuilder::addActivationLayer(Tensor& input, const std::string& activation,
                                                 const std::string& name, float amax) {
    nvinfer1::ActivationType type = nvinfer1::ActivationType::kRELU;
    std::string suffix = ".relu";
    if (activation == "clip") {
        // TensorRT's default clip bounds are 0 and 0, so this layer yields 0 for every input.
        type = nvinfer1::ActivationType::kCLIP;
        suffix = ".clip";
    } else if (activation != "relu" && activation != "relu6") {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Unknown activation of " << activation
                           << kLogReset;
        return nullptr;
    }
    nvinfer1::IActivationLayer* layer = network_->addActivation(input, type);
    if (layer == nullptr) {
        return nullptr;
    }
    layer->setName((name + suffix).c_str());
    nameOutput(*layer, name + suffix + ".output");
    setRange(*layer->getOutput(0), amax);
    return layer;
}

nvinfer1::ILayer* TRTBuilder::addPoolingLayer(Tensor& input, nvinfer1::PoolingType kind,
                                              const nvinfer1::Dims& window,
                                              const nvinfer1::Dims& stride,
                                              const nvinfer1::Dims& padding,
                                              const std::string& name, float amax) {
    nvinfer1::IPoolingLayer* pool = network_->addPoolingNd(input, kind, window);
    if (pool == nullptr) {
        return nullptr;
    }
    pool->setStrideNd(stride);
    pool->setPaddingNd(padding);
    pool->setAverageCountExcludesPadding(false);
    pool->setName(name.c_str());
    nameOutput(*pool, name + ".pooling.output");
    setRange(*pool->getOutput(0), amax);
    return pool;
}

nvinfer1::ILayer* TRTBuilder::addConcatLayer(const std::vector<Tensor*>& inputs,
                                             const std::string& name, float amax) {
    nvinfer1::IConcatenationLayer* concat =
        network_->addConcatenation(inputs.data(), static_cast<int32_t>(inputs.size()));
    if (concat == nullptr) {
        return nullptr;
    }
    concat->setName(name.c_str());
    nameOutput(*concat, name + ".concat.output");
    setRange(*concat->getOutput(0), amax);
    return concat;
}

nvinfer1::ILayer* TRTBuilder::addElementWiseLayer(Tensor& first, Tensor& second,
                                                  nvinfer1::ElementWiseOperation op,
                                                  const std::string& name, float amax) {
    nvinfer1::IElementWiseLayer* layer = network_->addElementWise(first, second, op);
    if (layer == nullptr) {
        return nullptr;
    }
    layer->setName(name.c_str());
    nameOutput(*layer, name + ".elementwise.output");
    setRange(*layer->getOutput(0), amax);
    return layer;
}

nvinfer1::ILayer* TRTBuilder::addSoftmaxLayer(Tensor& input, int32_t dim, const std::string& name) {
    nvinfer1::ISoftMaxLayer* layer = network_->addSoftMax(input);
    if (layer == nullptr) {
        return nullptr;
    }
    layer->setAxes(1U << static_cast<uint32_t>(dim));
    nameOutput(*layer, name + ".softmax.output");
    return layer;
}

nvinfer1::ILayer* TRTBuilder::addUpsampleLayer(Tensor& input, float factor, const std::string& name,
                                               float amax) {
    nvinfer1::IResizeLayer* layer = network_->addResize(input);
    if (layer == nullptr) {
        return nullptr;
    }
    layer->setResizeMode(nvinfer1::InterpolationMode::kNEAREST);
    if (input.getDimensions().nbDims == 4) {
        const float scales[] = {1.0F, 1.0F, factor, factor};
        layer->setScales(scales, 4);
    } else {
        const float scales[] = {1.0F, factor, factor};
        layer->setScales(scales, 3);
    }
    layer->setName((name + ".upsample").c_str());
    nameOutput(*layer, name + ".upsample.output");
    setRange(*layer->getOutput(0), amax);
    return layer;
}

nvinfer1::ILayer* TRTBuilder::addPermuteLayer(Tensor& input, const std::vector<int32_t>& dim) {
    if (dim.size() != kPermuteDims) {
        DET_LOG(kLogError) << "[INIT][addPermuteLayer] tensor dim must be 4, but now is "
                           << dim.size() << kLogReset;
        return nullptr;
    }
    nvinfer1::IShuffleLayer* layer = network_->addShuffle(input);
    if (layer == nullptr) {
        return nullptr;
    }
    nvinfer1::Permutation order{};
    for (int32_t i = 0; i < kPermuteDims; ++i) {
        order.order[i] = dim[static_cast<size_t>(i)];
    }
    layer->setFirstTranspose(order);
    return layer;
}

void TRTBuilder::setRange(Tensor& tensor, float amax) const {
    if (data_type_ == nvinfer1::DataType::kINT8) {
        tensor.setDynamicRange(-amax, amax);
    }
}

nvinfer1::ITensor& TRTBuilder::tensorOf(const std::string& layerName) const {
    // A name no earlier layer produced raises the framework's out-of-range error (the text of
    // every lookup of this system, not the standard library's own "unordered_map::at").
    const auto found = tensors_.find(layerName);
    if (found == tensors_.end()) {
        throwMissingKey();
    }
    return *found->second;
}

std::vector<nvinfer1::ITensor*> TRTBuilder::inputsOf(const nlohmann::json& layer) const {
    std::vector<Tensor*> inputs;
    for (const auto& name : layer.at("pre_nodes")) {
        inputs.push_back(&tensorOf(name.get<std::string>()));
    }
    return inputs;
}

bool TRTBuilder::registerLast(const nlohmann::json& layer, Layer* last) {
    const std::string name = layer.at("name").get<std::string>();
    if (last == nullptr) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Layer " << name
                           << " could not be added; the network is not built" << kLogReset;
        return false;
    }
    tensors_[name] = last->getOutput(0);
    return true;
}

}  // namespace krell::det
