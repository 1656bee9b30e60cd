#include "platform/tensorrt/src/builder.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/tensorrt/src/algorithm_choice.h"
#include "platform/tensorrt/src/blob_codec.h"
#include "platform/tensorrt/src/builder_config.h"
#include "platform/tensorrt/src/host_memory.h"
#include "platform/tensorrt/src/network_definition.h"
#include "platform/tensorrt/src/network_layers.h"
#include "platform/tensorrt/src/runtime.h"
#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {

void Builder::logError(const std::string& message) const {
    logger_.log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
}

nvinfer1::IBuilderConfig* Builder::createBuilderConfig() noexcept {
    return new (std::nothrow) BuilderConfig();
}

nvinfer1::INetworkDefinition* Builder::createNetworkV2(
    nvinfer1::NetworkDefinitionCreationFlags flags) noexcept {
    const auto explicit_batch =
        1U << static_cast<uint32_t>(nvinfer1::NetworkDefinitionCreationFlag::kEXPLICIT_BATCH);
    if ((flags & explicit_batch) == 0) {
        logError("createNetworkV2: only explicit-batch networks are supported");
        return nullptr;
    }
    return new (std::nothrow) NetworkDefinition(logger_);
}

bool Builder::consultSelector(const Graph& graph, nvinfer1::IBuilderConfig& config) const {
    nvinfer1::IAlgorithmSelector* selector = config.getAlgorithmSelector();
    if (selector == nullptr) {
        return true;
    }
    const bool reject_empty = config.getFlag(nvinfer1::BuilderFlag::kREJECT_EMPTY_ALGORITHMS);
    std::vector<std::unique_ptr<AlgorithmContext>> contexts;
    std::vector<std::unique_ptr<Algorithm>> algorithms;
    for (const GraphOp& op : graph.ops) {
        contexts.push_back(std::make_unique<AlgorithmContext>(graph, op));
        algorithms.push_back(std::make_unique<Algorithm>(graph, op));
        const nvinfer1::IAlgorithm* choices[] = {algorithms.back().get()};
        constexpr int32_t kChoiceCount = 1;
        int32_t selection[kChoiceCount] = {-1};
        const int32_t selected =
            selector->selectAlgorithms(*contexts.back(), choices, kChoiceCount, selection);
        if (selected < 0 || selected > kChoiceCount ||
            (selected > 0 && (selection[0] < 0 || selection[0] >= kChoiceCount))) {
            logError(
                "buildSerializedNetwork: the algorithm selector returned an invalid selection for "
                "layer " +
                op.name);
            return false;
        }
        if (selected == 0 && reject_empty) {
            logError(
                "buildSerializedNetwork: the algorithm selector allowed no algorithm for layer " +
                op.name);
            return false;
        }
    }
    std::vector<const nvinfer1::IAlgorithmContext*> context_views;
    std::vector<const nvinfer1::IAlgorithm*> algorithm_views;
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        context_views.push_back(contexts[i].get());
        algorithm_views.push_back(algorithms[i].get());
    }
    selector->reportAlgorithms(context_views.data(), algorithm_views.data(),
                               static_cast<int32_t>(contexts.size()));
    return true;
}

nvinfer1::IHostMemory* Builder::buildSerializedNetwork(nvinfer1::INetworkDefinition& network,
                                                       nvinfer1::IBuilderConfig& config) noexcept {
    auto* ours = dynamic_cast<NetworkDefinition*>(&network);
    if (ours == nullptr) {
        logError("buildSerializedNetwork: the network was not created by this builder");
        return nullptr;
    }
    try {
        Graph graph = ours->graph();
        graph.max_batch = max_batch_;
        graph.flags = config.getFlags();
        std::string reason;
        if (!readWeights(graph, reason)) {
            logError("buildSerializedNetwork: network " + graph.name + ": " + reason);
            return nullptr;
        }
        if (!ShapeInference::check(graph, reason)) {
            logError("buildSerializedNetwork: network " + graph.name +
                     " is inconsistent: " + reason);
            return nullptr;
        }
        if (!consultSelector(graph, config)) {
            return nullptr;
        }
        return new HostMemory(BlobCodec::encode(graph));
    } catch (const std::exception& e) {
        logError(std::string("buildSerializedNetwork: ") + e.what());
        return nullptr;
    }
}

nvinfer1::ICudaEngine* Builder::buildEngineWithConfig(nvinfer1::INetworkDefinition& network,
                                                      nvinfer1::IBuilderConfig& config) noexcept {
    std::unique_ptr<nvinfer1::IHostMemory> blob(buildSerializedNetwork(network, config));
    if (!blob) {
        return nullptr;
    }
    Runtime runtime(logger_);
    return runtime.deserializeCudaEngine(blob->data(), blob->size());
}

}  // namespace trt_host

extern "C" void* createInferBuilder_INTERNAL(void* logger, int32_t version) noexcept {
    if (logger == nullptr) {
        return nullptr;
    }
    auto* sink = static_cast<nvinfer1::ILogger*>(logger);
    if (version / 1000 != NV_TENSORRT_MAJOR) {
        const std::string message = "createInferBuilder: version " + std::to_string(version) +
                                    " does not match this library (" +
                                    std::to_string(NV_TENSORRT_VERSION) + ")";
        sink->log(nvinfer1::ILogger::Severity::kERROR, message.c_str());
        return nullptr;
    }
    return static_cast<nvinfer1::IBuilder*>(new (std::nothrow) trt_host::Builder(*sink));
}
