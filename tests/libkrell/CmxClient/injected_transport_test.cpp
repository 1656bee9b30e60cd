// CmxClient over a transport handed in by its owner (the in-memory transport of the CMX reply
// fuzzer): no connect thread, replies parsed as from a socket, and a reply that runs dry fails at
// once instead of after a socket time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "fuzz/memory_transport.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace krell {
namespace lidar {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kTimeoutMs = 2000;

TEST(InjectedTransport, SplitReplyBehindGarbage_GivesPayloadWithoutAnyConnect) {
    auto transport = std::make_shared<cmx_fuzz::MemoryTransport>();
    CmxClient client(transport, 1, kTimeoutMs, kTimeoutMs);
    ASSERT_TRUE(client.IsOpen());
    transport->SetReply(
        {{0x00, 0x13, kCmx1Id0}, {kCmx1Id1, kCmdGetFov, 0, 0, 0}, {0, 2, 'o'}, {'k'}});
    Bytes out;
    EXPECT_EQ(client.QueryCommand({}, out, kCmdGetFov), kCmxOk);
    EXPECT_EQ(out, (Bytes{'o', 'k'}));
}

TEST(InjectedTransport, ReplyRunningDry_FailsAtOnceWithHeaderNotRead) {
    auto transport = std::make_shared<cmx_fuzz::MemoryTransport>();
    CmxClient client(transport, 2, kTimeoutMs, kTimeoutMs);
    transport->SetReply({{kCmx2Id0, kCmx2Id1, kCmx2ProtocolByte}});
    Bytes out{0xAB};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.QueryCommand({}, out, kCmdProbeInfo), kCmxFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs / 2));
    EXPECT_EQ(client.GetLastRetCode(), kCmxHeaderNotRead);
    EXPECT_EQ(out, Bytes{0xAB});
}

TEST(InjectedTransport, ClosedTransport_IsRefusedLikeAClientThatNeverConnected) {
    auto transport = std::make_shared<cmx_fuzz::MemoryTransport>();
    transport->Close();
    CmxClient client(transport, 1, kTimeoutMs, kTimeoutMs);
    EXPECT_FALSE(client.IsOpen());
    Bytes out;
    EXPECT_EQ(client.QueryCommand({}, out, kCmdProbeInfo), kCmxFailed);
}

}  // namespace
}  // namespace lidar
}  // namespace krell
