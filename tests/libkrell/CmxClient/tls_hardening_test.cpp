// TcpSslClient against peers that are not quite the sensor: silent or trickling handshakes, a
// certificate for another address, old protocols and suites without forward secrecy, and a
// password-protected client key. Each refusal must come in time and say why, once.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/CmxClient/tcp_ssl_client.h"
#include "tests/libkrell/CmxClient/scripted_peer.h"
#include "tests/support/cert_factory.h"
#include "tests/support/running_sim.h"
#include "tests/support/scribe_capture.h"

namespace krell {
namespace lidar {
namespace {

using test::PeerConnection;
using test::ScribeCapture;
using test::ScriptedPeer;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string& kLogPath = ScribeCapture::Path();
constexpr uint32_t kWindowS = 1;
// One connect window plus scheduling noise on a loaded machine.
constexpr double kWindowBoundS = 1.8;
// The start of a TLS handshake record announcing 16 KiB that never come.
const Bytes kRecordStart{0x16, 0x03, 0x03, 0x40, 0x00};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

void HandshakeAndHold(PeerConnection& link) {
    if (link.Handshake(3000)) link.Sleep(3000);
}

class TlsHardening : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certs_ = new test::CertFactory();
        CertOptions stranger;
        stranger.extensions =
            "subjectAltName=IP:10.20.30.40,DNS:other.example\nextendedKeyUsage=serverAuth\n";
        CertOptions name_only;
        name_only.extensions = "subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n";
        CertOptions rsa;
        rsa.rsa_key = true;
        CertOptions expired;
        expired.days = -1;
        CertOptions locked;
        locked.extensions = "extendedKeyUsage=clientAuth\n";
        locked.password = "sesame";
        extra_ok_ = certs_->MakeCert("stranger", stranger) &&
                    certs_->MakeCert("name-only", name_only) && certs_->MakeCert("rsa", rsa) &&
                    certs_->MakeCert("expired", expired) && certs_->MakeCert("locked", locked);
    }
    static void TearDownTestSuite() { delete certs_; }

    void SetUp() override { ASSERT_TRUE(certs_->Ok() && extra_ok_); }

    // One TryOpen with the factory's client certificate and CA.
    static bool Connect(TcpSslClient& client, uint16_t port) {
        return client.TryOpen(0, "127.0.0.1", port, false, certs_->ClientCertPath().c_str(),
                              certs_->ClientKeyPath().c_str(), certs_->CaPath().c_str(), kWindowS);
    }

    static SslCtxPtr ServerContext(const std::string& name, int max_version = 0,
                                   const std::string& ciphers = "") {
        return test::MakeServerContext(certs_->CertPath(name), certs_->KeyPath(name), 0,
                                       max_version, ciphers);
    }

