#include "libkrell/Source/serial_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/libkrell/Source/pty_peer.h"
#include "tests/support/count_lines.h"
#include "tests/support/scribe_capture.h"

namespace {

// Sends the log to a file of this test program before anything logs.
const std::string& kLogPath = krell::test::ScribeCapture::Path();

using krell::lidar::SerialSource;
using krell::lidar::UdpPacket;
using krell::test::CountLines;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kPointType = 0;
constexpr int kReplyType = 1;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes Reply(uint8_t marker) {
    return {'$', 'L', 'D', 'A', 'C', 'K', ',', 3, 3, marker, 0, 1, 2, 3, 4, 5, 6, 7, 0xEE, 0xFF};
}

Bytes Point80(uint8_t number) {
    Bytes packet(80, 0x33);
    packet[0] = 0xEE;
    packet[1] = 0xFF;
    packet[3] = 8;
    packet[5] = 0;
    packet[6] = number;
    return packet;
}

Bytes Received(const UdpPacket& packet) {
    return Bytes(packet.data, packet.data + packet.length);
}

TEST(SerialSource, OpensAtEveryNamedRate_AndRefusesBadRatesTypesAndPorts) {
    krell_test::PtyPeer pty;
    ASSERT_TRUE(pty.Ok());
    for (uint32_t baud : {9600u, 115200u, 3000000u, 3125000u, 5000000u}) {
        SerialSource source(pty.SlaveName(), baud, baud);
        EXPECT_TRUE(source.Open()) << baud;
        EXPECT_TRUE(source.IsOpened());
        source.Close();
        EXPECT_FALSE(source.IsOpened());
    }
    const size_t mark = krell::test::ScribeCapture::Mark();
    SerialSource zero_rate(pty.SlaveName(), 115200, 0);
    EXPECT_FALSE(zero_rate.Open());
    EXPECT_NE(krell::test::ScribeCapture::Since(mark).find(pty.SlaveName() +
                                                           ": line speed 0 baud is not supported"),
              std::string::npos);

    SerialSource odd_type(pty.SlaveName(), 115200, 115200);
    odd_type.SetReceiveType(5);
    EXPECT_FALSE(odd_type.Open());
    EXPECT_NE(krell::test::ScribeCapture::Since(mark).find("not support receiveStype, open error"),
              std::string::npos);

    SerialSource missing("/dev/krell-no-such-port", 115200, 115200);
    EXPECT_FALSE(missing.Open());
    EXPECT_FALSE(missing.IsOpened());
}

TEST(SerialSource, SendWritesToLine_ClosedPortGivesMinus22) {
    krell_test::PtyPeer pty;
    SerialSource source(pty.SlaveName(), 115200, 3125000);
    const Bytes frame = {'$', 'L', 'D', 'C', 'M', 'D', ',', 0x0A, 0x0D, 0xEE, 0xFF};
    EXPECT_EQ(source.Send(frame.data(), static_cast<uint16_t>(frame.size()), 0), -22);
    source.SetReceiveThreadEnabled(false);
    ASSERT_TRUE(source.Open());
    EXPECT_FALSE(source.IsReceiving());
    EXPECT_EQ(source.Send(frame.data(), static_cast<uint16_t>(frame.size()), 0),
              static_cast<int32_t>(frame.size()));
    // Raw mode: line feed and carriage return pass unchanged.
    EXPECT_EQ(pty.Read(frame.size(), 1000), frame);
}

TEST(SerialSource, InterleavedStreamThroughTty_ArrivesSortedAndWhole) {
    krell_test::PtyPeer pty;
    SerialSource source(pty.SlaveName(), 115200, 3125000);
    ASSERT_TRUE(source.Open());
    ASSERT_TRUE(source.IsReceiving());
    Bytes stream = {0x00, 0x24, 0x99};
    for (uint8_t i = 0; i < 50; ++i) {
        const Bytes point = Point80(i);
        stream.insert(stream.end(), point.begin(), point.end());
        if (i % 10 == 4) {
            const Bytes reply = Reply(i);
            stream.insert(stream.end(), reply.begin(), reply.end());
        }
    }
    stream.insert(stream.end(), 8, 0x00);
    // Written in uneven pieces so frames straddle the 80-byte reads.
    for (size_t at = 0; at < stream.size(); at += 37) {
        ASSERT_TRUE(pty.Write(
            Bytes(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 37))));
    }
    UdpPacket packet{};
    for (uint8_t i = 0; i < 50; ++i) {
        ASSERT_EQ(source.Receive(packet, 0, kPointType, 2000), 80) << int(i);
        EXPECT_EQ(Received(packet), Point80(i));
    }
    for (uint8_t i = 4; i < 50; i += 10) {
        ASSERT_EQ(source.Receive(packet, 0, kReplyType, 2000), 20);
        EXPECT_EQ(Received(packet), Reply(i));
    }
    EXPECT_EQ(source.Receive(packet, 0, kReplyType, 0), -1);
    EXPECT_EQ(source.Receive(packet, 0, 7, 0), -1);
}

