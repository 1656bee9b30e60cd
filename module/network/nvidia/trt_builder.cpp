#include "module/network/nvidia/trt_builder.h"

#include <utility>

#include "module/common/log.h"
#include "module/engine/nvidia/tool/util.h"
#include "module/network/nvidia/network_parser.h"

namespace krell::det {
namespace {

constexpr const char* kVersion004 = "v0.0.4";
constexpr const char* kVersion002 = "0.0.2";
constexpr const char* kVersion003 = "0.0.3";

bool isKnownVersion(const std::string& version) {
    return version == kVersion004 || version == kVersion002 || version == kVersion003;
}

}  // namespace

TRTBuilder::TRTBuilder(const ModelParameter& params, std::shared_ptr<Logger> logger)
    : logger_(std::move(logger)), params_(params) {
    if (!logger_) {
        logger_ = std::make_shared<Logger>(nvinfer1::ILogger::Severity::kERROR);
    }
    parser_ = std::make_shared<NetworkParser>(params_.netPath(), params_.enginePath());
}

// Members are declared so that the network and configuration go before the builder that made
// them, and the parser (which owns the weights TensorRT points into) outlives all three.
TRTBuilder::~TRTBuilder() = default;

bool TRTBuilder::build() {
    const bool parsed = parser_->parse();
    const std::string version = parser_->getVersion();
    if (!isKnownVersion(version)) {
        // A file whose header could not be read has no version to name (the parser said why);
        // a header with an empty or missing version gets the line with nothing after "of ".
        if (!parser_->getHeader().is_null()) {
            DET_LOG(kLogError) << "[INIT][TRTBuilder] Unknown vorx deploy version of " << version
                               << kLogReset;
        }
        return false;
    }
    if (!parsed) {
        return false;
    }
    const bool v0_0_4 = version == kVersion004;
    network_function_ = [this, v0_0_4](const nlohmann::json& network, const uint8_t*& cursor) {
        return v0_0_4 ? buildANetworkV0_0_4(network, cursor) : buildANetworkV0_0_2(network, cursor);
    };
    const uint8_t* cursor = parser_->getWeights();
    weights_end_ = cursor == nullptr ? nullptr : cursor + parser_->getWeightsSize();
    const nlohmann::json description = parser_->getNetworkConfig();
    if (!description.is_array() || description.empty()) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] The network file describes no network"
                           << kLogReset;
        return false;
    }
    std::vector<std::unique_ptr<nvinfer1::IHostMemory>> engines;
    for (const auto& network : description) {
        const std::string name = network.at("name").get<std::string>();
        if (!init(params_.engine(name)) || !network_function_(network, cursor) ||
            !finishNetwork(name, engines)) {
            return false;
        }
    }
    std::vector<nvinfer1::IHostMemory*> borrowed;
    borrowed.reserve(engines.size());
    for (const auto& engine : engines) {
        borrowed.push_back(engine.get());
    }
    return parser_->write(borrowed);
}

bool TRTBuilder::finishNetwork(const std::string& name,
                               std::vector<std::unique_ptr<nvinfer1::IHostMemory>>& engines) {
    selector_ = std::make_unique<DetAlgorithmSelector>();
    config_->setAlgorithmSelector(selector_.get());
    setIOFormats();
    if (data_type_ == nvinfer1::DataType::kINT8) {
        setInt8Precision();
    }
    std::unique_ptr<nvinfer1::IHostMemory> engine = serializedNetwork(name);
    if (!engine) {
        return false;
    }
    engines.push_back(std::move(engine));
    return true;
}

