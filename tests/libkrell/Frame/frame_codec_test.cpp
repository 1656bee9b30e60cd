// CRC-32/MPEG-2 and the byte-flow text shared by the CMX and serial links.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "libkrell/Frame/crc32.h"
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

}  // namespace
}  // namespace lidar
}  // namespace krell
