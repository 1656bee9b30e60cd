// OTA frames tunnelled through CMX 0xFF end to end: CmxClient::TunnelUpgrade and SendComponent
// against the virtual sensor, which checks every OTA frame and reassembles the image.
#include <chrono>
#include <string>
#include <vector>

#include "libkrell/Frame/ota_frame.h"
#include "tests/tools/lidar-sim/upgrade_rig.h"

namespace {

using krell::lidar::kUpgradeEmptyImage;
using krell::lidar::kUpgradeFailed;
using krell::lidar::kUpgradeFrameRefused;
using krell::lidar::kUpgradeModeApp;
using krell::lidar::kUpgradeOk;
using krell::lidar::OtaFrame;
using krell::lidar::sim::SimFaults;
using krell::lidar::sim::UpgradeFaults;
using krell::test::UpgradeRig;
using krell::test::upgrade_fault::Corrupt;
using krell::test::upgrade_fault::Drop;
using krell::test::upgrade_fault::Refuse;
using krell::test::upgrade_fault::Silent;

constexpr int32_t kPblMode = 1;
constexpr uint32_t kComponentType = 7;

class TunnelUpgradeTest : public UpgradeRig {};

class TunnelChunking : public UpgradeRig, public ::testing::WithParamInterface<size_t> {};

TEST_P(TunnelChunking, ApplicationImageArrivesWhole_AfterBothSpeedChanges) {
    const std::vector<uint8_t> image = Image(GetParam());
    const int32_t total = static_cast<int32_t>((GetParam() + 1023) / 1024);
    ASSERT_EQ(client_->TunnelUpgrade(image, kUpgradeModeApp, progress_), kUpgradeOk);
    EXPECT_EQ(sink_->Image(), image) << sink_->LastError();
    EXPECT_TRUE(sink_->ImageComplete());
    EXPECT_EQ(sink_->FrameType(), OtaFrame::kTypeApp);
    EXPECT_EQ(progress_.load(), total);
    EXPECT_EQ(sink_->BaudChanges(), (std::vector<uint32_t>{3125000, 115200}));
    EXPECT_EQ(side_.Responder().Snapshot().upgrade_type, OtaFrame::kTypeApp);
    const std::string last = "ota send" + std::to_string(total) + " / " + std::to_string(total);
    EXPECT_EQ(texts_.front(), "begin to upgrade APP+FPGA");
    EXPECT_TRUE(SaidAll({"begin to send ota data"}));
    EXPECT_EQ(texts_.back(), last);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TunnelChunking, ::testing::Values(1, 1024, 2049));

TEST_F(TunnelUpgradeTest, BootLoaderMode_SendsPblFramesAfterAPblRequest) {
    const std::vector<uint8_t> image = Image(1500);
    ASSERT_EQ(client_->TunnelUpgrade(image, kPblMode, progress_), kUpgradeOk);
    EXPECT_EQ(sink_->Image(), image);
    EXPECT_EQ(sink_->FrameType(), OtaFrame::kTypePbl);
    EXPECT_EQ(side_.Responder().Snapshot().upgrade_type, OtaFrame::kTypePbl);
    EXPECT_EQ(texts_.front(), "begin to upgrade PBL");
}

// The sensor needs the pause to switch into upgrade mode: the frames must not leave before it ends.
TEST_F(TunnelUpgradeTest, ModeSwitchPause_PassesBeforeTheFirstFrame) {
    constexpr uint32_t kPauseMs = 400;
    client_->SetUpgradeTimings(kUpgradeTimeoutMs, kUpgradeTimeoutMs, kPauseMs);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client_->TunnelUpgrade(Image(10), kUpgradeModeApp, progress_), kUpgradeOk);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kPauseMs));
}

TEST_F(TunnelUpgradeTest, RefusedSpeedChange_EndsBeforeAnyFrame) {
    SimFaults refuse_once;
    refuse_once.return_code = 9;
    refuse_once.once = true;
    sim_.Server().SetFaults(refuse_once);
    EXPECT_EQ(client_->TunnelUpgrade(Image(100), kUpgradeModeApp, progress_), kUpgradeFailed);
    EXPECT_TRUE(SaidAll({"change baudrate failed"}));
    EXPECT_TRUE(sink_->Image().empty());
}

TEST_F(TunnelUpgradeTest, EmptyImage_IsNoSuccess) {
    EXPECT_EQ(client_->TunnelUpgrade({}, kUpgradeModeApp, progress_), kUpgradeEmptyImage);
    EXPECT_EQ(client_->SendComponent({}, kComponentType, progress_), kUpgradeEmptyImage);
    EXPECT_EQ(progress_.load(), 0);
}

TEST_F(TunnelUpgradeTest, Component_ArrivesWithItsOwnFrameType) {
    const std::vector<uint8_t> data = Image(2049);
    ASSERT_EQ(client_->SendComponent(data, kComponentType, progress_), kUpgradeOk);
    EXPECT_EQ(sink_->Image(), data);
    EXPECT_EQ(sink_->FrameType(), kComponentType);
    EXPECT_EQ(progress_.load(), 3);
    EXPECT_EQ(texts_.front(), "begin to send component data, type=7");
    EXPECT_EQ(texts_.back(), "ota send 3 / 3");
}

struct TunnelFault {
    const char* name;
    UpgradeFaults faults;
    int32_t result;
    int32_t acknowledged;  // frames acknowledged before the upgrade stops
    const char* says;      // what the message reports about the sensor's answer
};

// The refused last frame with status 0 is the case a literal reading lets through as success with
// the progress one short; it must stop as any other refusal does.
const TunnelFault kTunnelFaults[] = {
    {"RefuseSecond", Refuse(2, 7, 3), 3, 1, "reply type 7, status 3"},
    {"RefuseLastWithStatusZero", Refuse(3, 7, 0), kUpgradeFrameRefused, 2, "status 0"},
    {"SilentAfterOne", Silent(1), kUpgradeFailed, 1, "result -1"},
    {"DropAfterTwo", Drop(2), kUpgradeFailed, 2, "result -1"},
    {"CorruptSecondAck", Corrupt(2), kUpgradeFailed, 1, "result -1"},
};

class TunnelFaults : public UpgradeRig, public ::testing::WithParamInterface<TunnelFault> {
protected:
    void ExpectStoppedAtTheFrame() {
        const TunnelFault& fault = GetParam();
        EXPECT_EQ(progress_.load(), fault.acknowledged);
        const std::string frame = "frame index " + std::to_string(fault.acknowledged) + " of 3";
        EXPECT_TRUE(SaidAll({frame, fault.says})) << texts_.back();
    }
};

TEST_P(TunnelFaults, TunnelUpgradeStops_ProgressStaysAtTheLastAcknowledged) {
    sink_->SetFaults(GetParam().faults);
    EXPECT_EQ(client_->TunnelUpgrade(Image(2500), kUpgradeModeApp, progress_), GetParam().result);
    ExpectStoppedAtTheFrame();
}

TEST_P(TunnelFaults, ComponentStops_ProgressStaysAtTheLastAcknowledged) {
    sink_->SetFaults(GetParam().faults);
    EXPECT_EQ(client_->SendComponent(Image(2500), kComponentType, progress_), GetParam().result);
    ExpectStoppedAtTheFrame();
}

INSTANTIATE_TEST_SUITE_P(
    Switches, TunnelFaults, ::testing::ValuesIn(kTunnelFaults),
    [](const ::testing::TestParamInfo<TunnelFault>& info) { return std::string(info.param.name); });

}  // namespace
