// What the builder shows an algorithm selector: one context per engine layer and the candidate
// implementations for it (the stand-in has one oneDNN implementation per layer kind).
#pragma once

#include <string>
#include <vector>

#include "NvInfer.h"
#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! Linear float I/O of one candidate.
class AlgorithmIOInfo final : public nvinfer1::IAlgorithmIOInfo {
public:
    explicit AlgorithmIOInfo(const nvinfer1::Dims& dims);
    nvinfer1::TensorFormat getTensorFormat() const noexcept override {
        return nvinfer1::TensorFormat::kLINEAR;
    }
    nvinfer1::DataType getDataType() const noexcept override { return nvinfer1::DataType::kFLOAT; }
    nvinfer1::Dims getStrides() const noexcept override { return strides_; }

private:
    nvinfer1::Dims strides_{};
};

//! One candidate implementation of a layer; implementation = layer kind, tactic = 0.
class Algorithm final : public nvinfer1::IAlgorithm, private nvinfer1::IAlgorithmVariant {
public:
    Algorithm(const Graph& graph, const GraphOp& op);
    const nvinfer1::IAlgorithmVariant& getAlgorithmVariant() const noexcept override {
        return *this;
    }
    float getTimingMSec() const noexcept override { return -1.0F; }
    std::size_t getWorkspaceSize() const noexcept override { return 0; }
    const nvinfer1::IAlgorithmIOInfo* getAlgorithmIOInfoByIndex(
        int32_t index) const noexcept override;

private:
    int64_t getImplementation() const noexcept override { return implementation_; }
    int64_t getTactic() const noexcept override { return 0; }

    int64_t implementation_;
    std::vector<AlgorithmIOInfo> io_;
};

//! The layer a choice is made for: its name and the shapes of its inputs, then outputs.
class AlgorithmContext final : public nvinfer1::IAlgorithmContext {
public:
    AlgorithmContext(const Graph& graph, const GraphOp& op);
    const char* getName() const noexcept override { return name_.c_str(); }
    nvinfer1::Dims getDimensions(int32_t index,
                                 nvinfer1::OptProfileSelector select) const noexcept override;
    int32_t getNbInputs() const noexcept override { return inputs_; }
    int32_t getNbOutputs() const noexcept override {
        return static_cast<int32_t>(dims_.size()) - inputs_;
    }

private:
    std::string name_;
    std::vector<nvinfer1::Dims> dims_;
    int32_t inputs_;
};

}  // namespace trt_host
