#include "tools/lidar-sim/serial_line_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "libkrell/Source/serial_client.h"
#include "libkrell/Frame/serial_frame.h"
#include "libkrell/Source/serial_source.h"
#include "tools/lidar-sim/serial_request_reader.h"

namespace {

using krell::lidar::SerialClient;
using krell::lidar::SerialFrame;
using krell::lidar::SerialSource;
using krell::lidar::UdpPacket;
using krell::lidar::sim::PointStream;
using krell::lidar::sim::SerialLineSim;
using krell::lidar::sim::SerialRequestReader;
using krell::lidar::sim::SerialResponder;
using Bytes = std::vector<uint8_t>;

Bytes WithZeros(Bytes head, size_t size) {
    head.resize(size, 0);
    return head;
}

// The client side as DeviceBench sets it up: commands on the UART line (no receive thread),
// replies and point packets on the RS-485 line.
class SerialLineSimTest : public ::testing::Test {
protected:
    void Connect(const PointStream::Options& stream) {
        sim_ = std::make_unique<SerialLineSim>(responder_, stream);
        ASSERT_TRUE(sim_->Start());
        uart_ = std::make_shared<SerialSource>(sim_->UartName(), 9600, 3125000);
        uart_->SetReceiveType(1);
        uart_->SetReceiveThreadEnabled(false);
        rs485_ = std::make_shared<SerialSource>(sim_->Rs485Name(), 115200, 3125000);
        ASSERT_TRUE(uart_->Open());
        ASSERT_TRUE(rs485_->Open());
        client_.Init(uart_, rs485_);
    }

    // Point packets taken within `ms`: how many, and how many are byte-for-byte a packet the
    // sensor meant to send.
    std::pair<int, int> TakePoints(int ms) {
        int taken = 0;
        int intact = 0;
        UdpPacket packet{};
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (rs485_->Receive(packet, 0, 0, 50) <= 0) continue;
            ++taken;
            uint32_t sequence = 0;
            std::memcpy(&sequence, packet.data + PointStream::kSequenceOffset, sizeof(sequence));
            if (Bytes(packet.data, packet.data + packet.length) == PointStream::Packet(sequence))
                ++intact;
        }
        return {taken, intact};
    }

    SerialResponder responder_;
    std::unique_ptr<SerialLineSim> sim_;
    std::shared_ptr<SerialSource> uart_;
    std::shared_ptr<SerialSource> rs485_;
    SerialClient client_;
};

TEST_F(SerialLineSimTest, EveryOperation_AnsweredInItsLayoutBetweenPointPackets) {
    PointStream::Options stream;
    stream.packets_per_second = 2000;
    Connect(stream);
    responder_.SetFunctionSafety(1, {0x1234, 0x00AB});

    EXPECT_EQ(client_.ChangeMode(10, 20), 0);
    EXPECT_EQ(responder_.Snapshot().spin_rate, 20);
    EXPECT_EQ(client_.ChangeMode(11, 0), 0);
    EXPECT_TRUE(responder_.Snapshot().standby);

    Bytes body;
    ASSERT_EQ(client_.SerialQuery(2, WithZeros({0x0F, 5}, 27), body, 3000), 0);
    ASSERT_EQ(body.size(), 30u);
    EXPECT_EQ(body[2], 0x0F);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + 4)), "PBL 1.0.3");

    ASSERT_EQ(client_.SerialQuery(2, WithZeros({0x0A, 0x01}, 38), body, 3000), 0);
    ASSERT_GT(body.size(), 36u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + 4)), "KR0000MINKA0001");

    ASSERT_EQ(client_.SerialQuery(2, {0x07, 0x00}, body, 3000), 0);
    const Bytes calibration = responder_.Snapshot().calibration;
    ASSERT_EQ(body.size(), body[4] + 6u);
    EXPECT_EQ(Bytes(body.begin() + 5, body.end() - 1), calibration);
    EXPECT_EQ(body.back(), 0);

    ASSERT_EQ(client_.SerialQuery(2, {0x08, 0x21}, body, 3000), 0);
    EXPECT_EQ(Bytes(body.begin() + 1, body.end()),
              (Bytes{2, 8, 0xA1, 1, 0x34, 0x12, 0xAB, 0x00, 0}));

    ASSERT_EQ(client_.SerialQuery(2, {0x0B, 0x08, 0x03}, body, 3000), 0);
    ASSERT_EQ(body.size(), 6u);
    EXPECT_EQ(body[5], 0);
    EXPECT_EQ(responder_.Snapshot().imu_angular_code, 0x08);
    ASSERT_EQ(client_.SerialQuery(2, {0x0B, 0x06, 0x00}, body, 3000), 0);
    EXPECT_NE(body[5], 0) << "code 6 is no angular range";

    const auto points = TakePoints(200);
    EXPECT_GT(points.first, 50);
    EXPECT_EQ(points.first, points.second);
}

