// OTA streaming over the two serial lines end to end: SerialClient::SerialUpgrade on the virtual
// sensor's pty lines, whose firmware side checks every frame and reassembles the image.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Source/serial_client.h"
#include "libkrell/Source/serial_source.h"
#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/serial_line_sim.h"

namespace {

using krell::lidar::kUpgradeFrameRefused;
using krell::lidar::kUpgradeModeApp;
using krell::lidar::kUpgradeOk;
using krell::lidar::kUpgradePblWhilePbl;
using krell::lidar::OtaFrame;
using krell::lidar::SerialClient;
using krell::lidar::SerialSource;
using krell::lidar::sim::FirmwareSink;
using krell::lidar::sim::PointStream;
using krell::lidar::sim::SerialLineSim;
using krell::lidar::sim::SerialResponder;
using krell::lidar::sim::UpgradeFaults;

constexpr int32_t kPblMode = 1;
constexpr int32_t kShortReplyTimeoutMs = 300;
constexpr uint8_t kModeBeforeUpgrade = 0;

std::vector<uint8_t> Image(size_t size) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 13 + i / 1024 + 1);
    return image;
}

// The client side as DeviceBench sets it up: commands on the UART line, replies, point packets
// and firmware frames on the RS-485 line.
class SerialUpgradeTest : public ::testing::Test {
protected:
    void Connect(std::shared_ptr<FirmwareSink> firmware) {
        sim_ = std::make_unique<SerialLineSim>(responder_, PointStream::Options{}, firmware);
        ASSERT_TRUE(sim_->Start());
        uart_ = std::make_shared<SerialSource>(sim_->UartName(), 9600, 3125000);
        uart_->SetReceiveType(1);
        uart_->SetReceiveThreadEnabled(false);
        rs485_ = std::make_shared<SerialSource>(sim_->Rs485Name(), 115200, 3125000);
        ASSERT_TRUE(uart_->Open());
        ASSERT_TRUE(rs485_->Open());
        client_.Init(uart_, rs485_);
        client_.SetOtaReplyTimeoutMs(kShortReplyTimeoutMs);
        client_.byte_flow_callback = [this](const std::string& line) {
            if (line.rfind("SEND: ", 0) != 0 && line.rfind("RECV: ", 0) != 0) texts_.push_back(line);
        };
    }

    bool Said(const std::string& text) const {
        for (const std::string& line : texts_)
            if (line == text) return true;
        return false;
    }

    SerialResponder responder_;
    std::shared_ptr<FirmwareSink> sink_ = std::make_shared<FirmwareSink>();
    std::unique_ptr<SerialLineSim> sim_;
    std::shared_ptr<SerialSource> uart_;
    std::shared_ptr<SerialSource> rs485_;
    SerialClient client_;
    std::vector<std::string> texts_;
    std::atomic<int32_t> progress_{0};
};

class SerialChunking : public SerialUpgradeTest, public ::testing::WithParamInterface<size_t> {};

// An application answers the state query briefly: mode change, upgrade request, ready
// acknowledgement, then the frames; both ports are closed afterwards.
TEST_P(SerialChunking, SensorInItsApplication_SwitchesThenTakesTheWholeImage) {
    Connect(sink_);
    const std::vector<uint8_t> image = Image(GetParam());
    const int32_t total = static_cast<int32_t>((GetParam() + 1023) / 1024);
    ASSERT_EQ(client_.SerialUpgrade(image, kUpgradeModeApp, progress_), kUpgradeOk);
    EXPECT_EQ(sink_->Image(), image) << sink_->LastError();
    EXPECT_EQ(sink_->FrameType(), OtaFrame::kTypeApp);
    EXPECT_EQ(progress_.load(), total);
    EXPECT_EQ(responder_.Snapshot().mode, krell::lidar::kUpgradeChangeMode);
    EXPECT_EQ(responder_.Snapshot().upgrade_type, OtaFrame::kTypeApp);
    EXPECT_TRUE(Said("Returned data is minimal. Currently may be located in app, begin to upgrade PBL"));
    EXPECT_TRUE(Said("wait recv ready ack\n"));
    EXPECT_TRUE(Said("begin to send ota data"));
    EXPECT_EQ(texts_.back(), "ota send" + std::to_string(total) + " / " + std::to_string(total));
    EXPECT_FALSE(uart_->IsOpened());
    EXPECT_FALSE(rs485_->IsOpened());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SerialChunking, ::testing::Values(1024, 2049));

