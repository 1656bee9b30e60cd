// Framework data-type codes named in parameter files.
#pragma once

#include <cstdint>
#include <string>

namespace krell::det {

constexpr int32_t kDataTypeUnknown = 0;
constexpr int32_t kDataTypeInt8 = 1;
constexpr int32_t kDataTypeUInt8 = 2;
constexpr int32_t kDataTypeFloat16 = 3;
constexpr int32_t kDataTypeFloat32 = 4;

//! Code of "int8", "uint8", "float16" or "float32"; anything else logs and yields 0.
int32_t getDataType(const std::string& name);

}  // namespace krell::det
