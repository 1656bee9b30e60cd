// CRC-32/MPEG-2 and the byte-flow text shared by the CMX and serial links.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/Frame/crc32.h"
#include "libkrell/Frame/file_stream_frame.h"
#include "libkrell/Frame/hex_text.h"

namespace krell {
namespace lidar {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t CrcOf(const std::string& text) {
    return Crc32Mpeg2(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc32Mpeg2, CheckValueAndPiecewise_MatchTheStandard) {
    EXPECT_EQ(CrcOf("123456789"), 0x0376E6E7u);
    EXPECT_EQ(Crc32Mpeg2(nullptr, 0), 0xFFFFFFFFu);
    const std::string text = "123456789";
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(Crc32Mpeg2(data + 4, 5, Crc32Mpeg2(data, 4)), 0x0376E6E7u);
}

// Bit by bit, written independently of the table-driven routine.
uint32_t BitwiseCrc(const uint8_t* data, size_t size, uint32_t crc) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// The routine folds eight bytes at a time and the rest one by one: every length around those
// steps, at every alignment, and split anywhere, must give the bit-by-bit result.
TEST(Crc32Mpeg2, EveryLengthAlignmentAndSplit_MatchesBitByBit) {
    Bytes bytes(64 + 8);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 151 + 29);
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t size = 0; size <= 64; ++size) {
            const uint8_t* data = bytes.data() + offset;
            const uint32_t expected = BitwiseCrc(data, size, kCrc32Mpeg2Init);
            ASSERT_EQ(Crc32Mpeg2(data, size), expected) << "offset " << offset << ", size " << size;
            const size_t split = size / 3;
            EXPECT_EQ(Crc32Mpeg2(data + split, size - split, Crc32Mpeg2(data, split)), expected);
        }
    }
    const Bytes large(4096 + 5, 0xA7);
    EXPECT_EQ(Crc32Mpeg2(large.data(), large.size()),
              BitwiseCrc(large.data(), large.size(), kCrc32Mpeg2Init));
}

TEST(Crc32Mpeg2, ConcurrentFirstUse_GivesTheSameResultEverywhere) {
    std::vector<uint32_t> results(8, 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&results, i] { results[i] = CrcOf("123456789"); });
    }
    for (auto& t : threads)
        t.join();
    for (uint32_t r : results)
        EXPECT_EQ(r, 0x0376E6E7u);
}

TEST(HexText, Bytes_AreLowercasePairsEachFollowedByABlank) {
    EXPECT_EQ(ToHexText(Bytes{0x47, 0x74, 0x0A}), "47 74 0a ");
    EXPECT_EQ(ToHexText(Bytes{}), "");
}

uint32_t U32BeAt(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
           bytes[at + 3];
}

TEST(FileStreamFrame, ChunksAreNumberedFromOneAndTheLastHoldsTheRest) {
    Bytes file(2 * 1024 + 1);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(FileStreamFrame::FrameCount(file.size()), 3u);
    EXPECT_EQ(FileStreamFrame::FrameCount(0), 0u);
    EXPECT_EQ(FileStreamFrame::FrameCount(1024), 1u);
    for (size_t k = 1; k <= 3; ++k) {
        const Bytes payload = FileStreamFrame::Payload(file, k);
        const size_t chunk = k < 3 ? 1024 : 1;
        ASSERT_EQ(payload.size(), 16 + chunk) << k;
        EXPECT_EQ(U32BeAt(payload, 0), 0u);
        EXPECT_EQ(U32BeAt(payload, 4), k);
        EXPECT_EQ(U32BeAt(payload, 8), 3u);
        EXPECT_EQ(U32BeAt(payload, 12), Crc32Mpeg2(file.data() + (k - 1) * 1024, chunk));
        EXPECT_TRUE(std::equal(payload.begin() + 16, payload.end(), file.begin() + (k - 1) * 1024));
    }
    EXPECT_TRUE(FileStreamFrame::Payload(file, 0).empty());
    EXPECT_TRUE(FileStreamFrame::Payload(file, 4).empty());
}

}  // namespace
}  // namespace lidar
}  // namespace krell