bool TRTBuilder::init(const EngineParameter& params) {
    if (params.contains("dla_id")) {
        dla_id_ = params.get("dla_id").get<int32_t>();
    }
    max_batch_size_ = params.batchSize();
    data_type_ = getTRTType(params.dataType());
    network_.reset();
    config_.reset();
    builder_.reset(nvinfer1::createInferBuilder(*logger_));
    if (!builder_) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Can not create the TensorRT builder" << kLogReset;
        return false;
    }
    builder_->setMaxBatchSize(max_batch_size_);
    config_.reset(builder_->createBuilderConfig());
    if (data_type_ == nvinfer1::DataType::kINT8) {
        if (builder_->platformHasFastInt8()) {
            config_->setFlag(nvinfer1::BuilderFlag::kINT8);
            DET_LOG(kLogInfo) << "[INIT][TRTBuilder] Engine datatype is int8" << kLogReset;
        } else {
            DET_LOG(kLogError) << "[INIT][TRTBuilder] Your platform does not support fast int8, "
                                  "please change to \"float16\"."
                               << kLogReset;
        }
    } else if (data_type_ == nvinfer1::DataType::kHALF) {
        config_->setFlag(nvinfer1::BuilderFlag::kFP16);
        DET_LOG(kLogInfo) << "[INIT][TRTBuilder] Engine datatype is float16" << kLogReset;
    } else {
        DET_LOG(kLogError)
            << "[INIT][TRTBuilder] Unknown datatype, please use \"int8\" or \"float16\" "
            << kLogReset;
    }
    network_.reset(builder_->createNetworkV2(
        1U << static_cast<uint32_t>(nvinfer1::NetworkDefinitionCreationFlag::kEXPLICIT_BATCH)));
    if (!network_) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Can not create the TensorRT network" << kLogReset;
        return false;
    }
    return true;
}

void TRTBuilder::setIOFormats() {
    const nvinfer1::TensorFormat format =
        dla_id_ >= 0 ? nvinfer1::TensorFormat::kDLA_LINEAR : nvinfer1::TensorFormat::kLINEAR;
    const nvinfer1::TensorFormats mask = 1U << static_cast<uint32_t>(format);
    for (int32_t i = 0; i < network_->getNbInputs(); ++i) {
        network_->getInput(i)->setAllowedFormats(mask);
        network_->getInput(i)->setType(data_type_);
    }
    for (int32_t i = 0; i < network_->getNbOutputs(); ++i) {
        network_->getOutput(i)->setAllowedFormats(mask);
        network_->getOutput(i)->setType(data_type_);
    }
}

void TRTBuilder::setInt8Precision() {
    for (int32_t i = 0; i < network_->getNbLayers(); ++i) {
        nvinfer1::ILayer* layer = network_->getLayer(i);
        const nvinfer1::LayerType type = layer->getType();
        if (type == nvinfer1::LayerType::kCONSTANT || type == nvinfer1::LayerType::kCONCATENATION ||
            type == nvinfer1::LayerType::kSHAPE) {
            continue;
        }
        layer->setPrecision(nvinfer1::DataType::kINT8);
        for (int32_t j = 0; j < layer->getNbOutputs(); ++j) {
            if (layer->getOutput(j)->isExecutionTensor()) {
                layer->setOutputType(j, nvinfer1::DataType::kINT8);
            }
        }
    }
}

void TRTBuilder::reviewInputShape(const std::string& tensorName,
                                  std::vector<int32_t>& shape) const {
    for (const auto& [engineName, engine] : params_.engines()) {
        if (!engine.contains("input_tensors")) {
            continue;
        }
        for (const auto& [listed, values] : engine.get("input_tensors").items()) {
            if (listed != tensorName) {
                continue;
            }
            if (values.size() != 2 || shape.size() < 4) {
                DET_LOG(kLogError) << "[INIT][TRTBuilder] Only 2D operater is supported on "
                                      "Nvidia TensorRT, but now is "
                                   << values.size() << "D!" << kLogReset;
                continue;
            }
            shape[2] = values.at(0).get<int32_t>();
            shape[3] = values.at(1).get<int32_t>();
            DET_LOG(kLogInfo) << "[INIT][TRTBuilder] the shape of " << engineName
                              << "'s input tensor '" << tensorName << "' has been modified to ["
                              << shape[2] << ", " << shape[3] << "]" << kLogReset;
        }
    }
}

std::unique_ptr<nvinfer1::IHostMemory> TRTBuilder::serializedNetwork(const std::string& name) {
    DET_LOG(kLogInfo) << "[INIT][TRTBuilder] Building " << name
                      << " engine, please wait for a while..." << kLogReset;
    std::unique_ptr<nvinfer1::IHostMemory> engine;
    if (builder_ && network_ && config_) {
        engine.reset(builder_->buildSerializedNetwork(*network_, *config_));
    }
    if (engine) {
        DET_LOG(kLogInfo) << "[INIT][TRTBuilder] Build " << name << " engine successfully!"
                          << kLogReset;
    } else {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Build " << name << " engine failed!" << kLogReset;
    }
    return engine;
}

