// The TensorRT forms of the type-name table (the plain forms are in module/common/util.h).
#pragma once

#include <cstdint>
#include <string>

#include "NvInferRuntimeBase.h"
#include "module/common/util.h"

namespace krell::det {

//! TensorRT type of "int8", "float16" or "float32"; anything else logs and yields kFLOAT.
nvinfer1::DataType getTRTType(const std::string& name);
//! Element size in bytes of a TensorRT type; types without a size here yield 0 silently.
int32_t getTypeSize(nvinfer1::DataType type);

}  // namespace krell::det
