#pragma once
// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, most significant bit first,
// no reflection, no final XOR. Shared by the CMX file-stream frames, the serial command frames
// and the firmware (OTA) frames.

#include <cstddef>
#include <cstdint>

namespace krell {
namespace lidar {

//! Initial register value of CRC-32/MPEG-2.
constexpr uint32_t kCrc32Mpeg2Init = 0xFFFFFFFFu;

//! CRC-32/MPEG-2 of `size` bytes at `data`, continuing from `crc` (pass a previous result to
//! checksum data in pieces). `data` may be null when `size` is 0. Safe from any thread.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size, uint32_t crc = kCrc32Mpeg2Init);

}  // namespace lidar
}  // namespace krell
