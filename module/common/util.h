// Type-name tables and the name substitution used by the model containers.
#pragma once

#include <cstdint>
#include <string>

#include "NvInferRuntimeBase.h"

namespace krell::det {

//! TensorRT type of "int8", "float16" or "float32"; anything else logs and yields kFLOAT.
nvinfer1::DataType getTRTType(const std::string& name);
//! Element size in bytes of "int8", "float16", "float32" or "int32"; anything else logs and
//! yields 0.
int32_t getTypeSize(const std::string& name);
//! Element size in bytes of a TensorRT type; types without a size here yield 0 silently.
int32_t getTypeSize(nvinfer1::DataType type);

//! Scrambles 7-bit text for storage in a model container. A byte of 0x80 or above stops the
//! walk with a level-1 line; the result then holds only the bytes before it.
std::string stringEncrypt(const std::string& text);
//! Exact inverse of stringEncrypt, with the same early stop.
std::string stringDecrypt(const std::string& text);

}  // namespace krell::det
