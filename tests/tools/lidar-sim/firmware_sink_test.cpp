// The virtual sensor's firmware side refuses frames that break the framing: without that, the
// end-to-end upgrade tests could not tell a correct client from one that merely sends bytes.
#include "tools/lidar-sim/firmware_sink.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_parser.h"
#include "libkrell/Frame/ota_frame.h"

namespace {

using krell::lidar::CmxParser;
using krell::lidar::OtaFrame;
using krell::lidar::sim::FirmwareSink;
using krell::lidar::sim::SimRequest;
using krell::lidar::sim::UpgradeFaults;
using Bytes = std::vector<uint8_t>;

Bytes Frame(uint32_t total, uint32_t index, size_t size) {
    const Bytes data(size, static_cast<uint8_t>(index + 1));
    return OtaFrame::Encode(OtaFrame::kTypeApp, total, index, data.data(), data.size());
}

uint8_t ReplyType(const FirmwareSink::OtaAnswer& answer) {
    OtaFrame::Reply reply;
    EXPECT_TRUE(OtaFrame::ParseReply(answer.reply.data(), answer.reply.size(), reply));
    return reply.type;
}

TEST(FirmwareSinkTest, OtaFramesOutOfOrderOrMisSized_AreRefusedAndNamed) {
    FirmwareSink sink;
    EXPECT_EQ(ReplyType(sink.AcceptOta(Frame(2, 0, 1000))), FirmwareSink::kFrameRejected);
    EXPECT_FALSE(sink.LastError().empty());
    EXPECT_EQ(ReplyType(sink.AcceptOta(Frame(2, 0, 1024))), OtaFrame::kReplyAck);
    EXPECT_EQ(ReplyType(sink.AcceptOta(Frame(3, 1, 1))), FirmwareSink::kFrameRejected);
    EXPECT_EQ(ReplyType(sink.AcceptOta(Frame(2, 1, 0))), FirmwareSink::kFrameRejected);
    EXPECT_FALSE(sink.ImageComplete());
    EXPECT_EQ(ReplyType(sink.AcceptOta(Frame(2, 1, 1))), OtaFrame::kReplyAck);
    EXPECT_TRUE(sink.ImageComplete());
    EXPECT_EQ(sink.Image().size(), 1025u);
}

TEST(FirmwareSinkTest, OtaFrameWithADamagedCrc_IsRefused) {
    FirmwareSink sink;
    Bytes frame = Frame(1, 0, 10);
    frame[frame.size() - 3] ^= 0x01;
    EXPECT_EQ(ReplyType(sink.AcceptOta(frame)), FirmwareSink::kFrameRejected);
    EXPECT_TRUE(sink.Image().empty());
}

TEST(FirmwareSinkTest, FileStreamFrames_CheckedForCrcAndOrder) {
    FirmwareSink sink;
    CmxParser parser(1);
    std::vector<Bytes> frames;
    ASSERT_TRUE(parser.CmxFilestreamSend(Bytes(1500, 0x5A), krell::lidar::kCmdFileStreamUpgrade,
                                         frames));
    ASSERT_EQ(frames.size(), 2u);
    SimRequest request;
    request.cmd = krell::lidar::kCmdFileStreamUpgrade;
    request.payload = frames[1];
    EXPECT_EQ(sink.AcceptFileStream(request).ret_code, FirmwareSink::kFrameRejected);
    request.payload = frames[0];
    request.payload.back() ^= 0x01;
    EXPECT_EQ(sink.AcceptFileStream(request).ret_code, FirmwareSink::kFrameRejected);
    request.payload = frames[0];
    EXPECT_EQ(sink.AcceptFileStream(request).ret_code, 0);
    request.payload = frames[1];
    EXPECT_EQ(sink.AcceptFileStream(request).ret_code, 0);
    EXPECT_EQ(sink.Image(), Bytes(1500, 0x5A));
}

// The program's fault flags, as lidar-sim takes them from its command line.
TEST(UpgradeFaultsTest, CommandLineFlags_SetTheSwitches) {
    const char* argv[] = {"lidar-sim", "--refuse-frame", "3:7:0", "--silent-after", "2",
                          "--corrupt-ack", "4", "--drop-after", "5", "--boot-loader"};
    const int argc = static_cast<int>(sizeof(argv) / sizeof(argv[0]));
    UpgradeFaults faults;
    for (int i = 1; i < argc; ++i) {
        ASSERT_TRUE(UpgradeFaults::ParseOption(argc, const_cast<char**>(argv), i, faults)) << i;
    }
    EXPECT_EQ(faults.refuse_frame, 3u);
    EXPECT_EQ(faults.refuse_reply_type, 7);
    EXPECT_EQ(faults.refuse_status, 0);
    EXPECT_EQ(faults.silent_after, 2u);
    EXPECT_EQ(faults.corrupt_ack, 4u);
    EXPECT_EQ(faults.drop_after, 5u);
    EXPECT_TRUE(faults.boot_loader);
    for (const char* bad : {"3:7", "x", "3:7:256", ""}) {
        const char* malformed[] = {"lidar-sim", "--refuse-frame", bad};
        int i = 1;
        EXPECT_FALSE(UpgradeFaults::ParseOption(3, const_cast<char**>(malformed), i, faults)) << bad;
    }
}

}  // namespace

namespace {

// A reader on the serial line cuts a reply at the first 0xEE 0xFF, so a random word or CRC that
// happens to hold that pair (about one reply in ten thousand) failed a firmware upgrade at random.
// Of 100,000 replies some would hold it if the sensor did not draw again.
TEST(FirmwareSinkTest, Replies_NeverHoldTheEndMarkBeforeTheirEnd) {
    FirmwareSink sink;
    const Bytes query = OtaFrame::StateQuery();
    size_t early = 0;
    for (int i = 0; i < 100000; ++i) {
        const Bytes reply = sink.AcceptOta(query).reply;
        ASSERT_GE(reply.size(), 4u);
        for (size_t k = 0; k + 3 < reply.size(); ++k)
            early += reply[k] == 0xEE && reply[k + 1] == 0xFF ? 1 : 0;
    }
    EXPECT_EQ(early, 0u);
}

}  // namespace