TEST_F(SerialUpgradeTest, SensorInItsBootLoader_TakesTheApplicationWithoutAModeChange) {
    UpgradeFaults boot_loader;
    boot_loader.boot_loader = true;
    sink_->SetFaults(boot_loader);
    Connect(sink_);
    const std::vector<uint8_t> image = Image(1500);
    ASSERT_EQ(client_.SerialUpgrade(image, kUpgradeModeApp, progress_), kUpgradeOk);
    EXPECT_EQ(sink_->Image(), image);
    EXPECT_TRUE(Said("now in PBL, begin to upgrade APP"));
    EXPECT_EQ(responder_.Snapshot().mode, kModeBeforeUpgrade);
    EXPECT_EQ(responder_.Snapshot().requests, 0u);
}

// The sensor waits on both lines at once, so a frame on the RS-485 line is answered as soon as it
// arrives. Waiting on the UART line alone held every frame for a millisecond: 512 frames took over
// half a second; now they take a few tens of milliseconds.
TEST_F(SerialUpgradeTest, FramesAreAnsweredWithoutWaitingOnTheOtherLine) {
    UpgradeFaults boot_loader;  // no mode change, so no simulated switch-over pause either
    boot_loader.boot_loader = true;
    sink_->SetFaults(boot_loader);
    Connect(sink_);
    const std::vector<uint8_t> image = Image(512 * 1024);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client_.SerialUpgrade(image, kUpgradeModeApp, progress_), kUpgradeOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(sink_->Image(), image);
}

TEST_F(SerialUpgradeTest, BootLoaderUpgradeWhileInTheBootLoader_IsRefused) {
    UpgradeFaults boot_loader;
    boot_loader.boot_loader = true;
    sink_->SetFaults(boot_loader);
    Connect(sink_);
    EXPECT_EQ(client_.SerialUpgrade(Image(100), kPblMode, progress_), kUpgradePblWhilePbl);
    EXPECT_TRUE(Said("now in PBL, can't upgrade PBL"));
    EXPECT_TRUE(sink_->Image().empty());
    EXPECT_FALSE(rs485_->IsOpened());
}

// No answer to the state query: the sensor is taken to run its application and is switched; the
// first frame then goes unanswered too and the upgrade stops there.
TEST_F(SerialUpgradeTest, NoAnswerToTheStateQuery_GoesOnWithTheModeChange) {
    Connect(nullptr);
    EXPECT_EQ(client_.SerialUpgrade(Image(100), kPblMode, progress_), SerialClient::kNoReply);
    EXPECT_TRUE(Said("Currently may be located in app, begin to upgrade"));
    EXPECT_EQ(responder_.Snapshot().mode, krell::lidar::kUpgradeChangeMode);
    EXPECT_EQ(responder_.Snapshot().upgrade_type, OtaFrame::kTypePbl);
    EXPECT_EQ(progress_.load(), 0);
}

struct SerialFault {
    const char* name;
    UpgradeFaults faults;
    int32_t result;
    int32_t acknowledged;
    const char* says;
};

UpgradeFaults Faults(std::optional<uint32_t> refuse, uint8_t status,
                     std::optional<uint32_t> silent, std::optional<uint32_t> corrupt) {
    UpgradeFaults faults;
    faults.refuse_frame = refuse;
    faults.refuse_status = status;
    faults.silent_after = silent;
    faults.corrupt_ack = corrupt;
    return faults;
}

const SerialFault kSerialFaults[] = {
    {"RefuseSecond", Faults(2, 3, {}, {}), 3, 1, "reply type 7, status 3"},
    {"RefuseLastWithStatusZero", Faults(3, 0, {}, {}), kUpgradeFrameRefused, 2, "status 0"},
    {"SilentAfterOne", Faults({}, 3, 1, {}), SerialClient::kNoReply, 1, "result -3"},
    {"CorruptSecondAck", Faults({}, 3, {}, 2), SerialClient::kInvalidReply, 1, "result -2"},
};

class SerialFaults : public SerialUpgradeTest, public ::testing::WithParamInterface<SerialFault> {};

TEST_P(SerialFaults, UpgradeStops_ProgressStaysAtTheLastAcknowledged) {
    const SerialFault& fault = GetParam();
    sink_->SetFaults(fault.faults);
    Connect(sink_);
    EXPECT_EQ(client_.SerialUpgrade(Image(2500), kUpgradeModeApp, progress_), fault.result);
    EXPECT_EQ(progress_.load(), fault.acknowledged);
    const std::string frame = "frame index " + std::to_string(fault.acknowledged) + " of 3";
    ASSERT_FALSE(texts_.empty());
    EXPECT_NE(texts_.back().find(frame), std::string::npos) << texts_.back();
    EXPECT_NE(texts_.back().find(fault.says), std::string::npos) << texts_.back();
    EXPECT_FALSE(rs485_->IsOpened());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, SerialFaults, ::testing::ValuesIn(kSerialFaults),
    [](const ::testing::TestParamInfo<SerialFault>& info) { return std::string(info.param.name); });

}  // namespace
