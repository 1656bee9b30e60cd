// TRTBuilder: turns a network file into TensorRT engines, one per described network, and has the
// network parser store them as the engine file. Building is slow and runs once, when the engine
// file is missing. One thread drives a builder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "NvInfer.h"
#include "module/common/parameter.h"
#include "module/engine/nvidia/det_algorithm_selector.h"
#include "module/engine/nvidia/tool/hlogging.h"

namespace krell::det {

class NetworkParser;

class TRTBuilder {
public:
    //! Reads one network's JSON and advances the weight cursor past the weights it used.
    using NetworkFunction = std::function<bool(const nlohmann::json&, const uint8_t*&)>;

    //! params is copied; logger is shared (a logger reporting errors only is made when null).
    explicit TRTBuilder(const ModelParameter& params, std::shared_ptr<Logger> logger = nullptr);
    ~TRTBuilder();
    TRTBuilder(const TRTBuilder&) = delete;
    TRTBuilder& operator=(const TRTBuilder&) = delete;

    //! Parses the network file, builds every network and writes the engine file. False, after a
    //! level-1 line, when the file cannot be read, its version is unknown, a network cannot be
    //! built or the engine file cannot be written; no engine file is written then. JSON type and
    //! missing-key errors of the description pass through as the JSON library's exceptions.
    bool build();

    //! Prepares a fresh builder, configuration and network for one engine's parameters.
    //! False when TensorRT refuses to create one of them.
    bool init(const EngineParameter& params);

    //! Fill the current network from one network's description. False, after a level-1 line,
    //! when a layer cannot be built (the network is then unusable).
    bool buildANetworkV0_0_2(const nlohmann::json& network, const uint8_t*& cursor);
    bool buildANetworkV0_0_4(const nlohmann::json& network, const uint8_t*& cursor);

    //! Replaces shape[2] and shape[3] of input tensorName with the engine table's
    //! "input_tensors" entry for it, when one with exactly two values exists.
    void reviewInputShape(const std::string& tensorName, std::vector<int32_t>& shape) const;

    //! Builds the current network; null, after a level-1 line, on failure. The caller owns it.
    std::unique_ptr<nvinfer1::IHostMemory> serializedNetwork(const std::string& name);

    //! The network being built (null before init); for inspection by tests.
    nvinfer1::INetworkDefinition* network() const { return network_.get(); }
    nvinfer1::IBuilderConfig* config() const { return config_.get(); }
    nvinfer1::DataType engineDataType() const { return data_type_; }

private:
    using Layer = nvinfer1::ILayer;
    using Tensor = nvinfer1::ITensor;

    struct ConvSpec {
        int32_t out_channels = 0;
        int32_t groups = 1;
        nvinfer1::Dims kernel{};
        nvinfer1::Dims stride{};
        nvinfer1::Dims padding{};
        nvinfer1::Dims dilation{};
        nvinfer1::Weights kernel_weights{};
        nvinfer1::Weights bias_weights{};
        std::string activation;
    };

    bool buildOneNetwork(const nlohmann::json& network, const uint8_t*& cursor, bool v0_0_4);
    bool addLayer(const nlohmann::json& layer, const uint8_t*& cursor, bool v0_0_4);
    bool addLayerV0_0_2(const nlohmann::json& layer, const std::string& type,
                        const uint8_t*& cursor);
    bool addLayerV0_0_4(const nlohmann::json& layer, const std::string& type,
                        const uint8_t*& cursor);
    bool addCommonLayer(const nlohmann::json& layer, const std::string& type,
                        const uint8_t*& cursor, bool v0_0_4, bool& handled);
    bool addInput(const nlohmann::json& layer, const char* shapeKey);
    bool addOutput(const nlohmann::json& layer);
    bool addConvLike(const nlohmann::json& layer, const uint8_t*& cursor, bool v0_0_4, bool deconv);
    bool addPooling(const nlohmann::json& layer, nvinfer1::PoolingType kind, bool v0_0_4);
    bool addRouteV0_0_2(const nlohmann::json& layer);
    bool takeWeights(const uint8_t*& cursor, int64_t bytes, const std::string& layerName,
                     nvinfer1::Weights& weights);
    bool finishNetwork(const std::string& name,
                       std::vector<std::unique_ptr<nvinfer1::IHostMemory>>& engines);
    void setIOFormats();
    void setInt8Precision();

    Layer* addConvolutionLayer(Tensor& input, const ConvSpec& spec, const std::string& name,
                               float amax);
    Layer* addDeconvolutionLayer(Tensor& input, const ConvSpec& spec, const std::string& name,
                                 float amax);
    Layer* addActivationLayer(Tensor& input, const std::string& activation, const std::string& name,
                              float amax);
    Layer* addPoolingLayer(Tensor& input, nvinfer1::PoolingType kind, const nvinfer1::Dims& window,
                           const nvinfer1::Dims& stride, const nvinfer1::Dims& padding,
                           const std::string& name, float amax);
    Layer* addConcatLayer(const std::vector<Tensor*>& inputs, const std::string& name, float amax);
    Layer* addElementWiseLayer(Tensor& first, Tensor& second, nvinfer1::ElementWiseOperation op,
                               const std::string& name, float amax);
    Layer* addSoftmaxLayer(Tensor& input, int32_t dim, const std::string& name);
    Layer* addUpsampleLayer(Tensor& input, float factor, const std::string& name, float amax);
    Layer* addPermuteLayer(Tensor& input, const std::vector<int32_t>& dim);

    void setRange(Tensor& tensor, float amax) const;
    Tensor& tensorOf(const std::string& layerName) const;
    std::vector<Tensor*> inputsOf(const nlohmann::json& layer) const;
    bool registerLast(const nlohmann::json& layer, Layer* last);

    NetworkFunction network_function_;
    int32_t dla_id_ = -1;
    int32_t max_batch_size_ = 1;
    nvinfer1::DataType data_type_ = nvinfer1::DataType::kFLOAT;
    std::shared_ptr<Logger> logger_;
    ModelParameter params_;
    std::shared_ptr<NetworkParser> parser_;
    std::unique_ptr<nvinfer1::IBuilder> builder_;
    std::unique_ptr<nvinfer1::IBuilderConfig> config_;
    std::unique_ptr<nvinfer1::INetworkDefinition> network_;
    std::unique_ptr<DetAlgorithmSelector> selector_;
    std::unordered_map<std::string, Tensor*> tensors_;
    //! One past the last weight byte: a layer may not take weights beyond it.
    const uint8_t* weights_end_ = nullptr;
};

}  // namespace krell::det