bool TRTBuilder::buildANetworkV0_0_2(const nlohmann::json& network, const uint8_t*& cursor) {
    return buildOneNetwork(network, cursor, false);
}

bool TRTBuilder::buildANetworkV0_0_4(const nlohmann::json& network, const uint8_t*& cursor) {
    return buildOneNetwork(network, cursor, true);
}

bool TRTBuilder::buildOneNetwork(const nlohmann::json& network, const uint8_t*& cursor,
                                 bool v0_0_4) {
    tensors_.clear();
    if (!network_) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] No network to fill: init was not run"
                           << kLogReset;
        return false;
    }
    for (const auto& layer : network.at("layers")) {
        if (!addLayer(layer, cursor, v0_0_4)) {
            return false;
        }
    }
    return true;
}

bool TRTBuilder::addLayer(const nlohmann::json& layer, const uint8_t*& cursor, bool v0_0_4) {
    const auto preNodes = layer.at("pre_nodes");
    if (!preNodes.is_array()) {
        preNodes.get<std::vector<std::string>>();  // raises "type must be array, but is ..."
    }
    const std::string type = layer.at("type").get<std::string>();
    bool handled = false;
    if (!addCommonLayer(layer, type, cursor, v0_0_4, handled)) {
        return false;
    }
    if (handled) {
        return true;
    }
    return v0_0_4 ? addLayerV0_0_4(layer, type, cursor) : addLayerV0_0_2(layer, type, cursor);
}

bool TRTBuilder::addCommonLayer(const nlohmann::json& layer, const std::string& type,
                                const uint8_t*& cursor, bool v0_0_4, bool& handled) {
    handled = true;
    const std::string name = layer.at("name").get<std::string>();
    if (type == "input_tensor") {
        return addInput(layer, v0_0_4 ? "output_shape" : "shape");
    }
    if (type == "output_tensor") {
        return addOutput(layer);
    }
    if (type == "convolutional" || type == "deconvolutional") {
        return addConvLike(layer, cursor, v0_0_4, type == "deconvolutional");
    }
    if (type == "upsample") {
        const auto found = layer.find("scale_factor");
        const bool useDefault = !v0_0_4 && (found == layer.end() || found->is_null());
        const float factor = useDefault ? 2.0F : layer.at("scale_factor").get<float>();
        return registerLast(layer, addUpsampleLayer(tensorOf(layer.at("pre_nodes").at(0)), factor,
                                                    name, layer.at("amax").get<float>()));
    }
    if (type == "shortcut") {
        return registerLast(layer, addElementWiseLayer(tensorOf(layer.at("pre_nodes").at(0)),
                                                       tensorOf(layer.at("pre_nodes").at(1)),
                                                       nvinfer1::ElementWiseOperation::kSUM, name,
                                                       layer.at("amax").get<float>()));
    }
    if (type == "permute") {
        return registerLast(layer, addPermuteLayer(tensorOf(layer.at("pre_nodes").at(0)),
                                                   layer.at("dim").get<std::vector<int32_t>>()));
    }
    if (type == "vorx_mark" || type == "contiguous" || type == (v0_0_4 ? "dropout" : "dropout2d")) {
        tensors_[name] = &tensorOf(layer.at("pre_nodes").at(0));
        return true;
    }
    handled = false;
    return true;
}

bool TRTBuilder::addLayerV0_0_2(const nlohmann::json& layer, const std::string& type,
                                const uint8_t*& /*cursor*/) {
    if (type == "route") {
        return addRouteV0_0_2(layer);
    }
    if (type == "avgpool2d" || type == "maxpool2d") {
        return addPooling(
            layer,
            type == "avgpool2d" ? nvinfer1::PoolingType::kAVERAGE : nvinfer1::PoolingType::kMAX,
            false);
    }
    DET_LOG(kLogError) << "[INIT][TRTBuilder] Unknown layer type of " << type << kLogReset;
    return true;
}

