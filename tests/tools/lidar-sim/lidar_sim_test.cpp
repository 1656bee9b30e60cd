// The virtual sensor: its handler registry and built-in commands, and its server seen from a raw
// socket (framing, resynchronisation, fault switches, shutdown).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "tests/support/running_sim.h"
#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/sim_device.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

SimReply Ask(SimDevice& device, uint8_t cmd, Bytes payload = {}) {
    SimRequest request;
    request.cmd = cmd;
    request.payload = std::move(payload);
    return device.Handle(request);
}

TEST(SimDevice, Registry_DefaultStoresAndHandlersOverrideUntilRemoved) {
    SimDevice device;
    EXPECT_TRUE(Ask(device, 0x30).payload.empty());
    EXPECT_EQ(Ask(device, 0x30, {1, 2}).payload, (Bytes{1, 2}));
    EXPECT_EQ(Ask(device, 0x30).payload, (Bytes{1, 2}));
    // A handler may use the store itself (it runs without the device lock).
    device.SetHandler(0x30, [&device](const SimRequest&) {
        device.Store(0x1000, {9});
        SimReply reply;
        reply.ret_code = 4;
        return reply;
    });
    EXPECT_EQ(Ask(device, 0x30).ret_code, 4);
    EXPECT_EQ(device.Stored(0x1000), Bytes{9});
    device.RemoveHandler(0x30);
    EXPECT_EQ(Ask(device, 0x30).payload, (Bytes{1, 2}));
}

TEST(SimDevice, FieldOfViewWrites_AreValidatedBeforeTheyAreKept) {
    SimDevice device;
    RegisterBuiltinHandlers(device, "Corvel");
    const Bytes initial = Ask(device, kCmdGetFov).payload;
    ASSERT_EQ(initial.size(), 22u);
    for (const Bytes& bad :
         {Bytes{}, Bytes{0, 1, 2}, Bytes{3, 6}, Bytes{3, 2, 0, 1, 0, 2}, Bytes{7, 0, 0, 0, 0}}) {
        EXPECT_EQ(Ask(device, kCmdSetFov, bad).ret_code, kRetBadParameter) << bad.size();
    }
    EXPECT_EQ(Ask(device, kCmdGetFov).payload, initial);
    ASSERT_EQ(Ask(device, kCmdSetFov, {3, 1, 0, 10, 0, 20}).ret_code, 0);
    Bytes expected(22, 0);
    expected[0] = 3;
    expected[1] = 1;
    expected[3] = 10;
    expected[5] = 20;
    EXPECT_EQ(Ask(device, kCmdGetFov).payload, expected);
}

// A raw loopback client with a receive time-out, so no read can hang.
class RawClient {
public:
    explicit RawClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval tv{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool Connected() const { return connected_; }
    void Write(const Bytes& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Reads up to `size` bytes; fewer when the peer closes or goes quiet.
    Bytes Read(size_t size) {
        Bytes out(size);
        size_t got = 0;
        while (got < size) {
            const ssize_t n = ::recv(fd_, out.data() + got, size - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        out.resize(got);
        return out;
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST(SimServer, Framing_SkipsStrayBytesAndAnswersEachVersionInKind) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    RawClient client(sim.Port());
    ASSERT_TRUE(client.Connected());
    client.Write({0x00, 0x47, 0x13, 0x47, 0x74, 0x41, 0x00, 0, 0, 0, 2, 0xAB, 0xCD});
    EXPECT_EQ(client.Read(10), (Bytes{0x47, 0x74, 0x41, 0, 0, 0, 0, 2, 0xAB, 0xCD}));
    client.Write({0x57, 0x75, 0x01, 0x41, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(client.Read(14), (Bytes{0x57, 0x75, 0x01, 0x41, 0, 0, 0, 0, 0, 0, 0, 2, 0xAB, 0xCD}));
    EXPECT_EQ(sim.Server().RequestCount(), 2u);
}

TEST(SimServer, OnceFaults_ApplyToOneReplyOnly) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    SimFaults faults;
    faults.garbage_bytes = 2;
    faults.return_code = 9;
    faults.wrong_command = true;
    faults.once = true;
    sim.Server().SetFaults(faults);
    RawClient client(sim.Port());
    const Bytes probe{0x47, 0x74, 0x30, 0, 0, 0, 0, 0};
    client.Write(probe);
    EXPECT_EQ(client.Read(10), (Bytes{0xA5, 0xA5, 0x47, 0x74, 0x30 ^ 0x80, 9, 0, 0, 0, 0}));
    EXPECT_TRUE(sim.Server().Faults().None());
    client.Write(probe);
    EXPECT_EQ(client.Read(8), probe);
}

TEST(SimServer, HostileOrClosingExchanges_EndOnlyThatConnection) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    RawClient hostile(sim.Port());
    hostile.Write({0x47, 0x74, 0x30, 0, 0x7F, 0xFF, 0xFF, 0xFF});  // 2 GiB announced
    EXPECT_TRUE(hostile.Read(1).empty()) << "the connection should be dropped";
    SimFaults faults;
    faults.close_after_header = true;
    faults.once = true;
    sim.Server().SetFaults(faults);
    RawClient cut(sim.Port());
    cut.Write({0x47, 0x74, 0x07, 0, 0, 0, 0, 0});
    EXPECT_EQ(cut.Read(100).size(), 8u);
    RawClient healthy(sim.Port());
    healthy.Write({0x47, 0x74, 0x07, 0, 0, 0, 0, 0});
    EXPECT_EQ(healthy.Read(8).size(), 8u);
}

TEST(SimServer, StopWithIdleAndDelayedClients_ReturnsPromptly) {
    auto sim = std::make_unique<test::RunningSim>();
    ASSERT_TRUE(sim->Ok());
    SimFaults faults;
    faults.reply_delay_ms = 60000;
    sim->Server().SetFaults(faults);
    RawClient idle(sim->Port());
    RawClient waiting(sim->Port());
    waiting.Write({0x47, 0x74, 0x07, 0, 0, 0, 0, 0});
    const auto start = std::chrono::steady_clock::now();
    sim.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(waiting.Read(1).empty());
}

}  // namespace
}  // namespace sim
}  // namespace lidar
}  // namespace krell
