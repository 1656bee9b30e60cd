// TcpClient and TcpSslClient against the in-process virtual sensor and unanswering ports.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/tcp_client.h"
#include "libkrell/CmxClient/tcp_ssl_client.h"
#include "tests/support/cert_factory.h"
#include "tests/support/full_backlog_listener.h"
#include "tests/support/running_sim.h"
#include "tests/support/scribe_capture.h"

namespace krell {
namespace lidar {
namespace {

using test::ScribeCapture;
using Clock = std::chrono::steady_clock;

const std::string& kLogPath = ScribeCapture::Path();
const uint8_t kProbeFrame[] = {0x47, 0x74, 0x07, 0, 0, 0, 0, 0};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits (bounded) until `predicate` holds.
template <typename Predicate>
bool Eventually(Predicate predicate) {
    for (int i = 0; i < 200 && !predicate(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return predicate();
}

// A loopback port with nothing listening (bound once, then released).
uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

TEST(TcpClient, UnreachablePorts_FailWithinTheirBoundsAndStayClosed) {
    TcpClient client;
    auto start = Clock::now();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", ClosedPort(), false, "", "", "", 5));
    EXPECT_LT(SecondsSince(start), 3.0) << "a refused connect must not wait out the window";
    test::FullBacklogListener silent;
    ASSERT_NE(silent.Port(), 0);
    start = Clock::now();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", silent.Port(), false, "", "", "", 1));
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_FALSE(client.IsOpened());
    const size_t mark = ScribeCapture::Mark();
    EXPECT_FALSE(client.Open("999.1.1.1", 1, false, "", "", ""));
    EXPECT_NE(ScribeCapture::Since(mark).find("Open inet_pton error:999.1.1.1"), std::string::npos);
}

TEST(TcpClient, SameAddressTwice_KeepsTheConnectionAndOtherPortReconnects) {
    test::RunningSim first;
    test::RunningSim second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    TcpClient client;
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", first.Port(), false, "", "", "", 1));
    ASSERT_TRUE(client.Open("127.0.0.1", first.Port(), false, "", "", ""));
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", first.Port(), false, "", "", "", 1));
    EXPECT_TRUE(Eventually([&] { return first.Server().ConnectionCount() == 1; }));
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", second.Port(), false, "", "", "", 1));
    EXPECT_TRUE(Eventually([&] { return second.Server().ConnectionCount() == 1; }));
    EXPECT_EQ(first.Server().ConnectionCount(), 1u);
}

TEST(TcpClient, LocalPortInUse_LogsAndConnectsFromAnotherPort) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    socklen_t len = sizeof(addr);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);
    const size_t mark = ScribeCapture::Mark();
    TcpClient client;
    EXPECT_TRUE(
        client.TryOpen(ntohs(addr.sin_port), "127.0.0.1", sim.Port(), false, "", "", "", 1));
    EXPECT_NE(ScribeCapture::Since(mark).find("Failed to bind local port"), std::string::npos);
    ::close(blocker);
}

TEST(TcpClient, ReceiveModesAndPeerClose_GiveDocumentedResultsAndTheNextUseReopens) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    TcpClient client;
    size_t mark = ScribeCapture::Mark();
    EXPECT_EQ(client.SetTimeout(100, 100), -1);
    EXPECT_NE(ScribeCapture::Since(mark).find("TcpClient not open"), std::string::npos);
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, "", "", "", 1));
    ASSERT_EQ(client.SetTimeout(500, 500), 0);
    uint8_t buf[64];
    mark = ScribeCapture::Mark();
    EXPECT_EQ(client.Receive(buf, sizeof(buf), kReceiveNoWait), -1);
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    EXPECT_EQ(ScribeCapture::Since(mark).find("Receive failed"), std::string::npos);
    EXPECT_TRUE(client.IsOpened()) << "nothing waiting is no lost link";
    ASSERT_EQ(client.Send(kProbeFrame, sizeof(kProbeFrame), 0), 8);
    EXPECT_GE(client.Receive(buf, 8, 0), 2);
    ASSERT_TRUE(Eventually([&] { return sim.Server().ConnectionCount() == 1; }));
    sim.Server().DropConnections();
    mark = ScribeCapture::Mark();
    int32_t got = 1;
    for (int i = 0; i < 20 && got > 0; ++i)
        got = client.Receive(buf, sizeof(buf), 0);
    EXPECT_EQ(got, 0);
    EXPECT_NE(ScribeCapture::Since(mark).find("Connection closed by peer"), std::string::npos);
    EXPECT_FALSE(client.IsOpened()) << "a hung-up peer must not leave the transport 'open'";
    // The next use reopens to the stored address, and the link works again.
    ASSERT_EQ(client.Send(kProbeFrame, sizeof(kProbeFrame), 0), 8);
    EXPECT_TRUE(client.IsOpened());
    EXPECT_TRUE(Eventually([&] { return sim.Server().ConnectionCount() == 2; }));
    ASSERT_EQ(client.Receive(buf, 8, 0), 8);
    EXPECT_EQ(buf[2], 0x07);
}