bool TRTBuilder::addLayerV0_0_4(const nlohmann::json& layer, const std::string& type,
                                const uint8_t*& /*cursor*/) {
    const std::string name = layer.at("name").get<std::string>();
    if (type == "connect" || type == "concat") {
        return registerLast(layer,
                            addConcatLayer(inputsOf(layer), name, layer.at("amax").get<float>()));
    }
    if (type == "elememt_wise_mul" || type == "elememt_wise_sub") {
        const auto op = type == "elememt_wise_mul" ? nvinfer1::ElementWiseOperation::kPROD
                                                   : nvinfer1::ElementWiseOperation::kSUB;
        return registerLast(layer, addElementWiseLayer(tensorOf(layer.at("pre_nodes").at(0)),
                                                       tensorOf(layer.at("pre_nodes").at(1)), op,
                                                       name, layer.at("amax").get<float>()));
    }
    if (type == "avgpool" || type == "maxpool") {
        return addPooling(
            layer,
            type == "avgpool" ? nvinfer1::PoolingType::kAVERAGE : nvinfer1::PoolingType::kMAX,
            true);
    }
    if (type == "softmax") {
        return registerLast(layer, addSoftmaxLayer(tensorOf(layer.at("pre_nodes").at(0)),
                                                   layer.at("dim").get<int32_t>(), name));
    }
    if (type == "activation") {
        return registerLast(layer,
                            addActivationLayer(tensorOf(layer.at("pre_nodes").at(0)),
                                               layer.at("activation_type").get<std::string>(), name,
                                               layer.at("amax").get<float>()));
    }
    DET_LOG(kLogError) << "[INIT][TRTBuilderV0_0_4] Unknown layer type of " << type << kLogReset;
    return true;
}

bool TRTBuilder::addRouteV0_0_2(const nlohmann::json& layer) {
    const std::string name = layer.at("name").get<std::string>();
    const nlohmann::json& op = layer.at("op");
    if (op.is_null()) {
        const std::string first = layer.at("pre_nodes").at(0).get<std::string>();
        const auto found = tensors_.find(first);
        if (found != tensors_.end()) {
            tensors_[name] = found->second;
        }
        return true;
    }
    const std::string kind = op.get<std::string>();
    const float amax = layer.at("amax").get<float>();
    if (kind == "concat") {
        return registerLast(layer, addConcatLayer(inputsOf(layer), name, amax));
    }
    if (kind == "mul" || kind == "sub") {
        const auto operation = kind == "mul" ? nvinfer1::ElementWiseOperation::kPROD
                                             : nvinfer1::ElementWiseOperation::kSUB;
        return registerLast(layer, addElementWiseLayer(tensorOf(layer.at("pre_nodes").at(0)),
                                                       tensorOf(layer.at("pre_nodes").at(1)),
                                                       operation, name, amax));
    }
    DET_LOG(kLogError) << "[INIT][TRTBuilder] Unknown route layer op of " << kind << kLogReset;
    return true;
}

bool TRTBuilder::addInput(const nlohmann::json& layer, const char* shapeKey) {
    const std::string name = layer.at("name").get<std::string>();
    const std::string torchName = layer.at("torch_name").get<std::string>();
    std::vector<int32_t> shape = layer.at(shapeKey).get<std::vector<int32_t>>();
    if (shape.size() != 4) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] Input " << torchName
                           << " needs a shape of 4 values (N C H W), but has " << shape.size()
                           << kLogReset;
        return false;
    }
    reviewInputShape(torchName, shape);
    const nvinfer1::Dims4 dims(max_batch_size_, shape[1], shape[2], shape[3]);
    nvinfer1::ITensor* input =
        network_->addInput(torchName.c_str(), nvinfer1::DataType::kFLOAT, dims);
    if (input == nullptr) {
        DET_LOG(kLogError) << "[INIT][TRTBuilder] TensorRT refused input " << torchName
                           << kLogReset;
        return false;
    }
    if (data_type_ == nvinfer1::DataType::kINT8) {
        setRange(*input, layer.at("amax").get<float>());
    }
    tensors_[name] = input;
    return true;
}

bool TRTBuilder::addOutput(const nlohmann::json& layer) {
    Tensor& tensor = tensorOf(layer.at("pre_nodes").at(0));
    const std::string torchName = layer.at("torch_name").get<std::string>();
    if (torchName != "None") {
        tensor.setName(torchName.c_str());
        network_->markOutput(tensor);
    }
    tensors_[layer.at("name").get<std::string>()] = &tensor;
    return true;
}

}  // namespace krell::det
