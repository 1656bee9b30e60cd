// Checks a Graph for consistency and fills in the shape of every tensor a layer produces.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! Stateless checker. Used at build time and again on every deserialised blob, so a graph that
//! passes is safe to plan and run (indices in range, weights of the right size, shapes positive).
class ShapeInference {
public:
    //! Largest element count of one tensor or weight block.
    static constexpr int64_t kMaxElements = int64_t{1} << 31;

    //! Infers the output shapes of ops [0, op_count) in order, checking each one. Returns false
    //! and sets error to a one-line reason naming the layer at the first inconsistency.
    static bool inferOps(Graph& graph, std::size_t op_count, std::string& error);

    //! Whole-network check: every op, then the network inputs and outputs (types, ranges,
    //! formats, unique names). Returns false with a one-line reason.
    static bool check(Graph& graph, std::string& error);

    //! Axis a concatenation or softmax uses by default for a tensor of nb_dims dimensions.
    static int32_t defaultAxis(int32_t nb_dims);

    //! Number of elements of dims (1 for nbDims 0).
    static int64_t volume(const nvinfer1::Dims& dims);
};

}  // namespace trt_host
