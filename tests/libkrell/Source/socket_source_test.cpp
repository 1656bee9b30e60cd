#include "libkrell/Source/socket_source.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/libkrell/Source/udp_peer.h"
#include "tests/support/count_lines.h"
#include "tests/support/scribe_capture.h"

namespace {

// Sends the log to a file of this test program before anything logs.
const std::string& kLogPath = krell::test::ScribeCapture::Path();

using krell::lidar::SocketSource;
using krell::lidar::UdpPacket;
using krell::test::CountLines;
using krell::test::ScribeCapture;
using krell::test::UdpPeer;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int32_t kWaitUs = 50000;
constexpr char kGroup[] = "239.255.77.31";

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

Bytes Received(const UdpPacket& packet) {
    return Bytes(packet.data, packet.data + packet.length);
}

// Receives until a datagram (or a negative code other than "nothing waiting") comes, within ~2 s.
int32_t ReceiveWithin(SocketSource& source, UdpPacket& packet, uint16_t len = 1500) {
    int32_t got = 0;
    for (int i = 0; i < 80; ++i) {
        got = source.Receive(packet, len, 0, kWaitUs);
        if (got > 0 || got < -1) return got;
    }
    return got;
}

TEST(SocketSource, IdlePort_FirstReceiveReturnsAtOnce_NextWaitsAndFlagsTimeout) {
    SocketSource source(0, "127.0.0.1", "");
    UdpPacket packet{};
    // A closed source opens itself on the first receive.
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(source.Receive(packet, 1500, 0, kWaitUs), -1);
    EXPECT_LT(MsSince(start), 40);
    EXPECT_TRUE(source.IsOpened());
    EXPECT_NE(source.LocalPort(), 0);

    const Clock::time_point wait_start = Clock::now();
    EXPECT_EQ(source.Receive(packet, 1500, 0, kWaitUs), 0);
    EXPECT_GE(MsSince(wait_start), 45);
    EXPECT_EQ(packet.timeout, 1);
}

TEST(SocketSource, DatagramArrivingDuringAWait_ComesWithTheSendersAddressAndPort) {
    SocketSource source(0, "127.0.0.1", "");
    ASSERT_TRUE(source.Open());
    UdpPacket packet{};
    ASSERT_EQ(source.Receive(packet, 1500, 0, kWaitUs), -1);  // arms the wait

    UdpPeer sender;
    const Bytes sent = Pattern(80, 3);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sender.SendTo("127.0.0.1", source.LocalPort(), sent);
    });
    const int32_t got = source.Receive(packet, 1500, 0, 500000);
    later.join();
    ASSERT_EQ(got, 80);
    EXPECT_EQ(Received(packet), sent);
    EXPECT_EQ(packet.ip, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(packet.port, sender.Port());
    EXPECT_EQ(packet.timeout, 0);
}

TEST(SocketSource, SendGoesToTheSetPeer_AndIsRefusedWithoutOneOrWhenClosed) {
    SocketSource source(0, "127.0.0.1", "");
    const size_t mark = ScribeCapture::Mark();
    const Bytes payload = Pattern(20, 9);
    EXPECT_EQ(source.Send(payload.data(), 20, 0), -1);
    ASSERT_TRUE(source.Open());
    EXPECT_EQ(source.Send(payload.data(), 20, 0), -1);
    EXPECT_FALSE(source.SetPeer("not an address", 1));
    EXPECT_EQ(source.Send(payload.data(), 20, 0), -1);
    const std::string log = ScribeCapture::Since(mark);
    EXPECT_EQ(CountLines(log, "is not open"), 1) << log;
    EXPECT_EQ(CountLines(log, "SocketSource::Send, client ip is empty"), 2) << log;

    UdpPeer peer;
    ASSERT_TRUE(source.SetPeer("127.0.0.1", peer.Port()));
    EXPECT_EQ(source.Send(payload.data(), 20, 0), 20);
    EXPECT_EQ(peer.Receive(), payload);
}

TEST(SocketSource, DatagramLongerThanTheSpace_IsReportedCutAndTheNextOneIsWhole) {
    SocketSource source(0, "127.0.0.1", "");
    ASSERT_TRUE(source.Open());
    UdpPeer sender;
    ASSERT_TRUE(sender.SendTo("127.0.0.1", source.LocalPort(), Pattern(200, 1)));
    // Longer than a packet can hold, even though the caller offers more room.
    ASSERT_TRUE(sender.SendTo("127.0.0.1", source.LocalPort(), Pattern(1600, 2)));
    ASSERT_TRUE(sender.SendTo("127.0.0.1", source.LocalPort(), Pattern(100, 3)));
    UdpPacket packet{};
    EXPECT_EQ(ReceiveWithin(source, packet, 100), SocketSource::kTruncated);
    EXPECT_EQ(ReceiveWithin(source, packet, 2000), SocketSource::kTruncated);
    EXPECT_EQ(ReceiveWithin(source, packet, 100), 100);
    EXPECT_EQ(Received(packet), Pattern(100, 3));
    EXPECT_EQ(source.TruncatedCount(), 2u);
}

TEST(SocketSource, JoinsAGroupOnTheLoopbackInterface_AndReceivesWhatIsSentThere) {
    SocketSource source(0, "127.0.0.1", kGroup);
    const size_t mark = ScribeCapture::Mark();
    ASSERT_TRUE(source.Open());
    EXPECT_EQ(CountLines(ScribeCapture::Since(mark),
                         std::string("Recive data from multicast ip address ") + kGroup),
              1);
    UdpPeer sender;
    const Bytes sent = Pattern(80, 5);
    ASSERT_TRUE(sender.SendTo(kGroup, source.LocalPort(), sent));
    UdpPacket packet{};
    ASSERT_EQ(ReceiveWithin(source, packet), 80);
    EXPECT_EQ(Received(packet), sent);
    EXPECT_EQ(packet.port, sender.Port());
}

TEST(SocketSource, InvalidGroupText_LogsTheMulticastErrorButOpens) {
    SocketSource source(0, "127.0.0.1", "239.300.1.1");
    const size_t mark = ScribeCapture::Mark();
    EXPECT_TRUE(source.Open());
    EXPECT_EQ(CountLines(ScribeCapture::Since(mark), "Multicast IP error, set correct multicast ip "
                                                     "address or keep it empty"),
              1);
}

TEST(SocketSource, ReceivingLoop_LeavesWithin100msOfAStop) {
    SocketSource source(0, "127.0.0.1", "");
    ASSERT_TRUE(source.Open());
    std::atomic<bool> running{true};
    std::atomic<int> passes{0};
    std::thread loop([&] {
        UdpPacket packet{};
        while (running.load()) {
            source.Receive(packet, 1500, 0, 900000);
            ++passes;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the loop is in a long wait
    const Clock::time_point stop = Clock::now();
    running.store(false);
    source.AbortWaits();
    loop.join();
    EXPECT_LT(MsSince(stop), 100);

    // Waits stay short until resumed; then they last again.
    UdpPacket packet{};
    const Clock::time_point aborted = Clock::now();
    source.Receive(packet, 1500, 0, 300000);
    EXPECT_LT(MsSince(aborted), 100);
    source.ResumeWaits();
    source.Receive(packet, 1500, 0, kWaitUs);
    const Clock::time_point resumed = Clock::now();
    EXPECT_EQ(source.Receive(packet, 1500, 0, kWaitUs), 0);
    EXPECT_GE(MsSince(resumed), 45);
}

}  // namespace
