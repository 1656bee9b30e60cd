// The CMX 0xFF serial tunnel end to end: CmxClient over TCP on loopback against the virtual
// sensor, whose tunnel handler passes the serial frames to the same responder as its pty lines.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "tests/support/running_sim.h"
#include "tools/lidar-sim/serial_side.h"

namespace {

using krell::lidar::CmxClient;
using krell::lidar::sim::SerialResponder;
using krell::lidar::sim::SerialSide;
using krell::lidar::sim::SerialSideOptions;
using krell::lidar::sim::SimFaults;
using krell::lidar::sim::SimReply;
using krell::lidar::sim::SimRequest;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kTimeoutMs = 1000;

class SerialTunnelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.Ok());
        ASSERT_TRUE(side_.Start(sim_.Device(), SerialSideOptions{}));
        client_ = std::make_unique<CmxClient>("127.0.0.1", sim_.Port(), false, 0, 1, "", "", "",
                                              kTimeoutMs, kTimeoutMs, 2.0f);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!client_->IsOpen() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(client_->IsOpen());
        client_->SetByteFlowCallback([this](const std::string& line) { lines_.push_back(line); });
    }

    krell::test::RunningSim sim_;
    SerialSide side_;
    std::unique_ptr<CmxClient> client_;
    std::vector<std::string> lines_;
};

TEST_F(SerialTunnelTest, SerialCommands_ReachTheResponderAndReturnTheirBodies) {
    Bytes body;
    ASSERT_EQ(client_->SerialTunnelQuery({10, 30}, body, 3), 0);
    EXPECT_EQ(body, (Bytes{3, 3, 10, 1, 0}));
    EXPECT_EQ(side_.Responder().Snapshot().spin_rate, 30);

    Bytes version_query = {0x0F, 1};
    version_query.resize(27, 0);
    ASSERT_EQ(client_->SerialTunnelQuery(version_query, body, 2), 0);
    ASSERT_EQ(body.size(), 30u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + 4)), "TMB-FPGA 2.4.0");
    // The CMX request carries the prefix and then the serial frame.
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_[lines_.size() - 2].rfind(
                  "SEND: 47 74 ff 00 00 00 00 32 00 00 01 38 24 4c 44 43 4d 44 2c 1c 02 0f 01 ", 0),
              0u)
        << lines_[lines_.size() - 2];
}

TEST_F(SerialTunnelTest, SetSerialBaudRate_SendsSpeedBigEndianAndSensorKeepsIt) {
    lines_.clear();
    EXPECT_EQ(client_->SetSerialBaudRate(115200), 0);
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[0], "SEND: 47 74 ff 00 00 00 00 08 00 00 01 39 00 01 c2 00 ");
    EXPECT_EQ(side_.Responder().Snapshot().serial_baud, 115200u);
    Bytes reply;
    ASSERT_EQ(client_->QueryCommand({0, 0, 1, 0x3A}, reply, 0xFF), 0);
    EXPECT_EQ(reply, (Bytes{0, 0, 1, 0x3A, 0x00, 0x01, 0xC2, 0x00}));
}

TEST_F(SerialTunnelTest, ForeignPrefixUnknownOperationOrShortSpeed_IsRefusedWithCodeOne) {
    const Bytes refused[] = {
        {0, 0, 2, 0x38, 0x24},              // third prefix byte wrong
        {1, 0, 1, 0x3A},                    // first prefix byte wrong
        {0, 0, 1},                          // prefix cut short
        {0, 0, 1, 0x3B},                    // operation nobody handles
        {0, 0, 1, 0x39, 0x00, 0x01, 0xC2},  // set speed without its fourth byte
    };
    for (const Bytes& request : refused) {
        Bytes reply;
        EXPECT_EQ(client_->QueryCommand(request, reply, 0xFF), -1);
        EXPECT_EQ(client_->GetLastRetCode(), 1);
    }
    EXPECT_EQ(side_.Responder().Snapshot().serial_baud, SerialResponder().Snapshot().serial_baud)
        << "a refused set-speed request must leave the line speed alone";
}

TEST_F(SerialTunnelTest, BrokenReplies_NeverCountAsSuccess) {
    Bytes body = {0x77};
    SerialResponder::Faults serial_faults;
    serial_faults.bad_crc = true;
    side_.Responder().SetFaults(serial_faults);
    EXPECT_EQ(client_->SerialTunnelQuery({4, 0}, body, 3), -1);
    side_.Responder().SetFaults(SerialResponder::Faults{});

    SimFaults faults;
    faults.return_code = 5;
    faults.once = true;
    sim_.Server().SetFaults(faults);
    EXPECT_EQ(client_->SerialTunnelQuery({4, 0}, body, 3), 5);

    faults = SimFaults{};
    faults.wrong_command = true;
    faults.once = true;
    sim_.Server().SetFaults(faults);
    EXPECT_EQ(client_->SerialTunnelQuery({4, 0}, body, 3), -1) << "header refused, code stays 0";

    faults = SimFaults{};
    faults.no_reply = true;
    faults.once = true;
    sim_.Server().SetFaults(faults);
    EXPECT_EQ(client_->SerialTunnelQuery({4, 0}, body, 3), -2);

    // A sensor that answers with the bare prefix sent no serial reply at all.
    sim_.Device().SetHandler(0xFF, [](const SimRequest& request) {
        SimReply reply;
        reply.payload.assign(request.payload.begin(), request.payload.begin() + 4);
        return reply;
    });
    EXPECT_EQ(client_->SerialTunnelQuery({4, 0}, body, 3), -1);
    EXPECT_EQ(body, Bytes{0x77});

    lines_.clear();
    EXPECT_EQ(client_->SerialTunnelQuery({}, body, 0x103), -1);
    EXPECT_TRUE(lines_.empty()) << "a command that does not fit one byte is never sent";
}

}  // namespace
