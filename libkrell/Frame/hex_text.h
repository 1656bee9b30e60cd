#pragma once
// Bytes as lowercase hexadecimal text: the byte flow shown in the log window (each byte and one
// blank), and the digits alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krell {
namespace lidar {

//! "47 74 0a " for the bytes 0x47 0x74 0x0A; the empty text for no bytes.
std::string ToHexText(const uint8_t* data, size_t size);
std::string ToHexText(const std::vector<uint8_t>& bytes);
//! "47740a" for the same bytes: the digits alone, as files store bytes.
std::string ToHexDigits(const std::vector<uint8_t>& bytes);

}  // namespace lidar
}  // namespace krell
