// IBuilder of the stand-in: checks a network and compiles it into an engine blob.
#pragma once

#include "NvInfer.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! One thread at a time; logger is borrowed and must outlive the builder.
class Builder final : public nvinfer1::IBuilder {
public:
    explicit Builder(nvinfer1::ILogger& logger) : logger_(logger) {}

    void setMaxBatchSize(int32_t batchSize) noexcept override { max_batch_ = batchSize; }
    int32_t getMaxBatchSize() const noexcept override { return max_batch_; }
    bool platformHasFastInt8() const noexcept override { return true; }
    bool platformHasFastFp16() const noexcept override { return true; }
    int32_t getNbDLACores() const noexcept override { return 0; }
    nvinfer1::IBuilderConfig* createBuilderConfig() noexcept override;
    nvinfer1::INetworkDefinition* createNetworkV2(
        nvinfer1::NetworkDefinitionCreationFlags flags) noexcept override;
    nvinfer1::IHostMemory* buildSerializedNetwork(
        nvinfer1::INetworkDefinition& network, nvinfer1::IBuilderConfig& config) noexcept override;
    nvinfer1::ICudaEngine* buildEngineWithConfig(
        nvinfer1::INetworkDefinition& network, nvinfer1::IBuilderConfig& config) noexcept override;
    nvinfer1::ILogger* getLogger() const noexcept override { return &logger_; }
    void reset() noexcept override { max_batch_ = 1; }

private:
    // Offers every layer's candidates to the config's selector, as a GPU builder would while
    // timing tactics. False, after a logger message, when the selector's answer is unusable.
    bool consultSelector(const Graph& graph, nvinfer1::IBuilderConfig& config) const;
    void logError(const std::string& message) const;

    nvinfer1::ILogger& logger_;
    int32_t max_batch_{1};
};

}  // namespace trt_host
