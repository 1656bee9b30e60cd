#include "libkrell/Frame/serial_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using krell::lidar::SerialFrame;

// Bit-by-bit CRC-32/MPEG-2, written independently of the table-driven routine.
uint32_t BitwiseCrc(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

uint32_t LittleEndianAt(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// A reply as a sensor writes it: "$LDACK,", length = data bytes, command, data, random word, CRC.
std::vector<uint8_t> MakeReply(uint8_t cmd, const std::vector<uint8_t>& data,
                               uint32_t random_word) {
    std::vector<uint8_t> frame = {'$', 'L', 'D', 'A', 'C', 'K', ','};
    frame.push_back(static_cast<uint8_t>(data.size()));
    frame.push_back(cmd);
    frame.insert(frame.end(), data.begin(), data.end());
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(random_word >> (8 * i)));
    std::vector<uint8_t> covered(frame.begin() + 7, frame.end());
    while (covered.size() % 4 != 0)
        covered.push_back(0);
    const uint32_t crc = BitwiseCrc(covered);
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    frame.push_back(0xEE);
    frame.push_back(0xFF);
    return frame;
}

TEST(SerialFrame, RequestLayout_LengthRandomWordPaddedCrcAndEndMark) {
    for (size_t payload_bytes : {0u, 1u, 2u, 3u, 5u, 300u}) {
        std::vector<uint8_t> payload(payload_bytes);
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<uint8_t>(i * 7 + 1);
        const std::vector<uint8_t> frame = SerialFrame::EncodeRequest(0x02, payload);
        ASSERT_EQ(frame.size(), payload_bytes + 19);
        EXPECT_EQ(std::string(frame.begin(), frame.begin() + 7), "$LDCMD,");
        EXPECT_EQ(frame[7], static_cast<uint8_t>(payload_bytes + 1));
        EXPECT_EQ(frame[8], 0x02);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + 9));
        std::vector<uint8_t> covered(frame.begin() + 7, frame.end() - 6);
        while (covered.size() % 4 != 0)
            covered.push_back(0);
        EXPECT_EQ(LittleEndianAt(frame, frame.size() - 6), BitwiseCrc(covered)) << payload_bytes;
        EXPECT_EQ(frame[frame.size() - 2], 0xEE);
        EXPECT_EQ(frame.back(), 0xFF);
    }
}

TEST(SerialFrame, RandomWord_DiffersFromFrameToFrame) {
    const std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
    const std::vector<uint8_t> first = SerialFrame::EncodeRequest(3, payload);
    const std::vector<uint8_t> second = SerialFrame::EncodeRequest(3, payload);
    const std::vector<uint8_t> third = SerialFrame::EncodeRequest(3, payload);
    EXPECT_FALSE(LittleEndianAt(first, 14) == LittleEndianAt(second, 14) &&
                 LittleEndianAt(second, 14) == LittleEndianAt(third, 14));
}

// Every word comes from the non-deterministic source (bench_upgrade shows what one costs per
// acknowledged frame); consecutive words must still vary.
TEST(SerialFrame, RandomWord_Varies) {
    std::set<uint32_t> seen;
    for (int i = 0; i < 1000; ++i)
        seen.insert(SerialFrame::RandomWord());
    EXPECT_GT(seen.size(), 990u);
}

TEST(SerialFrame, ValidReply_BodyRunsFromLengthByteToRandomWord) {
    const std::vector<uint8_t> reply = MakeReply(3, {4, 1, 0}, 0x12345678);
    std::vector<uint8_t> body;
    ASSERT_TRUE(SerialFrame::CheckReply(reply.data(), reply.size(), &body));
    EXPECT_EQ(body, (std::vector<uint8_t>{3, 3, 4, 1, 0}));
}

TEST(SerialFrame, LongReply_LengthByteComparedModulo256) {
    const std::vector<uint8_t> reply = MakeReply(2, std::vector<uint8_t>(300, 0x41), 7);
    std::vector<uint8_t> body;
    ASSERT_TRUE(SerialFrame::CheckReply(reply.data(), reply.size(), &body));
    EXPECT_EQ(body.size(), 302u);
}

TEST(SerialFrame, BrokenReplies_AreRejected) {
    const std::vector<uint8_t> good = MakeReply(2, {0x0B, 8, 3, 0}, 0xCAFEF00D);
    struct Case {
        const char* what;
        std::vector<uint8_t> frame;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"shorter than 19 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 18)});
    std::vector<uint8_t> frame = good;
    frame.back() = 0xFE;
    cases.push_back({"wrong end mark", frame});
    frame = good;
    frame[frame.size() - 6] ^= 0x01;
    cases.push_back({"CRC off by one bit", frame});
    frame = good;
    frame[10] ^= 0x80;
    cases.push_back({"data byte changed", frame});
    frame = good;
    std::swap(frame[frame.size() - 6], frame[frame.size() - 3]);
    std::swap(frame[frame.size() - 5], frame[frame.size() - 4]);
    cases.push_back({"CRC stored most significant byte first", frame});
    frame = MakeReply(2, {0x0B, 8, 3, 0}, 1);
    frame.erase(frame.begin() + 12);  // one data byte lost on the line: length byte no longer fits
    cases.push_back({"byte lost", frame});
    for (const Case& c : cases) {
        std::vector<uint8_t> body = {9};
        EXPECT_FALSE(SerialFrame::CheckReply(c.frame.data(), c.frame.size(), &body)) << c.what;
        EXPECT_EQ(body, std::vector<uint8_t>{9}) << c.what;
    }
}

TEST(SerialFrame, LengthMismatchWithValidCrc_IsRejected) {
    std::vector<uint8_t> reply = MakeReply(3, {4, 1, 0}, 5);
    reply[7] = 4;  // length byte says one data byte more than the body holds
    std::vector<uint8_t> covered(reply.begin() + 7, reply.end() - 6);
    while (covered.size() % 4 != 0)
        covered.push_back(0);
    const uint32_t crc = BitwiseCrc(covered);
    for (int i = 0; i < 4; ++i)
        reply[reply.size() - 6 + i] = static_cast<uint8_t>(crc >> (8 * i));
    EXPECT_FALSE(SerialFrame::CheckReply(reply.data(), reply.size(), nullptr));
}

TEST(SerialFrame, MsbFirstLayout_RoundTripsOnlyInItsOwnByteOrder) {
    SerialFrame::Layout layout;
    layout.crc_msb_first = true;
    layout.length_bias = 0;
    const std::vector<uint8_t> data = {5, 1, 0};
    const std::vector<uint8_t> frame =
        SerialFrame::Encode("$LDACK,", 0x05, data.data(), data.size(), layout);
    EXPECT_TRUE(SerialFrame::CheckReply(frame.data(), frame.size(), nullptr, true));
    EXPECT_FALSE(SerialFrame::CheckReply(frame.data(), frame.size(), nullptr, false));
}

}  // namespace