    using CertOptions = test::CertOptions;
    static test::CertFactory* certs_;
    static bool extra_ok_;
};
test::CertFactory* TlsHardening::certs_ = nullptr;
bool TlsHardening::extra_ok_ = false;

TEST_F(TlsHardening, SilentOrTricklingHandshake_EndsWithinTheConnectWindow) {
    const std::vector<ScriptedPeer::Script> peers = {
        [](PeerConnection& link) { link.Sleep(8000); },
        [](PeerConnection& link) {
            Bytes bytes = kRecordStart;
            bytes.resize(60, 0x01);
            link.Trickle(bytes, 500);  // 30 s at one byte per 0.5 s
        },
    };
    for (size_t i = 0; i < peers.size(); ++i) {
        ScriptedPeer peer(peers[i]);
        ASSERT_NE(peer.Port(), 0);
        TcpSslClient client;
        const size_t mark = ScribeCapture::Mark();
        const auto start = Clock::now();
        EXPECT_FALSE(Connect(client, peer.Port())) << "peer " << i;
        EXPECT_LT(SecondsSince(start), kWindowBoundS) << "peer " << i;
        EXPECT_FALSE(client.IsOpened());
        const std::string log = ScribeCapture::Since(mark);
        EXPECT_NE(log.find("connect ssl failed: no complete handshake"), std::string::npos) << log;
    }
}

TEST_F(TlsHardening, ClientDestroyedDuringASlowHandshake_WaitsAtMostOneWindow) {
    ScriptedPeer peer([](PeerConnection& link) {
        Bytes bytes = kRecordStart;
        bytes.resize(60, 0x01);
        link.Trickle(bytes, 500);
    });
    ASSERT_NE(peer.Port(), 0);
    auto client =
        std::make_unique<CmxClient>("127.0.0.1", peer.Port(), false, 1, 1, certs_->ClientCertPath(),
                                    certs_->ClientKeyPath(), certs_->CaPath(), 1000, 1000, -1.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // inside the handshake
    const auto start = Clock::now();
    client.reset();
    EXPECT_LT(SecondsSince(start), kWindowBoundS);
}

TEST_F(TlsHardening, CertificateForAnotherAddress_IsRefusedNamingBoth) {
    struct Case {
        std::string cert;
        std::string named;
    };
    for (const Case& c : {Case{"stranger", "IP:10.20.30.40, DNS:other.example"},
                          Case{"name-only", "DNS:localhost"}}) {
        ScriptedPeer peer(HandshakeAndHold, ServerContext(c.cert));
        ASSERT_NE(peer.Port(), 0);
        TcpSslClient client;
        const size_t mark = ScribeCapture::Mark();
        EXPECT_FALSE(Connect(client, peer.Port())) << c.cert << " must not pass for 127.0.0.1";
        const std::string log = ScribeCapture::Since(mark);
        EXPECT_NE(log.find("connect ssl failed: IP address mismatch: connected to 127.0.0.1, "
                           "certificate is for " +
                           c.named),
                  std::string::npos)
            << log;
    }
    // The certificate that does name 127.0.0.1 passes, through the same peer code.
    ScriptedPeer right(HandshakeAndHold, ServerContext("server"));
    TcpSslClient client;
    EXPECT_TRUE(Connect(client, right.Port()));
}

TEST_F(TlsHardening, OldProtocolOrNoForwardSecrecy_IsRefused) {
    struct Case {
        const char* what;
        std::string cert;
        int max_version;
        std::string ciphers;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"TLS 1.1", "server", TLS1_1_VERSION, "", false},
        {"TLS 1.0", "server", TLS1_VERSION, "", false},
        {"RSA key exchange", "rsa", TLS1_2_VERSION, "AES128-GCM-SHA256:AES256-SHA", false},
        {"ECDHE on TLS 1.2", "server", TLS1_2_VERSION, "ECDHE-ECDSA-AES128-GCM-SHA256", true},
        {"TLS 1.3", "server", 0, "", true},
    };
    for (const Case& c : cases) {
        SslCtxPtr ctx = ServerContext(c.cert, c.max_version, c.ciphers);
        ASSERT_TRUE(ctx) << c.what;
        ScriptedPeer peer(HandshakeAndHold, std::move(ctx));
        TcpSslClient client;
        const size_t mark = ScribeCapture::Mark();
        EXPECT_EQ(Connect(client, peer.Port()), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_NE(ScribeCapture::Since(mark).find("connect ssl failed: "), std::string::npos)
                << c.what;
        }
    }
}

TEST_F(TlsHardening, PasswordProtectedKey_IsRefusedWithoutPromptingNamingTheFile) {
    test::RunningSim sim(*certs_);
    ASSERT_TRUE(sim.Ok());
    TcpSslClient client;
    const size_t mark = ScribeCapture::Mark();
    const auto start = Clock::now();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", sim.Port(), false,
                                certs_->CertPath("locked").c_str(),
                                certs_->KeyPath("locked").c_str(), certs_->CaPath().c_str(), 1));
    EXPECT_LT(SecondsSince(start), kWindowBoundS);
    const std::string log = ScribeCapture::Since(mark);
    EXPECT_NE(log.find("load private key file failed,please check private key file path: " +
                       certs_->KeyPath("locked") + ": the key is protected by a password"),
              std::string::npos)
        << log;
    EXPECT_EQ(sim.Server().ConnectionCount(), 0u) << "nothing is sent without a usable key";
}

TEST_F(TlsHardening, HandshakeFailures_SayWhyOnceAndLeaveNoErrorsForLaterLines) {
    test::RunningSim sim(*certs_);
    ASSERT_TRUE(sim.Ok());
    TcpSslClient client;
    size_t mark = ScribeCapture::Mark();
    EXPECT_FALSE(client.TryOpen(0, "127.0.0.1", sim.Port(), false, certs_->ClientCertPath().c_str(),
                                certs_->ClientKeyPath().c_str(), certs_->OtherCaPath().c_str(),
                                kWindowS));
    std::string log = ScribeCapture::Since(mark);
    // The sensor's chain ends in a CA that is not ours; OpenSSL names it one of two ways.
    const std::string untrusted =
        log.find("self-signed certificate in certificate chain") != std::string::npos
            ? "self-signed certificate in certificate chain"
            : "unable to get local issuer certificate";
    EXPECT_EQ(Occurrences(log, "connect ssl failed: " + untrusted), 1u) << log;
    EXPECT_EQ(Occurrences(log, untrusted), 1u) << "the reason is told once: " << log;

    ScriptedPeer expired(HandshakeAndHold, ServerContext("expired"));
    mark = ScribeCapture::Mark();
    EXPECT_FALSE(Connect(client, expired.Port()));
    log = ScribeCapture::Since(mark);
    EXPECT_NE(log.find("connect ssl failed: certificate has expired"), std::string::npos) << log;
    EXPECT_EQ(log.find(untrusted), std::string::npos) << "an earlier failure leaked into: " << log;

    // A good connection after the failures: its send failure names only its own cause.
    ASSERT_TRUE(Connect(client, sim.Port()));
    ASSERT_EQ(client.SetTimeout(300, 300), 0);
    sim.Server().Stop();
    mark = ScribeCapture::Mark();
    uint8_t buf[8];
    EXPECT_EQ(client.Receive(buf, sizeof(buf), 0), -1);
    EXPECT_FALSE(client.IsOpened()) << "a session the sensor ended is closed";
    log = ScribeCapture::Since(mark);
    EXPECT_EQ(log.find("expired"), std::string::npos) << log;
    EXPECT_EQ(log.find(untrusted), std::string::npos) << log;
}

}  // namespace
}  // namespace lidar
}  // namespace krell
