// CmxClient against the in-process virtual sensor: every exchange path over TCP and TLS, CMX 1.0
// and 2.0, and every fault switch of the sensor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "tests/support/cert_factory.h"
#include "tests/support/full_backlog_listener.h"
#include "tests/support/running_sim.h"
#include "tests/support/scribe_capture.h"
#include "tests/support/wait_until.h"

namespace krell {
namespace lidar {
namespace {

using sim::SimFaults;
using sim::SimReply;
using sim::SimRequest;
using test::ScribeCapture;
using test::WaitUntil;
using Bytes = std::vector<uint8_t>;

const std::string& kLogPath = ScribeCapture::Path();
constexpr uint32_t kShortTimeoutMs = 300;
constexpr uint8_t kStoreCmd = 0x41;

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Records the byte-flow lines handed to the callback.
struct ByteFlow {
    std::mutex mutex;
    std::vector<std::string> lines;
    CmxClient::ByteFlowCallback Callback() {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        };
    }
    std::string Last() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.empty() ? "" : lines.back();
    }
};

struct LinkParam {
    bool tls;
    uint8_t version;
};

void PrintTo(const LinkParam& param, std::ostream* os) {
    *os << (param.tls ? "TLS" : "TCP") << " CMX " << static_cast<int>(param.version) << ".0";
}

std::string LinkName(const ::testing::TestParamInfo<LinkParam>& info) {
    return std::string(info.param.tls ? "Tls" : "Tcp") + "Cmx" + std::to_string(info.param.version);
}

class CmxLink : public ::testing::TestWithParam<LinkParam> {
protected:
    static void SetUpTestSuite() { certs_ = new test::CertFactory(); }
    static void TearDownTestSuite() { delete certs_; }

    void SetUp() override {
        sim_ = GetParam().tls ? std::make_unique<test::RunningSim>(*certs_)
                              : std::make_unique<test::RunningSim>();
        ASSERT_TRUE(sim_->Ok());
    }

    std::unique_ptr<CmxClient> Connect(uint32_t timeout_ms = kShortTimeoutMs) {
        const bool tls = GetParam().tls;
        auto client = std::make_unique<CmxClient>(
            "127.0.0.1", sim_->Port(), false, tls ? 1 : 0, GetParam().version,
            tls ? certs_->ClientCertPath() : "", tls ? certs_->ClientKeyPath() : "",
            tls ? certs_->CaPath() : "", timeout_ms, timeout_ms, 3.0f);
        EXPECT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
        return client;
    }

    // Sets one fault switch for the next reply only.
    template <typename Field, typename Value>
    void Fault(Field SimFaults::*field, Value value) {
        SimFaults faults;
        faults.*field = value;
        faults.once = true;
        sim_->Server().SetFaults(faults);
    }

    size_t HeaderSize() const { return GetParam().version == 1 ? 8 : 12; }

