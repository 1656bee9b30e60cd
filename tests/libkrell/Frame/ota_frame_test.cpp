#include "libkrell/Frame/ota_frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "libkrell/Frame/firmware_file.h"
#include "libkrell/Frame/serial_frame.h"

namespace {

using krell::lidar::FirmwareFile;
using krell::lidar::OtaFrame;
using krell::lidar::SerialFrame;
using Bytes = std::vector<uint8_t>;

// Bit-by-bit CRC-32/MPEG-2, written independently of the table-driven routine.
uint32_t BitwiseCrc(const Bytes& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

uint32_t BigEndianAt(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
           bytes[at + 3];
}

TEST(OtaFrameTest, Encode_LaysOutBigEndianFieldsAndAPaddedCrcMostSignificantByteFirst) {
    const Bytes data = {1, 2, 3, 4, 5};
    const Bytes frame = OtaFrame::Encode(4, 3, 2, data.data(), data.size());
    ASSERT_EQ(frame.size(), 23u + 5u + 6u);
    EXPECT_EQ(std::string(frame.begin(), frame.begin() + 7), "$LDOTA,");
    EXPECT_EQ(BigEndianAt(frame, 7), 4u);
    EXPECT_EQ(BigEndianAt(frame, 11), 3u);
    EXPECT_EQ(BigEndianAt(frame, 15), 2u);
    EXPECT_EQ(BigEndianAt(frame, 19), 5u);
    EXPECT_EQ(Bytes(frame.begin() + 23, frame.begin() + 28), data);
    // Type..data is 21 bytes: three zero bytes make it 24 before the CRC.
    Bytes covered(frame.begin() + 7, frame.begin() + 28);
    covered.resize(24, 0);
    EXPECT_EQ(BigEndianAt(frame, 28), BitwiseCrc(covered));
    EXPECT_EQ(frame[32], 0xEE);
    EXPECT_EQ(frame[33], 0xFF);
}

TEST(OtaFrameTest, StateQuery_IsOneFrameOf1024BytesOfFF) {
    const Bytes frame = OtaFrame::StateQuery();
    OtaFrame::Fields fields;
    ASSERT_TRUE(OtaFrame::Decode(frame.data(), frame.size(), fields));
    EXPECT_EQ(fields.type, 5u);
    EXPECT_EQ(fields.total, 1u);
    EXPECT_EQ(fields.index, 0u);
    EXPECT_EQ(fields.data, Bytes(1024, 0xFF));
}

TEST(OtaFrameTest, Decode_RefusesEverySingleDamagedByte) {
    const Bytes data = {9, 8, 7};
    const Bytes frame = OtaFrame::Encode(2, 1, 0, data.data(), data.size());
    for (size_t at = 0; at < frame.size(); ++at) {
        Bytes damaged = frame;
        damaged[at] ^= 0x40;
        OtaFrame::Fields fields;
        EXPECT_FALSE(OtaFrame::Decode(damaged.data(), damaged.size(), fields)) << "byte " << at;
    }
}

TEST(OtaFrameTest, ParseReply_TakesTypeAndStatusOnlyFromAMostSignificantFirstCrc) {
    const Bytes reply = OtaFrame::EncodeReply(7, 4, 3);
    OtaFrame::Reply parsed;
    ASSERT_TRUE(OtaFrame::ParseReply(reply.data(), reply.size(), parsed));
    EXPECT_EQ(parsed.type, 7);
    EXPECT_EQ(parsed.status, 3);
    SerialFrame::Layout least_first;
    least_first.length_bias = 0;
    const uint8_t payload[2] = {4, 3};
    const Bytes other = SerialFrame::Encode(SerialFrame::kReplyTag, 7, payload, 2, least_first);
    EXPECT_FALSE(OtaFrame::ParseReply(other.data(), other.size(), parsed));
}

TEST(OtaFrameTest, FrameCount_CutsIntoFramesOf1024) {
    EXPECT_EQ(OtaFrame::FrameCount(0), 0u);
    EXPECT_EQ(OtaFrame::FrameCount(1), 1u);
    EXPECT_EQ(OtaFrame::FrameCount(1024), 1u);
    EXPECT_EQ(OtaFrame::FrameCount(1025), 2u);
    EXPECT_EQ(OtaFrame::FrameCount(2049), 3u);
}

TEST(FirmwareFileTest, MissingFile_NamedInTheError) {
    Bytes image = {1};
    std::string error;
    const std::string path = ::testing::TempDir() + "no-such-firmware.bin";
    EXPECT_FALSE(FirmwareFile::Read(path, image, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(image, Bytes{1});
    EXPECT_FALSE(FirmwareFile::Read(::testing::TempDir(), image, error));
    EXPECT_NE(error.find(::testing::TempDir()), std::string::npos) << error;
}

TEST(FirmwareFileTest, ExistingFile_ReadWhole) {
    const std::string path = ::testing::TempDir() + "firmware-read-test.bin";
    const Bytes bytes = {0, 0xFF, 0x1A, 0x0D, 0x0A, 7};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    Bytes image;
    std::string error;
    ASSERT_TRUE(FirmwareFile::Read(path, image, error)) << error;
    EXPECT_EQ(image, bytes);
    std::remove(path.c_str());
}

}  // namespace
