#include "libkrell/Frame/crc32.h"

#include <array>
#include <cstddef>

namespace krell {
namespace lidar {
namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

constexpr size_t kSlices = 8;
using Tables = std::array<std::array<uint32_t, 256>, kSlices>;

// Table 0, entry i: the CRC register after shifting the byte i, placed in the top 8 bits, through
// eight rounds of the polynomial. Table k: the same byte followed by k zero bytes, so that eight
// bytes fold into the register with eight independent look-ups instead of a chain of eight.
Tables BuildTables() {
    Tables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ kPolynomial : (reg << 1);
        }
        tables[0][i] = reg;
    }
    for (size_t k = 1; k < kSlices; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t previous = tables[k - 1][i];
            tables[k][i] = (previous << 8) ^ tables[0][previous >> 24];
        }
    }
    return tables;
}

const Tables& SharedTables() {
    // A function-local static is initialised exactly once even when several threads arrive first
    // at the same time.
    static const Tables tables = BuildTables();
    return tables;
}

uint32_t LoadU32Be(const uint8_t* data) {
    return static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
           static_cast<uint32_t>(data[2]) << 8 | data[3];
}

}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size, uint32_t crc) {
    const Tables& t = SharedTables();
    size_t i = 0;
    for (; i + kSlices <= size; i += kSlices) {
        crc ^= LoadU32Be(data + i);
        crc = t[7][crc >> 24] ^ t[6][(crc >> 16) & 0xFFu] ^ t[5][(crc >> 8) & 0xFFu] ^
              t[4][crc & 0xFFu] ^ t[3][data[i + 4]] ^ t[2][data[i + 5]] ^ t[1][data[i + 6]] ^
              t[0][data[i + 7]];
    }
    for (; i < size; ++i) {
        crc = (crc << 8) ^ t[0][((crc >> 24) ^ data[i]) & 0xFFu];
    }
    return crc;
}

}  // namespace lidar
}  // namespace krell
