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