TEST(TcpClient, SendToAResetPeer_ClosesWithoutSigpipeAndReopens) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    TcpClient client;
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, "", "", "", 1));
    ASSERT_EQ(client.SetTimeout(500, 500), 0);
    ASSERT_TRUE(Eventually([&] { return sim.Server().ConnectionCount() == 1; }));
    sim.Server().DropConnections();
    // Writing into the dropped connection must give an error result (EPIPE or ECONNRESET, not
    // SIGPIPE) and mark the transport closed, never report the bytes as sent for ever.
    int32_t sent = 0;
    for (int i = 0; i < 20 && sent >= 0; ++i) {
        sent = client.Send(kProbeFrame, 8, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(sent, -1);
    EXPECT_FALSE(client.IsOpened());
    ASSERT_EQ(client.Send(kProbeFrame, 8, 0), 8);
    EXPECT_TRUE(client.IsOpened());
    uint8_t buf[8];
    EXPECT_EQ(client.Receive(buf, 8, 0), 8);
}

class TlsTransport : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certs_ = new test::CertFactory(); }
    static void TearDownTestSuite() { delete certs_; }
    static test::CertFactory* certs_;
};
test::CertFactory* TlsTransport::certs_ = nullptr;

TEST_F(TlsTransport, TrustedPeer_ConnectsAndReadsAllOrNothing) {
    ASSERT_TRUE(certs_->Ok());
    test::RunningSim sim(*certs_);
    ASSERT_TRUE(sim.Ok());
    TcpSslClient client;
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, certs_->ClientCertPath().c_str(),
                               certs_->ClientKeyPath().c_str(), certs_->CaPath().c_str(), 1));
    ASSERT_EQ(client.SetTimeout(300, 300), 0);
    uint8_t buf[64];
    EXPECT_EQ(client.Receive(buf, 8, kReceiveNoWait), -1);
    ASSERT_EQ(client.Send(kProbeFrame, sizeof(kProbeFrame), 0), 8);
    ASSERT_EQ(client.Receive(buf, 8, 0), 8);
    EXPECT_EQ(buf[0], 0x47);
    EXPECT_EQ(buf[2], 0x07);
    // The probe reply has a payload of 16 bytes; asking for more must fail as a whole.
    EXPECT_EQ(client.Receive(buf, 40, 0), -1);
}

TEST_F(TlsTransport, UntrustedOrMissingFiles_AreRefusedWithTheirLines) {
    ASSERT_TRUE(certs_->Ok());
    test::RunningSim sim(*certs_);
    ASSERT_TRUE(sim.Ok());
    TcpSslClient client;
    size_t mark = ScribeCapture::Mark();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, certs_->ClientCertPath().c_str(),
                                certs_->ClientKeyPath().c_str(), certs_->OtherCaPath().c_str(), 1));
    EXPECT_FALSE(client.IsOpened());
    std::string log = ScribeCapture::Since(mark);
    EXPECT_TRUE(log.find("verify ssl failed") != std::string::npos ||
                log.find("connect ssl failed") != std::string::npos)
        << log;
    mark = ScribeCapture::Mark();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, "", "", "", 1));
    EXPECT_NE(ScribeCapture::Since(mark).find("load ca failed,please check ca file path"),
              std::string::npos);
    mark = ScribeCapture::Mark();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, "/nonexistent.pem",
                                certs_->ClientKeyPath().c_str(), certs_->CaPath().c_str(), 1));
    EXPECT_NE(ScribeCapture::Since(mark).find("load cert file failed"), std::string::npos);
}

TEST_F(TlsTransport, PeerThatNeverHandshakes_GivesUpInsteadOfHanging) {
    ASSERT_TRUE(certs_->Ok());
    test::RunningSim plain;  // speaks CMX without TLS, so it never answers the ClientHello
    ASSERT_TRUE(plain.Ok());
    TcpSslClient client;
    const auto start = Clock::now();
    const size_t mark = ScribeCapture::Mark();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", plain.Port(), false,
                                certs_->ClientCertPath().c_str(), certs_->ClientKeyPath().c_str(),
                                certs_->CaPath().c_str(), 1));
    EXPECT_LT(SecondsSince(start), 1.8) << "connect and handshake share one window";
    EXPECT_NE(ScribeCapture::Since(mark).find("connect ssl failed"), std::string::npos);
}

TEST_F(TlsTransport, PeerHangsUpWhileIdle_IsNoticedAndTheNextUseReopens) {
    ASSERT_TRUE(certs_->Ok());
    test::RunningSim sim(*certs_);
    ASSERT_TRUE(sim.Ok());
    TcpSslClient client;
    ASSERT_TRUE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, certs_->ClientCertPath().c_str(),
                               certs_->ClientKeyPath().c_str(), certs_->CaPath().c_str(), 1));
    ASSERT_EQ(client.SetTimeout(300, 300), 0);
    ASSERT_TRUE(Eventually([&] { return sim.Server().ConnectionCount() == 1; }));
    uint8_t buf[24];
    EXPECT_EQ(client.Receive(buf, 8, kReceiveNoWait), -1);
    EXPECT_TRUE(client.IsOpened()) << "an idle, standing link stays open";
    sim.Server().DropConnections();
    // The no-wait read that precedes every exchange is where an idle hang-up shows.
    EXPECT_TRUE(Eventually([&] {
        client.Receive(buf, 8, kReceiveNoWait);
        return !client.IsOpened();
    }));
    ASSERT_EQ(client.Send(kProbeFrame, sizeof(kProbeFrame), 0), 8);
    EXPECT_TRUE(client.IsOpened());
    ASSERT_EQ(client.Receive(buf, 24, 0), 24);
    EXPECT_EQ(buf[2], 0x07);
    EXPECT_TRUE(Eventually([&] { return sim.Server().ConnectionCount() == 2; }));
}

}  // namespace
}  // namespace lidar
}  // namespace krell