TEST(SerialSource, ReceiveTimeout_WaitsWholeTimeAndTakesLateArrival) {
    krell_test::PtyPeer pty;
    SerialSource source(pty.SlaveName(), 115200, 3125000);
    ASSERT_TRUE(source.Open());
    UdpPacket packet{};
    Clock::time_point start = Clock::now();
    EXPECT_EQ(source.Receive(packet, 0, kReplyType, 250), -1);
    const int64_t waited_ms = MsSince(start);
    EXPECT_GE(waited_ms, 245);
    EXPECT_LT(waited_ms, 1000);

    // A reply that arrives after several steps is still taken, as soon as it is there.
    start = Clock::now();
    std::thread late([&pty] {
        std::this_thread::sleep_for(std::chrono::milliseconds(330));
        pty.Write(Reply(9));
    });
    EXPECT_EQ(source.Receive(packet, 0, kReplyType, 1050), 20);
    const int64_t took_ms = MsSince(start);
    late.join();
    EXPECT_GE(took_ms, 320);
    EXPECT_LT(took_ms, 1000);
    EXPECT_EQ(Received(packet), Reply(9));
}

// A disconnect must not wait out a reply time-out: AbortWaits wakes the waiting reader at once,
// and later waits return at once too.
TEST(SerialSource, AbortWaits_EndsAReplyWaitNowAndLater) {
    krell_test::PtyPeer pty;
    SerialSource source(pty.SlaveName(), 115200, 3125000);
    ASSERT_TRUE(source.Open());
    int32_t result = 0;
    std::thread reader([&] {
        UdpPacket packet{};
        result = source.Receive(packet, 0, kReplyType, 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const Clock::time_point start = Clock::now();
    source.AbortWaits();
    reader.join();
    EXPECT_LT(MsSince(start), 100);
    EXPECT_EQ(result, -1);
    UdpPacket packet{};
    const Clock::time_point again = Clock::now();
    EXPECT_EQ(source.Receive(packet, 0, kReplyType, 3000), -1);
    EXPECT_LT(MsSince(again), 100);
}

TEST(SerialSource, SetReceiveType_ClearsQueuesAndReopensAtCommandRate) {
    krell_test::PtyPeer pty;
    SerialSource source(pty.SlaveName(), 115200, 3125000);
    ASSERT_TRUE(source.Open());
    Bytes stream = Reply(1);
    const Bytes point = Point80(1);
    stream.insert(stream.end(), point.begin(), point.end());
    stream.insert(stream.end(), 8, 0);
    ASSERT_TRUE(pty.Write(stream));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    UdpPacket packet{};
    source.SetReceiveType(2);  // the reply queue only
    EXPECT_EQ(source.Receive(packet, 0, kReplyType, 0), -1);
    EXPECT_EQ(source.Receive(packet, 0, kPointType, 0), 80);

    ASSERT_TRUE(pty.Write(stream));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    source.SetReceiveType(1);
    EXPECT_FALSE(source.IsOpened());
    EXPECT_EQ(source.Receive(packet, 0, kPointType, 0), -1);
    EXPECT_EQ(source.Receive(packet, 0, kReplyType, 0), -1);
    ASSERT_TRUE(source.Open());
    ASSERT_TRUE(pty.Write(Reply(2)));
    ASSERT_EQ(source.Receive(packet, 0, kReplyType, 1000), 20);
    EXPECT_EQ(Received(packet), Reply(2));
}

TEST(SerialSource, Unplugged_ThreadEndsWithOneLineAndCloseReturns) {
    const size_t mark = krell::test::ScribeCapture::Mark();
    auto pty = std::make_unique<krell_test::PtyPeer>();
    SerialSource source(pty->SlaveName(), 115200, 3125000);
    ASSERT_TRUE(source.Open());
    ASSERT_TRUE(pty->Write(Point80(1)));
    UdpPacket packet{};
    ASSERT_EQ(source.Receive(packet, 0, kPointType, 1000), 80);
    pty->CloseMaster();
    const Clock::time_point start = Clock::now();
    while (source.IsReceiving() && MsSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(source.IsReceiving());
    const Clock::time_point close_start = Clock::now();
    source.Close();
    EXPECT_LT(MsSince(close_start), 500);
    EXPECT_EQ(CountLines(krell::test::ScribeCapture::Since(mark), "receive thread ends"), 1);
    const Bytes frame(4, 0x55);
    EXPECT_LT(source.Send(frame.data(), 4, 0), 0);
}

TEST(SerialSource, CloseWhileStreaming_ReturnsPromptly) {
    krell_test::PtyPeer pty;
    auto source = std::make_unique<SerialSource>(pty.SlaveName(), 115200, 3125000);
    ASSERT_TRUE(source->Open());
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (int i = 0; i < 2000 && feeding.load(); ++i)
            pty.Write(Point80(static_cast<uint8_t>(i)));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Clock::time_point start = Clock::now();
    source.reset();
    EXPECT_LT(MsSince(start), 500);
    feeding.store(false);
    feeder.join();
}

}  // namespace
