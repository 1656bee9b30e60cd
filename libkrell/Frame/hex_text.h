#pragma once
// Byte-flow text shown in the log window: each byte as two lowercase hex digits and one blank.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krell {
namespace lidar {

//! "47 74 0a " for the bytes 0x47 0x74 0x0A; the empty text for no bytes.
std::string ToHexText(const uint8_t* data, size_t size);
std::string ToHexText(const std::vector<uint8_t>& bytes);

}  // namespace lidar
}  // namespace krell
