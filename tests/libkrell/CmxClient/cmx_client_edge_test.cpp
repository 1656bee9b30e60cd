// CmxClient outside the plain exchange: the connect thread, field-of-view replies of the wrong
// shape, the long-time-out variant and refusal of impossible requests.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
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

std::unique_ptr<CmxClient> TcpClientTo(const std::string& ip, uint16_t port, float connect_s,
                                       uint32_t timeout_ms = 300) {
    return std::make_unique<CmxClient>(ip, port, false, 0, 1, "", "", "", timeout_ms, timeout_ms,
                                       connect_s);
}

TEST(CmxClientConnect, NoAnswerAndNoRetries_GivesUpAndRefusesQueries) {
    test::FullBacklogListener silent;
    ASSERT_NE(silent.Port(), 0);
    const size_t mark = ScribeCapture::Mark();
    auto client = TcpClientTo("127.0.0.1", silent.Port(), 0.0f);
    ASSERT_TRUE(WaitUntil([&] {
        return ScribeCapture::Since(mark).find("cmx connect exit 2") != std::string::npos;
    }));
    EXPECT_FALSE(client->IsOpen());
    Bytes out{1};
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), -1);
    EXPECT_EQ(out, Bytes{1});
    EXPECT_NE(ScribeCapture::Since(mark).find("Client is not open, cannot send command."),
              std::string::npos);
}

TEST(CmxClientConnect, EmptyAddress_WaitsForItThenConnectsOrStopsOnDestruction) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    auto client = TcpClientTo("", sim.Port(), 10.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(client->IsOpen());
    client->SetLidarIp("127.0.0.1");
    EXPECT_TRUE(WaitUntil([&] { return client->IsOpen(); }));

    const size_t mark = ScribeCapture::Mark();
    auto waiting = TcpClientTo("", sim.Port(), -1.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    waiting.reset();  // must not wait for an address that never comes
    EXPECT_NE(ScribeCapture::Since(mark).find("cmx connect exit 1"), std::string::npos);
}

// A sensor whose 0x23 reply is whatever the test sets.
class FovReplies : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.Ok());
        sim_.Device().SetHandler(0x23, [this](const SimRequest&) {
            std::lock_guard<std::mutex> lock(mutex_);
            SimReply reply;
            reply.payload = fov_reply_;
            return reply;
        });
        sim_.Device().SetHandler(0x22, [this](const SimRequest& request) {
            std::lock_guard<std::mutex> lock(mutex_);
            last_set_ = request.payload;
            return SimReply{};
        });
        client_ = TcpClientTo("127.0.0.1", sim_.Port(), 3.0f);
        ASSERT_TRUE(WaitUntil([&] { return client_->IsOpen(); }));
    }
    void Reply(Bytes bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        fov_reply_ = std::move(bytes);
    }
    Bytes LastSet() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_set_;
    }

    test::RunningSim sim_;
    std::mutex mutex_;
    Bytes fov_reply_;
    Bytes last_set_;
    std::unique_ptr<CmxClient> client_;
};

TEST_F(FovReplies, ShortOrEmptyReplies_FailAndFillNothing) {
    const FovTable untouched{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (const Bytes& reply : {Bytes{}, Bytes{0, 1, 2, 3}, Bytes{3, 5, 0, 10, 0, 20}}) {
        Reply(reply);
        FovTable table = untouched;
        uint8_t channels = 77, mode = 77;
        EXPECT_EQ(client_->GetFov(table, channels, mode), -1) << reply.size() << " bytes";
        EXPECT_EQ(table, untouched);
        EXPECT_EQ(channels, 77);
        EXPECT_EQ(mode, 77);
    }
    Reply({7, 1, 2, 3, 4, 5});
    FovTable table = untouched;
    uint8_t channels = 77, mode = 77;
    EXPECT_EQ(client_->GetFov(table, channels, mode), 0);  // unknown mode: nothing to read
    EXPECT_EQ(table, untouched);
    Reply({0, 0x01, 0x2C, 0x0E, 0x10});
    EXPECT_EQ(client_->GetFov(table, channels, mode), 0);
    EXPECT_FLOAT_EQ(table[0], 30.0f);
    EXPECT_FLOAT_EQ(table[5], 360.0f);
}

TEST_F(FovReplies, WritePayloads_RoundTenthsAndRefuseTooManyChannels) {
    const FovTable table{12.3f, 0.7f, 1.1f, 0, 0, 45.6f, 2.9f, 3.3f, 0, 0};
    ASSERT_EQ(client_->SetFov(table, 1, 0), 0);
    EXPECT_EQ(LastSet(), (Bytes{0x00, 0x00, 0x7B, 0x01, 0xC8}));
    ASSERT_EQ(client_->SetFov(table, 3, 3), 0);
    EXPECT_EQ(LastSet(), (Bytes{0x03, 3, 0x00, 0x7B, 0x01, 0xC8, 0x00, 0x07, 0x00, 0x1D, 0x00, 0x0B,
                                0x00, 0x21}));
    ASSERT_EQ(client_->SetFov(table, 0, 9), 0);
    EXPECT_TRUE(LastSet().empty());
    const uint64_t before = sim_.Server().RequestCount();
    EXPECT_EQ(client_->SetFov(table, 6, 3), -1);
    EXPECT_EQ(sim_.Server().RequestCount(), before);
}

TEST(CmxClientLongTimeout, SlowReply_SucceedsThenConfiguredTimeoutsReturn) {
    test::RunningSim sim;
    ASSERT_TRUE(sim.Ok());
    sim.Device().SetHandler(0xFF, [](const SimRequest&) {
        SimReply reply;
        reply.payload = {0x00, 0x00, 0x01, 0x38, 0xAA, 0xBB};
        return reply;
    });
    auto client = TcpClientTo("127.0.0.1", sim.Port(), 3.0f, 300);
    ASSERT_TRUE(WaitUntil([&] { return client->IsOpen(); }));
    SimFaults slow;
    slow.reply_delay_ms = 1000;
    sim.Server().SetFaults(slow);
    Bytes out;
    ASSERT_EQ(client->QueryCommandLongTimeout({}, out, 0xFF), 0);
    EXPECT_EQ(out, (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(client->QueryCommand({}, out, 0x07), -1);
    EXPECT_EQ(client->GetLastRetCode(), -2);
}

}  // namespace
}  // namespace lidar
}  // namespace krell
