// Type-name tables and the name substitution used by the model containers. The TensorRT forms
// of the type table live in module/engine/nvidia/tool/util.h, so that this library needs no
// TensorRT headers.
#pragma once

#include <cstdint>
#include <string>

namespace krell::det {

//! Element size in bytes of "int8", "float16", "float32" or "int32"; anything else logs and
//! yields 0.
int32_t getTypeSize(const std::string& name);

//! Scrambles 7-bit text for storage in a model container. A byte of 0x80 or above stops the
//! walk with a level-1 line; the result then holds only the bytes before it.
std::string stringEncrypt(const std::string& text);
//! Exact inverse of stringEncrypt, with the same early stop.
std::string stringDecrypt(const std::string& text);

}  // namespace krell::det
