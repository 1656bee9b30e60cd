// Frame layout of cloud_denoiser and the quantisation of a raw frame into the network's four
// signed 8-bit planes. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace krell::frame {

constexpr size_t kFramePoints = 163840;
constexpr size_t kRecordBytes = 16;
constexpr size_t kRawFrameBytes = kFramePoints * kRecordBytes;  // 2621440
constexpr size_t kQuantizedFrameBytes = kFramePoints * 4;       // 655360
constexpr size_t kResultBytes = kFramePoints;                   // 163840

//! The four bytes of one record (x, y, z and the fourth value, as read).
struct QuantizedPoint {
    int8_t x = 0;
    int8_t y = 0;
    int8_t z = 0;
    int8_t w = 0;
};

//! Quantises one record; a point with x below 0.1 yields four zeros.
QuantizedPoint quantizePoint(float x, float y, float z, float w);

//! Quantises kFramePoints little-endian records at raw into plane p at quantized + p *
//! kFramePoints. quantized must hold kQuantizedFrameBytes; every byte is written.
void quantizeFrame(const uint8_t* raw, int8_t* quantized);

}  // namespace krell::frame
