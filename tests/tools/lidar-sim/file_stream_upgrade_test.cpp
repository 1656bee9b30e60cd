// CMX file streaming end to end: CmxClient::FileStreamUpgrade against the virtual sensor, which
// checks every frame and reassembles the image.
#include <chrono>
#include <stdexcept>
#include <string>
#include <tuple>

#include "tests/tools/lidar-sim/upgrade_rig.h"

namespace {

using krell::lidar::kUpgradeEmptyImage;
using krell::lidar::kUpgradeFailed;
using krell::lidar::kUpgradeOk;
using krell::lidar::sim::SimFaults;
using krell::lidar::sim::UpgradeFaults;
using krell::test::UpgradeRig;
using krell::test::upgrade_fault::Corrupt;
using krell::test::upgrade_fault::Drop;
using krell::test::upgrade_fault::Refuse;
using krell::test::upgrade_fault::Silent;

class FileStreamUpgradeTest : public UpgradeRig {};

class FileStreamChunking : public UpgradeRig,
                           public ::testing::WithParamInterface<std::tuple<size_t, const char*>> {};

TEST_P(FileStreamChunking, ImageArrivesWhole_ProgressReachesTheTotal) {
    const size_t size = std::get<0>(GetParam());
    const std::vector<uint8_t> image = Image(size);
    ASSERT_EQ(client_->FileStreamUpgrade(image, std::get<1>(GetParam()), progress_), kUpgradeOk);
    EXPECT_TRUE(sink_->ImageComplete()) << sink_->LastError();
    EXPECT_EQ(sink_->Image(), image);
    EXPECT_EQ(progress_.load(), static_cast<int32_t>((size + 1023) / 1024));
}

// "0x83" sends command 0x83 itself; "0x0083" sends 0xFF behind 00 00 00 83. The sensor takes the
// frames on either route only when command and prefix are as they should be.
INSTANTIATE_TEST_SUITE_P(SizesAndSpellings, FileStreamChunking,
                         ::testing::Combine(::testing::Values(1, 1024, 1025, 2049, 5000),
                                            ::testing::Values("0x83", "0x0083")));

TEST_F(FileStreamUpgradeTest, EmptyImage_FailsWithoutSendingAnything) {
    const uint64_t before = sim_.Server().RequestCount();
    EXPECT_EQ(client_->FileStreamUpgrade({}, "0x83", progress_), kUpgradeEmptyImage);
    EXPECT_EQ(sim_.Server().RequestCount(), before);
    EXPECT_TRUE(SaidAll({"empty"}));
    EXPECT_EQ(progress_.load(), 0);
}

TEST_F(FileStreamUpgradeTest, CommandTextThatIsNoNumber_Throws) {
    const std::vector<uint8_t> image = Image(10);
    EXPECT_THROW(client_->FileStreamUpgrade(image, "upgrade", progress_), std::invalid_argument);
    EXPECT_THROW(client_->FileStreamUpgrade(image, "0x83zz", progress_), std::invalid_argument);
    EXPECT_THROW(client_->FileStreamUpgrade(image, "0x1FFFFFFFF", progress_), std::out_of_range);
}

struct FaultCase {
    const char* name;
    UpgradeFaults faults;
    int32_t acknowledged;  // frames acknowledged before the upgrade stops
    const char* status;    // the sensor status the message names
};

class FileStreamFaults : public UpgradeRig, public ::testing::WithParamInterface<FaultCase> {};

// Each fault stops the upgrade with a failure that names the frame and what the sensor said, and
// the progress stays at the last acknowledged frame (not at the frame that was being sent).
TEST_P(FileStreamFaults, UpgradeStopsAtTheFrame_ProgressStaysAtTheLastAcknowledged) {
    const FaultCase& fault = GetParam();
    sink_->SetFaults(fault.faults);
    EXPECT_EQ(client_->FileStreamUpgrade(Image(3000), "0x83", progress_), kUpgradeFailed);
    EXPECT_EQ(progress_.load(), fault.acknowledged);
    const std::string frame = "frame " + std::to_string(fault.acknowledged + 1) + " of 3";
    EXPECT_TRUE(SaidAll({frame, std::string("sensor status ") + fault.status}))
        << (texts_.empty() ? std::string("no text") : texts_.back());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, FileStreamFaults,
    ::testing::Values(FaultCase{"RefuseFirst", Refuse(1), 0, "3"},
                      FaultCase{"RefuseLast", Refuse(3), 2, "3"},
                      FaultCase{"SilentAfterOne", Silent(1), 1, "-"},
                      FaultCase{"DropAfterTwo", Drop(2), 2, "-"},
                      FaultCase{"CorruptSecondAck", Corrupt(2), 1, "0"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// Frames are cut as they go out: a sensor that refuses the first frame of a large image ends the
// upgrade after one exchange, and the client never cuts (checksums and copies) the rest. Cutting
// 64 MiB up front took about a quarter of a second on a loaded 2-core machine; one exchange takes
// well under a millisecond there.
TEST_F(FileStreamUpgradeTest, RefusedFirstFrameOfALargeImage_StopsWithoutCuttingTheRest) {
    sink_->SetFaults(Refuse(1));
    const std::vector<uint8_t> image(64u * 1024u * 1024u, 0x5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client_->FileStreamUpgrade(image, "0x83", progress_), kUpgradeFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(progress_.load(), 0);
    EXPECT_TRUE(SaidAll({"frame 1 of 65536", "sensor status 3"}));
}

// The sensor answers slower than the configured time-out allows but within the upgrade's own: the
// frames go through, and afterwards the configured time-out holds again.
TEST_F(FileStreamUpgradeTest, UpgradeTimeoutsApplyDuringTheUpgrade_ConfiguredOnesAfterwards) {
    SimFaults slow;
    slow.reply_delay_ms = 2 * kConfiguredTimeoutMs;
    sim_.Server().SetFaults(slow);
    const std::vector<uint8_t> image = Image(1500);
    ASSERT_EQ(client_->FileStreamUpgrade(image, "0x83", progress_), kUpgradeOk);
    EXPECT_EQ(sink_->Image(), image);
    std::vector<uint8_t> reply;
    EXPECT_NE(client_->QueryCommand({}, reply, 0x07), 0);
}

}  // namespace
