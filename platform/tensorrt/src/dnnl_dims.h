#pragma once
// Conversions from nvinfer1 dimensions to oneDNN's, shared by the planner's translation units.
#include <oneapi/dnnl/dnnl.hpp>

#include <cstdint>

#include "NvInferRuntimeBase.h"

namespace trt_host {

//! All extents of dims, in order.
inline dnnl::memory::dims toDnnl(const nvinfer1::Dims& dims) {
    return dnnl::memory::dims(dims.d, dims.d + dims.nbDims);
}

//! count per-axis values of a layer parameter (stride, padding, dilation), each plus offset;
//! axes the parameter leaves unset take fallback. oneDNN counts dilation from 0, hence offset.
inline dnnl::memory::dims spatial(const nvinfer1::Dims& param, int32_t count, int64_t fallback,
                                  int64_t offset = 0) {
    dnnl::memory::dims values(count, fallback + offset);
    for (int32_t i = 0; i < param.nbDims && i < count; ++i) {
        values[i] = param.d[i] + offset;
    }
    return values;
}

}  // namespace trt_host
