#include "libkrell/Frame/crc32.h"

#include <array>

namespace krell {
namespace lidar {
namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

// Entry i is the CRC register after shifting the byte i, placed in the top 8 bits, through
// eight rounds of the polynomial.
std::array<uint32_t, 256> BuildTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ kPolynomial : (reg << 1);
        }
        table[i] = reg;
    }
    return table;
}

const std::array<uint32_t, 256>& Table() {
    // A function-local static is initialised exactly once even when several threads arrive first
    // at the same time.
    static const std::array<uint32_t, 256> table = BuildTable();
    return table;
}

}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& table = Table();
    for (size_t i = 0; i < size; ++i) {
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFFu];
    }
    return crc;
}

}  // namespace lidar
}  // namespace krell