    static test::CertFactory* certs_;
    std::unique_ptr<test::RunningSim> sim_;
};
test::CertFactory* CmxLink::certs_ = nullptr;

TEST_P(CmxLink, ProbeStoreAndFieldOfView_RoundTrip) {
    auto client = Connect();
    ByteFlow flow;
    client->SetByteFlowCallback(flow.Callback());
    Bytes out;
    ASSERT_EQ(client->QueryCommand({}, out, 0x07, true), 0);
    ASSERT_EQ(out.size(), HeaderSize() + 16);
    EXPECT_EQ(std::string(out.begin() + HeaderSize(), out.end()), "KRELL-SIM Corvel");
    EXPECT_EQ(flow.lines.front(), GetParam().version == 1
                                      ? "SEND: 47 74 07 00 00 00 00 00 "
                                      : "SEND: 57 75 01 07 00 00 00 00 00 00 00 00 ");
    ASSERT_EQ(client->QueryCommand(FromText("abc"), out, kStoreCmd), 0);
    EXPECT_EQ(flow.Last(), "RECV: 61 62 63 ");
    out.clear();
    ASSERT_EQ(client->QueryCommand({}, out, kStoreCmd), 0);
    EXPECT_EQ(out, FromText("abc"));

    FovTable table{};
    uint8_t channels = 0, mode = 9;
    ASSERT_EQ(client->GetFov(table, channels, mode), 0);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(channels, 5);
    EXPECT_FLOAT_EQ(table[1], 72.0f);
    EXPECT_FLOAT_EQ(table[9], 360.0f);
    const FovTable wanted{12.3f, 80.1f,  150.0f, 220.7f, 290.0f,
                          45.6f, 140.0f, 210.9f, 280.0f, 359.9f};
    ASSERT_EQ(client->SetFov(wanted, 5, 3), 0);
    ASSERT_EQ(client->GetFov(table, channels, mode), 0);
    for (size_t i = 0; i < kFovTableSize; ++i)
        EXPECT_NEAR(table[i], wanted[i], 1e-3) << i;
    ASSERT_EQ(client->SetFov(wanted, 1, 0), 0);
    ASSERT_EQ(client->GetFov(table, channels, mode), 0);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(channels, 1);
    EXPECT_NEAR(table[0], 12.3f, 1e-3);
    EXPECT_NEAR(table[5], 45.6f, 1e-3);
}

TEST_P(CmxLink, GarbageBeforeReply_IsSkippedWhereverTheFrameStarts) {
    auto client = Connect();
    for (uint32_t garbage : {1u, 3u, 7u, 11u, 40u}) {
        Fault(&SimFaults::garbage_bytes, garbage);
        Bytes out;
        EXPECT_EQ(client->QueryCommand({}, out, 0x07), 0) << garbage << " stray bytes";
        EXPECT_EQ(std::string(out.begin(), out.end()), "KRELL-SIM Corvel") << garbage;
    }
}

TEST_P(CmxLink, RejectedHeaders_FailWithTheirCodesAndTheLinkRecovers) {
    auto client = Connect();
    ByteFlow flow;
    client->SetByteFlowCallback(flow.Callback());
    size_t mark = ScribeCapture::Mark();
    Fault(&SimFaults::wrong_command, true);
    Bytes out{0xEE};
    EXPECT_EQ(client->QueryCommand({}, out, 0x07, true), -1);
    EXPECT_EQ(client->GetLastRetCode(), 0);
    ASSERT_EQ(out.size(), HeaderSize());
    EXPECT_EQ(out[GetParam().version == 1 ? 2 : 3], 0x07 ^ 0x80);
    EXPECT_NE(
        ScribeCapture::Since(mark).find(
            GetParam().version == 1 ? "QueryCommand, RspCode invalid:0, return_cmd:135, cmd:7"
                                    : "QueryCommand,RspCode invalid:0, return_cmd:135, cmd:7"),
        std::string::npos);
    Fault(&SimFaults::return_code, 5);
    out = {0xEE};
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), -1);
    EXPECT_EQ(client->GetLastRetCode(), 5);
    EXPECT_EQ(out, Bytes{0xEE});
    EXPECT_EQ(flow.Last(), "RECV: ret_code is 5");
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), 0);
    EXPECT_EQ(client->GetLastRetCode(), 0);
}

TEST_P(CmxLink, LostOrCutReplies_FailWithoutTouchingTheOutput) {
    auto client = Connect();
    ByteFlow flow;
    client->SetByteFlowCallback(flow.Callback());
    Bytes out{0xEE};
    Fault(&SimFaults::no_reply, true);
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), -1);
    EXPECT_EQ(client->GetLastRetCode(), -2);
    EXPECT_EQ(flow.Last(), "RECV: ret_code is -2");
    Fault(&SimFaults::truncate_payload_bytes, 4);
    EXPECT_EQ(client->QueryCommand({}, out, 0x07, true), -1);
    EXPECT_EQ(client->GetLastRetCode(), -3);
    EXPECT_EQ(out, Bytes{0xEE});
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), 0);
    Fault(&SimFaults::close_after_header, true);
    out = {0xEE};
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), -1);
    EXPECT_EQ(client->GetLastRetCode(), -3);
    EXPECT_EQ(out, Bytes{0xEE});
    // The sensor hung up: the client says so, and the next exchange runs on a new connection.
    EXPECT_FALSE(client->IsOpen());
    ASSERT_EQ(client->QueryCommand({}, out, 0x07), 0);
    EXPECT_EQ(std::string(out.begin(), out.end()), "KRELL-SIM Corvel");
    EXPECT_TRUE(client->IsOpen());
    EXPECT_TRUE(WaitUntil([&] { return sim_->Server().ConnectionCount() == 2; }));
}

