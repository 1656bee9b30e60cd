// The stand-in's own representation of a network: what the network definition records, what the
// engine blob stores and what the executor plans from. Plain data; every check lives in
// ShapeInference, so a Graph that passed it can be executed without further validation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NvInfer.h"

namespace trt_host {

//! Layer kinds the executor can run; values are stored in engine blobs, never renumber them.
enum class OpKind : int32_t {
    kConvolution = 0,
    kDeconvolution = 1,
    kActivation = 2,
    kPooling = 3,
    kConcatenation = 4,
    kElementWise = 5,
    kSoftMax = 6,
    kResize = 7,
    kShuffle = 8,
};

//! One tensor. dims holds the full shape (batch first); it is filled by ShapeInference for
//! every tensor a layer produces.
struct GraphTensor {
    std::string name;
    nvinfer1::Dims dims{};
    nvinfer1::DataType type{nvinfer1::DataType::kFLOAT};
    bool has_range{false};
    float range_min{0.0F};
    float range_max{0.0F};
    nvinfer1::TensorFormats allowed_formats{
        1U << static_cast<uint32_t>(nvinfer1::TensorFormat::kLINEAR)};
};

//! One layer. Only the fields of its kind are meaningful; the others keep their defaults.
struct GraphOp {
    OpKind kind{OpKind::kConvolution};
    std::string name;
    std::vector<int32_t> inputs;   //!< tensor indices
    std::vector<int32_t> outputs;  //!< tensor indices (every kind has exactly one)
    nvinfer1::DataType precision{nvinfer1::DataType::kFLOAT};
    bool precision_set{false};
    nvinfer1::DataType output_type{nvinfer1::DataType::kFLOAT};
    bool output_type_set{false};

    // Convolution, deconvolution (kernel, stride, padding, dilation also for pooling).
    int32_t out_maps{0};
    int32_t groups{1};
    nvinfer1::Dims kernel{};
    nvinfer1::Dims stride{};       //!< nbDims 0 means 1 on every axis (pooling: the window)
    nvinfer1::Dims pre_padding{};  //!< nbDims 0 means 0 on every axis
    nvinfer1::Dims post_padding{};
    nvinfer1::Dims dilation{};  //!< nbDims 0 means 1 on every axis
    std::vector<float> weights;
    std::vector<float> bias;
    // The caller's values as given to the network, read into weights and bias only when the
    // engine is built (as a GPU builder reads them); never stored in blobs.
    nvinfer1::Weights weights_source{};
    nvinfer1::Weights bias_source{};

    // Activation.
    nvinfer1::ActivationType activation{nvinfer1::ActivationType::kRELU};
    float alpha{0.0F};
    float beta{0.0F};

    // Pooling.
    nvinfer1::PoolingType pooling{nvinfer1::PoolingType::kMAX};
    bool exclude_padding{true};

    // Concatenation axis; -1 picks the channel axis.
    int32_t axis{-1};

    nvinfer1::ElementWiseOperation elementwise{nvinfer1::ElementWiseOperation::kSUM};

    // Softmax axis mask; 0 picks the channel axis.
    uint32_t axes{0};

    // Resize: scales (one per axis) or fixed output dimensions.
    nvinfer1::InterpolationMode resize_mode{nvinfer1::InterpolationMode::kNEAREST};
    std::vector<float> scales;
    nvinfer1::Dims resize_dims{};  //!< used when scales is empty and nbDims > 0

    // Shuffle.
    bool has_transpose{false};
    nvinfer1::Permutation transpose{};
    bool has_reshape{false};
    nvinfer1::Dims reshape{};
};

//! Kernel values of op: those read at build time, or else those its source will give.
inline int64_t kernelCount(const GraphOp& op) {
    return op.weights.empty() ? op.weights_source.count : static_cast<int64_t>(op.weights.size());
}

//! Bias values of op (0: no bias), counted as kernelCount does.
inline int64_t biasCount(const GraphOp& op) {
    return op.bias.empty() ? op.bias_source.count : static_cast<int64_t>(op.bias.size());
}

//! A whole network. inputs and outputs are tensor indices in binding order.
struct Graph {
    std::string name;
    std::vector<GraphTensor> tensors;
    std::vector<GraphOp> ops;
    std::vector<int32_t> inputs;
    std::vector<int32_t> outputs;
    int32_t max_batch{1};
    nvinfer1::BuilderFlags flags{0};
};

}  // namespace trt_host
