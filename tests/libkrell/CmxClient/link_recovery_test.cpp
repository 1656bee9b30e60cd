// CmxClient when the link breaks or the sensor dawdles: a restart or a dropped connection is
// noticed and the next exchange reconnects; a reply that trickles in, or bytes that never form
// a frame, end the exchange after one receive time-out. Over TCP and TLS alike.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "tests/libkrell/CmxClient/scripted_peer.h"
#include "tests/support/cert_factory.h"
#include "tests/support/running_sim.h"
#include "tests/support/scribe_capture.h"
#include "tests/support/wait_until.h"

namespace krell {
namespace lidar {
namespace {

using sim::SimReply;
using sim::SimRequest;
using test::PeerConnection;
using test::ScribeCapture;
using test::ScriptedPeer;
using test::WaitUntil;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string& kLogPath = ScribeCapture::Path();
constexpr uint32_t kReceiveTimeoutMs = 1000;
constexpr uint8_t kCmdProbe = 0x07;
constexpr uint8_t kCmdRestart = 0x10;
constexpr size_t kRequestBytes = 8;
// What one receive time-out plus scheduling noise on a loaded machine may take.
constexpr double kOneTimeoutBoundS = 2.5;

SimReply ReplyWith(Bytes payload) {
    SimReply reply;
    reply.payload = std::move(payload);
    return reply;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class LinkRecovery : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { certs_ = new test::CertFactory(); }
    static void TearDownTestSuite() { delete certs_; }

    bool Tls() const { return GetParam(); }

    std::unique_ptr<CmxClient> ClientTo(uint16_t port, float connect_timeout_s = 3.0f) {
        return std::make_unique<CmxClient>(
            "127.0.0.1", port, false, Tls() ? 1 : 0, 1, Tls() ? certs_->ClientCertPath() : "",
            Tls() ? certs_->ClientKeyPath() : "", Tls() ? certs_->CaPath() : "", kReceiveTimeoutMs,
            kReceiveTimeoutMs, connect_timeout_s);
    }

    sim::SimServerOptions SimOptions(uint16_t port) const {
        sim::SimServerOptions options;
        options.port = port;
        options.tls = Tls();
        options.cert_path = certs_->ServerCertPath();
        options.key_path = certs_->ServerKeyPath();
        options.ca_path = certs_->CaPath();
        return options;
    }

    SslCtxPtr PeerContext() const {
        return Tls() ? test::MakeServerContext(certs_->ServerCertPath(), certs_->ServerKeyPath())
                     : nullptr;
    }

    static test::CertFactory* certs_;
};
test::CertFactory* LinkRecovery::certs_ = nullptr;

TEST_P(LinkRecovery, SensorRestart_IsNoticedAndTheNextQueryReconnects) {
    ASSERT_TRUE(certs_->Ok());
    auto device = std::make_shared<sim::SimDevice>();
    device->SetHandler(kCmdProbe, [](const SimRequest&) { return ReplyWith({'o', 'k'}); });
    device->SetHandler(kCmdRestart, [](const SimRequest&) {
        SimReply reply;
        reply.close_after_reply = true;  // the sensor reboots
        return reply;
    });
    sim::SimServer server(device);
    ASSERT_TRUE(server.Start(SimOptions(0)));
    auto client = ClientTo(server.Port());
    ASSERT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
    Bytes out;
    ASSERT_EQ(client->QueryCommand({}, out, kCmdProbe), 0);
    ASSERT_EQ(client->QueryCommand({}, out, kCmdRestart), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the sensor is back
    for (int i = 0; i < 3; ++i) {
        out.clear();
        EXPECT_EQ(client->QueryCommand({}, out, kCmdProbe), 0) << "query " << i;
        EXPECT_EQ(out, (Bytes{'o', 'k'}));
    }
    EXPECT_TRUE(client->IsOpen());
    EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST_P(LinkRecovery, SensorAway_QueriesFailWithinTheConnectTimeoutAndRecoverWhenItReturns) {
    ASSERT_TRUE(certs_->Ok());
    auto first =
        Tls() ? std::make_unique<test::RunningSim>(*certs_) : std::make_unique<test::RunningSim>();
    ASSERT_TRUE(first->Ok());
    const uint16_t port = first->Port();
    auto client = ClientTo(port, 1.0f);
    ASSERT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
    first->Server().Stop();
    Bytes out{0xEE};
    const auto start = Clock::now();
    int32_t result = 0;
    // The hang-up may show only on the first query's reply; by the second it is known.
    for (int i = 0; i < 2 && result == 0; ++i)
        result = client->QueryCommand({}, out, kCmdProbe);
    EXPECT_EQ(result, -1);
    EXPECT_LT(SecondsSince(start), kOneTimeoutBoundS + 1.0);
    EXPECT_FALSE(client->IsOpen()) << "a lost link must not be reported as open";
    EXPECT_EQ(out, Bytes{0xEE});

    auto device = std::make_shared<sim::SimDevice>();
    device->SetHandler(kCmdProbe, [](const SimRequest&) {
        return ReplyWith({'b', 'a', 'c', 'k'});
    });
    sim::SimServer again(device);
    ASSERT_TRUE(again.Start(SimOptions(port)));
    ASSERT_EQ(client->QueryCommand({}, out, kCmdProbe), 0);
    EXPECT_EQ(out, (Bytes{'b', 'a', 'c', 'k'}));
    EXPECT_TRUE(client->IsOpen());
}

TEST_P(LinkRecovery, TricklingPayload_FailsAfterOneReceiveTimeout) {
    ASSERT_TRUE(certs_->Ok());
    ScriptedPeer peer(
        [](PeerConnection& link) {
            if (!link.Handshake(3000) || !link.ReadExact(kRequestBytes, 5000)) return;
            link.Write({0x47, 0x74, kCmdProbe, 0, 0, 0, 0, 30});
            link.Trickle(Bytes(30, 0x11), 500);  // 15 s for the whole payload
        },
        PeerContext());
    ASSERT_NE(peer.Port(), 0);
    auto client = ClientTo(peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
    Bytes out;
    const auto start = Clock::now();
    EXPECT_EQ(client->QueryCommand({}, out, kCmdProbe), -1);
    EXPECT_LT(SecondsSince(start), kOneTimeoutBoundS);
    EXPECT_EQ(client->GetLastRetCode(), -3);
}

TEST_P(LinkRecovery, BytesThatNeverFormAFrame_FailAfterOneReceiveTimeout) {
    ASSERT_TRUE(certs_->Ok());
    ScriptedPeer peer(
        [](PeerConnection& link) {
            if (!link.Handshake(3000) || !link.ReadExact(kRequestBytes, 5000)) return;
            link.Trickle(Bytes(200, 0xA5), 100);  // 20 s of noise
        },
        PeerContext());
    ASSERT_NE(peer.Port(), 0);
    auto client = ClientTo(peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
    Bytes out;
    const auto start = Clock::now();
    EXPECT_EQ(client->QueryCommand({}, out, kCmdProbe), -1);
    EXPECT_LT(SecondsSince(start), kOneTimeoutBoundS);
    EXPECT_EQ(client->GetLastRetCode(), -2);
}

// Disconnecting from a sensor that went silent must not wait out the receive time-out: Abort from
// another thread ends the exchange in flight, and the client never reconnects afterwards.
TEST_P(LinkRecovery, Abort_EndsTheExchangeInFlightAtOnceAndForGood) {
    ASSERT_TRUE(certs_->Ok());
    ScriptedPeer peer(
        [](PeerConnection& link) {
            if (!link.Handshake(3000) || !link.ReadExact(kRequestBytes, 5000)) return;
            link.Sleep(20000);  // silent
        },
        PeerContext());
    ASSERT_NE(peer.Port(), 0);
    auto client = std::make_unique<CmxClient>(
        "127.0.0.1", peer.Port(), false, Tls() ? 1 : 0, 1, Tls() ? certs_->ClientCertPath() : "",
        Tls() ? certs_->ClientKeyPath() : "", Tls() ? certs_->CaPath() : "", 10000, 10000, 3.0f);
    ASSERT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
    int32_t result = 0;
    std::thread query([&] {
        Bytes out;
        result = client->QueryCommand({}, out, kCmdProbe);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    client->Abort();
    query.join();
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_EQ(result, -1);
    Bytes out;
    const auto again = Clock::now();
    EXPECT_EQ(client->QueryCommand({}, out, kCmdProbe), -1);
    EXPECT_LT(SecondsSince(again), 0.5);
    EXPECT_FALSE(client->IsOpen());
    EXPECT_EQ(peer.Connections(), 1) << "the client reconnected after Abort";
}

INSTANTIATE_TEST_SUITE_P(BothLinks, LinkRecovery, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Tls" : "Tcp");
                         });

}  // namespace
}  // namespace lidar
}  // namespace krell