TEST_F(SerialLineSimTest, ReplyFaults_GiveNoReplyInvalidReplyOrPassThroughGarbage) {
    Connect(PointStream::Options{});
    SerialResponder::Faults faults;
    faults.no_reply = true;
    responder_.SetFaults(faults);
    Bytes body;
    EXPECT_EQ(client_.SerialQuery(3, {4, 0}, body, 200), -3);
    faults = SerialResponder::Faults{};
    faults.bad_crc = true;
    responder_.SetFaults(faults);
    EXPECT_EQ(client_.ChangeMode(4, 0), -2);
    faults = SerialResponder::Faults{};
    faults.garbage_bytes = 9;
    responder_.SetFaults(faults);
    EXPECT_EQ(client_.ChangeMode(4, 0), 0);
}

TEST_F(SerialLineSimTest, GarbageAndTruncatedPackets_StreamRecoversAndCommandsStillWork) {
    PointStream::Options stream;
    stream.packets_per_second = 3000;
    stream.garbage_every = 5;
    stream.truncate_every = 11;
    Connect(stream);
    const auto points = TakePoints(300);
    EXPECT_GT(points.first, 300);
    // A cut packet takes the start of the next with it; everything else arrives whole.
    EXPECT_GT(points.second, points.first * 3 / 4);
    EXPECT_EQ(client_.ChangeMode(9, 0), 0);
    EXPECT_EQ(responder_.Snapshot().return_mode, 9);
}

// The RS-485 stream carries the information fields in turn in its 80-byte packets, as the
// sensor's UDP side does; the other packets and the point data stay as they were.
TEST_F(SerialLineSimTest, InfoPackets_CarriedInTurnByThe80BytePackets) {
    PointStream::Options stream;
    stream.packets_per_second = 2000;
    Connect(stream);
    std::vector<Bytes> info;
    for (uint8_t id : {3, 7}) {
        Bytes packet = PointStream::Packet(0);
        packet[PointStream::kInfoIdOffset] = id;
        packet[PointStream::kInfoIdOffset + 1] = static_cast<uint8_t>(0x40 + id);
        info.push_back(packet);
    }
    sim_->SetInfoPackets(info);
    std::vector<uint8_t> ids;
    UdpPacket packet{};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (ids.size() < 40 && std::chrono::steady_clock::now() < end) {
        if (rs485_->Receive(packet, 0, 0, 50) != static_cast<int32_t>(PointStream::kPacketBytes))
            continue;
        const uint8_t id = packet.data[PointStream::kInfoIdOffset];
        if (id == 0) continue;  // sent before the fields were set
        ASSERT_TRUE(id == 3 || id == 7) << int(id);
        EXPECT_EQ(packet.data[PointStream::kInfoIdOffset + 1], 0x40 + id);
        uint32_t sequence = 0;
        std::memcpy(&sequence, packet.data + PointStream::kSequenceOffset, sizeof(sequence));
        const Bytes plain = PointStream::Packet(sequence);
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + PointStream::kInfoIdOffset,
                               packet.data));
        ids.push_back(id);
    }
    ASSERT_GE(ids.size(), 40u);
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_NE(ids[i], ids[i - 1]) << i;
}

TEST(SerialRequestReader, SplitRequestsAfterGarbage_CutWhole) {
    const Bytes first = SerialFrame::EncodeRequest(3, {4, 0});
    const Bytes second = SerialFrame::EncodeRequest(2, WithZeros({0x0A, 1}, 38));
    Bytes line = {'$', 'L', 'D', 0x00};
    line.insert(line.end(), first.begin(), first.end());
    line.insert(line.end(), second.begin(), second.end());
    SerialRequestReader reader;
    std::vector<Bytes> frames;
    for (uint8_t byte : line) {
        for (Bytes& frame : reader.Feed(&byte, 1))
            frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], first);
    EXPECT_EQ(frames[1], second);
}

}  // namespace
