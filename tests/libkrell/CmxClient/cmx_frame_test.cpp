// The two CMX frame versions, stream decoding and file-stream framing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libkrell/CmxClient/cmx_1_0_parser.h"
#include "libkrell/CmxClient/cmx_2_0_parser.h"
#include "libkrell/CmxClient/cmx_parser.h"
#include "libkrell/Frame/crc32.h"

namespace krell {
namespace lidar {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(CmxParser, EmptyRequest_EncodesExactHeaders) {
    Bytes frame;
    CmxParser v1(1);
    ASSERT_TRUE(v1.CmxRequestEncode({}, frame, 0x07));
    EXPECT_EQ(frame, (Bytes{0x47, 0x74, 0x07, 0, 0, 0, 0, 0}));
    CmxParser v2(2);
    ASSERT_TRUE(v2.CmxRequestEncode({}, frame, 0x07));
    EXPECT_EQ(frame, (Bytes{0x57, 0x75, 0x01, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CmxParser, PayloadLength_IsBigEndianInBothVersions) {
    const Bytes payload(258, 0xAB);
    Bytes frame;
    Cmx_1_0_parser v1;
    v1.CmxRequestEncode(payload, frame, 0x10);
    ASSERT_EQ(frame.size(), 8u + 258u);
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 8), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(frame.back(), 0xAB);
    EXPECT_EQ(v1.GetPayloadLen(), 258u);
    EXPECT_EQ(v1.GetCmd(), 0x10);
    Cmx_2_0_parser v2;
    v2.CmxRequestEncode(payload, frame, 0x10);
    ASSERT_EQ(frame.size(), 12u + 258u);
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 12), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(v2.GetPayloadLen(), 258u);
}

TEST(CmxParser, UnknownVersion_RefusesEveryOperation) {
    CmxParser none(3);
    Bytes out{1, 2};
    std::vector<Bytes> frames;
    EXPECT_EQ(none.Get(), nullptr);
    EXPECT_FALSE(none.CmxRequestEncode({}, out, 1));
    EXPECT_FALSE(none.CmxStreamDecode(1, 0, {1, 2, 3}, 0, 1, out));
    EXPECT_FALSE(none.CmxFilestreamSend(Bytes(10, 0), 1, frames));
}

TEST(Cmx10StreamDecode, Ranges_CutOrRefuseWithoutTouchingOutput) {
    Cmx_1_0_parser parser;
    const Bytes input{0, 1, 2, 3, 4, 5, 6, 7};
    Bytes out{9};
    EXPECT_TRUE(parser.CmxStreamDecode(0, 0, input, 4, 4, out));
    EXPECT_EQ(out, (Bytes{4, 5, 6, 7}));
    out = {9};
    EXPECT_FALSE(parser.CmxStreamDecode(0, 0, input, 5, 4, out));
    EXPECT_TRUE(parser.CmxStreamDecode(0, 0, input, 8, 0, out));
    EXPECT_TRUE(out.empty());
    // Negative values and sums that wrap around 32 bits must be refused, not read out of bounds.
    out = {9};
    EXPECT_FALSE(parser.CmxStreamDecode(0, 0, input, -1, 2, out));
    EXPECT_FALSE(parser.CmxStreamDecode(0, 0, input, 2, -1, out));
    EXPECT_FALSE(parser.CmxStreamDecode(0, 0, input, 0x7FFFFFFF, 0x7FFFFFFF, out));
    EXPECT_EQ(out, (Bytes{9}));
}

TEST(Cmx20StreamDecode, CommandClasses_FollowTheirRules) {
    Cmx_2_0_parser parser;
    Bytes out;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(parser.CmxStreamDecode(3, 0, {1, 2}, 99, 99, out));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cmx_2_0_parser::CmxStreamDecode success!\n");
    EXPECT_EQ(out, (Bytes{1, 2}));
    out = {7};
    EXPECT_TRUE(parser.CmxStreamDecode(4, 0, {}, 0, 0, out));
    EXPECT_EQ(out, (Bytes{7}));
    EXPECT_FALSE(parser.CmxStreamDecode(4, 0, {5}, 0, 0, out));
    EXPECT_EQ(out, (Bytes{5}));
    EXPECT_TRUE(parser.CmxStreamDecode(10, 0, {}, 0, 0, out));
    EXPECT_FALSE(parser.CmxStreamDecode(10, 0x33, {}, 0, 0, out));
    EXPECT_EQ(out.back(), 0x33);
    Bytes same{1, 2, 3};
    testing::internal::CaptureStdout();
    EXPECT_TRUE(parser.CmxStreamDecode(0x40, 0, same, 0, 0, same));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(same, (Bytes{1, 2, 3}));
}

// Checks one file-stream frame: CMX 1.0 header, sub-header numbering and the chunk CRC.
void ExpectFileFrame(const Bytes& frame, uint8_t cmd, uint32_t number, uint32_t total,
                     const Bytes& chunk) {
    ASSERT_EQ(frame.size(), 8u + 16u + chunk.size());
    EXPECT_EQ(frame[2], cmd);
    EXPECT_EQ(GetU32Be(&frame[4]), 16u + chunk.size());
    EXPECT_EQ(GetU32Be(&frame[8]), 0u);
    EXPECT_EQ(GetU32Be(&frame[12]), number);
    EXPECT_EQ(GetU32Be(&frame[16]), total);
    EXPECT_EQ(GetU32Be(&frame[20]), Crc32Mpeg2(chunk.data(), chunk.size()));
    EXPECT_EQ(Bytes(frame.begin() + 24, frame.end()), chunk);
}

TEST(CmxFilestream, ChunkBoundaries_GiveNumberedCheckedFrames) {
    Cmx_1_0_parser parser;
    Bytes file(1025);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>(i * 7);
    std::vector<Bytes> frames;
    ASSERT_TRUE(parser.CmxFilestreamSend(Bytes(file.begin(), file.begin() + 1024), 0x83, frames));
    ASSERT_EQ(frames.size(), 1u);
    ExpectFileFrame(frames[0], 0x83, 1, 1, Bytes(file.begin(), file.begin() + 1024));
    frames.clear();
    ASSERT_TRUE(parser.CmxFilestreamSend(file, 0x83, frames));
    ASSERT_EQ(frames.size(), 2u);
    ExpectFileFrame(frames[0], 0x83, 1, 2, Bytes(file.begin(), file.begin() + 1024));
    ExpectFileFrame(frames[1], 0x83, 2, 2, Bytes{file.back()});
    // One frame at a time, as a sender cuts them, gives the same bytes; there is no frame 0 or 3.
    Bytes single;
    ASSERT_TRUE(parser.CmxFilestreamFrame(file, 0x83, 2, single));
    EXPECT_EQ(single, frames[1]);
    EXPECT_FALSE(parser.CmxFilestreamFrame(file, 0x83, 0, single));
    EXPECT_FALSE(parser.CmxFilestreamFrame(file, 0x83, 3, single));
    EXPECT_FALSE(CmxParser(2).CmxFilestreamFrame(file, 0x83, 1, single));
    frames.clear();
    EXPECT_TRUE(parser.CmxFilestreamSend({}, 0x83, frames));
    EXPECT_TRUE(frames.empty());
    CmxParser v2(2);
    EXPECT_TRUE(v2.CmxFilestreamSend(file, 0x83, frames));
    EXPECT_TRUE(frames.empty());
}

}  // namespace
}  // namespace lidar
}  // namespace krell
