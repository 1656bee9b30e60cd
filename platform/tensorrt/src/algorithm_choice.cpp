#include "platform/tensorrt/src/algorithm_choice.h"

namespace trt_host {

AlgorithmIOInfo::AlgorithmIOInfo(const nvinfer1::Dims& dims) {
    strides_.nbDims = dims.nbDims;
    int32_t stride = 1;
    for (int32_t i = dims.nbDims - 1; i >= 0; --i) {
        strides_.d[i] = stride;
        stride *= dims.d[i];
    }
}

Algorithm::Algorithm(const Graph& graph, const GraphOp& op)
    : implementation_(static_cast<int64_t>(op.kind)) {
    for (int32_t index : op.inputs) {
        io_.emplace_back(graph.tensors[index].dims);
    }
    for (int32_t index : op.outputs) {
        io_.emplace_back(graph.tensors[index].dims);
    }
}

const nvinfer1::IAlgorithmIOInfo* Algorithm::getAlgorithmIOInfoByIndex(
    int32_t index) const noexcept {
    return index >= 0 && index < static_cast<int32_t>(io_.size()) ? &io_[index] : nullptr;
}

AlgorithmContext::AlgorithmContext(const Graph& graph, const GraphOp& op)
    : name_(op.name), inputs_(static_cast<int32_t>(op.inputs.size())) {
    for (int32_t index : op.inputs) {
        dims_.push_back(graph.tensors[index].dims);
    }
    for (int32_t index : op.outputs) {
        dims_.push_back(graph.tensors[index].dims);
    }
}

nvinfer1::Dims AlgorithmContext::getDimensions(int32_t index,
                                               nvinfer1::OptProfileSelector) const noexcept {
    if (index < 0 || index >= static_cast<int32_t>(dims_.size())) {
        nvinfer1::Dims invalid{};
        invalid.nbDims = -1;
        return invalid;
    }
    return dims_[index];
}

}  // namespace trt_host