TEST_P(CmxLink, LateReplyOfAFailedExchange_IsNotTakenForTheNextOne) {
    auto client = Connect(200);
    Fault(&SimFaults::reply_delay_ms, 500);
    Bytes out;
    EXPECT_EQ(client->QueryCommand(FromText("first"), out, kStoreCmd), -1);
    EXPECT_EQ(client->GetLastRetCode(), -2);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the late reply lands
    ASSERT_EQ(client->QueryCommand(FromText("second"), out, kStoreCmd), 0);
    EXPECT_EQ(out, FromText("second"));
}

TEST_P(CmxLink, CorruptLengthField_IsRefusedAndTheNextExchangeIsClean) {
    auto client = Connect();
    for (uint32_t length : {CmxClient::kMaxPayloadBytes + 1, 0x80000000u, 0xFFFFFFFFu}) {
        const size_t mark = ScribeCapture::Mark();
        Fault(&SimFaults::announced_length, length);
        Bytes out{0xEE};
        EXPECT_EQ(client->QueryCommand({}, out, 0x07), -1) << length;
        EXPECT_EQ(client->GetLastRetCode(), -3);
        EXPECT_EQ(out, Bytes{0xEE});
        EXPECT_NE(ScribeCapture::Since(mark).find("reply refused"), std::string::npos);
        ASSERT_EQ(client->QueryCommand({}, out, 0x07), 0);
        EXPECT_EQ(std::string(out.begin(), out.end()), "KRELL-SIM Corvel");
    }
}

TEST_P(CmxLink, PayloadSizes_FromEmptyToLargerThanOneSendAreCarried) {
    auto client = Connect(2000);
    Bytes out{0xEE};
    ASSERT_EQ(client->QueryCommand({}, out, 0x43), 0);  // nothing stored: zero-length reply
    EXPECT_EQ(out, Bytes{0xEE});
    ASSERT_EQ(client->QueryCommand({}, out, 0x43, true), 0);
    EXPECT_EQ(out.size(), HeaderSize());
    for (size_t size : {20000u, 100000u}) {
        Bytes big(size);
        for (size_t i = 0; i < size; ++i)
            big[i] = static_cast<uint8_t>(i * 31 + size);
        const size_t mark = ScribeCapture::Mark();
        ASSERT_EQ(client->QueryCommand(big, out, 0x44), 0) << size;
        EXPECT_EQ(out, big);
        EXPECT_NE(ScribeCapture::Since(mark).find("nPayLoadLen too large:" + std::to_string(size)),
                  std::string::npos);
    }
}

TEST_P(CmxLink, ConcurrentCallers_EachGetTheirOwnReply) {
    auto client = Connect(2000);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const Bytes mine =
                    FromText("thread " + std::to_string(t) + " call " + std::to_string(i));
                Bytes out;
                if (client->QueryCommand(mine, out, static_cast<uint8_t>(0x50 + t)) != 0 ||
                    out != mine) {
                    mismatches++;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(AllLinks, CmxLink,
                         ::testing::Values(LinkParam{false, 1}, LinkParam{false, 2},
                                           LinkParam{true, 1}, LinkParam{true, 2}),
                         LinkName);

}  // namespace
}  // namespace lidar
}  // namespace krell
