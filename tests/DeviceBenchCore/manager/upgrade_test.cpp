// The firmware upgrades through the manager against the virtual sensor: each route end to end
// (the image the sensor reassembles equals the file), the fault switches of the sensor's firmware
// side (message, progress at the last acknowledged frame, flags clear), the Rusko package rules
// and the refusals before anything is sent.
#include <gtest/gtest.h>

#include <QUrl>

#include <algorithm>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/maintenance_operation.h"
#include "DeviceBenchCore/manager/upgrade_operation.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_codes.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/DeviceBenchCore/manager/recording_reporter.h"
#include "tests/DeviceBenchCore/manager/upgrade_fixture.h"
#include "tools/lidar-sim/upgrade_faults.h"

namespace {

using krell::lidar::sim::UpgradeFaults;
using krell::test::RecordingReporter;
using krell::test::UpgradeTest;

constexpr const char* kStreamFailed = "Upgrade package transfer failed or is terminated.";
constexpr const char* kOtaSuccess =
    "Upgrade package transmitted successfully. The lidar will automatically reboot.";

QUrl Url(const std::string& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path));
}

//! Place [level1, level2, position] of the row `name` in the shipped table of `model`.
std::vector<int> PlaceOf(const std::string& model, const std::string& name) {
    ConfigParser table(std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID/" + model + ".csv");
    EXPECT_TRUE(table.ExtractConfigInfo());
    const auto& pages = table.pages();
    for (size_t i = 0; i < pages.size(); ++i)
        for (size_t j = 0; j < pages[i].size(); ++j)
            for (size_t k = 0; k < pages[i][j].size(); ++k)
                if (pages[i][j][k]->var_name == name) return {int(i), int(j), int(k)};
    ADD_FAILURE() << "no row " << name << " in " << model;
    return {0, 0, 0};
}

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = uint8_t(value >> (8 * i));
}

//! An "OTPK" package holding component i of `sizes[i]` bytes (absent when 0).
std::vector<uint8_t> Package(const std::vector<uint32_t>& sizes) {
    std::vector<uint8_t> bytes(56, 0);
    bytes[0] = 'O', bytes[1] = 'T', bytes[2] = 'P', bytes[3] = 'K';
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] == 0) continue;
        bytes[8] |= uint8_t(1u << i);
        PutU32(bytes, 12 + 8 * i, uint32_t(bytes.size()));
        PutU32(bytes, 16 + 8 * i, sizes[i]);
        const std::vector<uint8_t> data = UpgradeTest::Image(sizes[i] + i);
        bytes.insert(bytes.end(), data.begin() + long(i), data.end());
    }
    PutU32(bytes, 4, uint32_t(bytes.size()));
    return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t begin, size_t size) {
    return std::vector<uint8_t>(bytes.begin() + long(begin), bytes.begin() + long(begin + size));
}

class NetworkUpgradeTest : public UpgradeTest {
protected:
    int Upgrade(const std::string& path) {
        const std::vector<int> place = PlaceOf("Corvel", "Firmware Upgrade");
        return manager_->UpgradeLidar(Url(path), place[0], place[1], place[2]);
    }
    size_t Restarts() const {
        size_t count = 0;
        for (uint8_t cmd : Commands()) count += cmd == 0x10;
        return count;
    }
};

TEST_F(NetworkUpgradeTest, FileStreamDeliversTheFileThenRestarts) {
    ASSERT_TRUE(Start("Corvel"));
    const std::vector<uint8_t> image = Image(2500);
    ASSERT_EQ(Upgrade(WriteFile("app.patch", image)), 0);
    EXPECT_TRUE(manager_->IsUpgrading());
    EXPECT_EQ(manager_->upgradeProgressTotalLen(), 2);
    // A second upgrade, restart and log downloads wait for this one.
    EXPECT_EQ(Upgrade(WriteFile("other.patch", image)), -1);
    EXPECT_EQ(manager_->Restart(), -1);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(setup_.firmware->Image(), image);
    EXPECT_EQ(manager_->upgradeProgress(), 3);
    EXPECT_TRUE(manager_->successMessage().startsWith("Upgrade package transmitted successfully"));
    // The sensor is restarted after the pause and the link ends.
    EXPECT_TRUE(krell::test::WaitWithEvents([this] { return !manager_->IsConnected(); }, 3000));
    EXPECT_EQ(Restarts(), 1u);
}

TEST_F(NetworkUpgradeTest, RefusedLastFrameFailsWithoutRestart) {
    ASSERT_TRUE(Start("Corvel"));
    UpgradeFaults faults;
    faults.refuse_frame = 3;
    setup_.firmware->SetFaults(faults);
    ASSERT_EQ(Upgrade(WriteFile("app.patch", Image(2500))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->errorMessage(), kStreamFailed);
    EXPECT_EQ(manager_->upgradeProgress(), 2);
    EXPECT_TRUE(Logged("Upgrade stopped at frame index 2 of 3: the sensor refused it with status 3"))
        << Logs().join("\n").toStdString();
    krell::test::SpinEvents(200);
    EXPECT_EQ(Restarts(), 0u);
    EXPECT_TRUE(manager_->IsConnected());
}

TEST_F(NetworkUpgradeTest, SilentOrDroppingSensorEndsTheUpgradeWithFlagsClear) {
    ASSERT_TRUE(Start("Corvel"));
    UpgradeFaults faults;
    faults.silent_after = 1;
    setup_.firmware->SetFaults(faults);
    ASSERT_EQ(Upgrade(WriteFile("app.patch", Image(3000))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->errorMessage(), kStreamFailed);
    EXPECT_EQ(manager_->upgradeProgress(), 1);
    EXPECT_TRUE(Logged("Upgrade stopped at frame index 1 of 3: no valid acknowledgement"));

    UpgradeFaults drop;
    drop.drop_after = 2;
    setup_.firmware->SetFaults(drop);
    manager_->setErrorMsg("");
    ASSERT_EQ(Upgrade(WriteFile("app.patch", Image(4000))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->errorMessage(), kStreamFailed);
    EXPECT_EQ(manager_->upgradeProgress(), 2);
    EXPECT_FALSE(manager_->IsUpgrading());
    EXPECT_FALSE(manager_->IsDownloadLog());
}

TEST_F(NetworkUpgradeTest, UnreadableFilesAndMinkaUpgradeAreRefusedWithAMessage) {
    ASSERT_TRUE(Start("Corvel"));
    const std::string missing = dir_.File("missing.patch");
    EXPECT_EQ(Upgrade(missing), -1);
    EXPECT_TRUE(manager_->errorMessage().contains(QString::fromStdString(missing)));
    EXPECT_EQ(Upgrade(dir_.Path()), -1);
    EXPECT_TRUE(manager_->errorMessage().contains("folder"));
    EXPECT_EQ(Upgrade(WriteFile("empty.patch", {})), -1);
    EXPECT_TRUE(manager_->errorMessage().contains("empty"));
    EXPECT_FALSE(manager_->IsUpgrading());

    manager_->setErrorMsg("");
    EXPECT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("app.patch", Image(100)))), -1);
    EXPECT_TRUE(manager_->errorMessage().contains("MinkaUpgradeLidar"));
    EXPECT_FALSE(manager_->IsUpgrading());
    EXPECT_TRUE(setup_.firmware->Image().empty());
}

TEST_F(UpgradeTest, MinkaCmxTunnelledOtaDeliversTheImage) {
    ASSERT_TRUE(Start("Minka-CMX"));
    const std::vector<uint8_t> image = Image(2049);
    ASSERT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("app.patch", image))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->successMessage(), kOtaSuccess);
    EXPECT_EQ(DataOfType(4), image);
    EXPECT_EQ(setup_.firmware->Image(), image);
    EXPECT_EQ(manager_->upgradeProgress(), 3);

    // Boot-loader mode streams frames of type 2.
    manager_->MinkaSetUpgradeMode(1);
    ASSERT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("pbl.patch", Image(700)))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(DataOfType(2), Image(700));
}

TEST_F(UpgradeTest, MinkaCmxRefusedFrameNamesFrameAndStatus) {
    ASSERT_TRUE(Start("Minka-CMX"));
    UpgradeFaults faults;
    faults.refuse_frame = 2;
    setup_.firmware->SetFaults(faults);
    ASSERT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("app.patch", Image(3000)))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->errorMessage(), QString(kStreamFailed) + " error:3");
    EXPECT_EQ(manager_->upgradeProgress(), 1);
    EXPECT_TRUE(Logged("Upgrade stopped at frame index 1 of 3: the sensor refused it with status 3"));
    EXPECT_TRUE(manager_->successMessage().isEmpty());
}

TEST_F(UpgradeTest, MinkaCmxFileStreamModeUsesTheUpgradeCommand) {
    ASSERT_TRUE(Start("Minka-CMX"));
    manager_->MinkaSetUpgradeMode(2);
    const std::vector<uint8_t> image = Image(1500);
    ASSERT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("app.patch", image))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(setup_.firmware->Image(), image);
    const std::vector<uint8_t> commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), krell::lidar::kCmdFileStreamUpgrade), 2);
    EXPECT_TRUE(Frames().empty());
}

TEST_F(UpgradeTest, MinkaSerialLinesDeliverTheImage) {
    ASSERT_TRUE(Start("Minka"));
    const std::vector<uint8_t> image = Image(2100);
    ASSERT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("app.patch", image))), 0);
    ASSERT_TRUE(WaitUntilIdle(15000));
    EXPECT_EQ(manager_->successMessage(), kOtaSuccess) << manager_->errorMessage().toStdString();
    EXPECT_EQ(setup_.firmware->Image(), image);
    EXPECT_EQ(setup_.firmware->FrameType(), 4u);
    EXPECT_EQ(manager_->upgradeProgress(), 3);
}

TEST_F(UpgradeTest, MinkaSerialRefusedFrameKeepsTheProgress) {
    ASSERT_TRUE(Start("Minka"));
    UpgradeFaults faults;
    faults.refuse_frame = 3;
    faults.refuse_status = 9;
    setup_.firmware->SetFaults(faults);
    ASSERT_EQ(manager_->MinkaUpgradeLidar(Url(WriteFile("app.patch", Image(5000)))), 0);
    ASSERT_TRUE(WaitUntilIdle(15000));
    EXPECT_EQ(manager_->errorMessage(), QString(kStreamFailed) + " error:9");
    EXPECT_EQ(manager_->upgradeProgress(), 2);
    EXPECT_TRUE(Logged("Upgrade stopped at frame index 2 of 5: the sensor refused it with status 9"));
}

class RuskoUpgradeTest : public UpgradeTest {
protected:
    //! Names of the components logged as sent, in order.
    std::vector<std::string> SentNames() const {
        std::vector<std::string> names;
        for (const QString& line : Logs()) {
            if (line.startsWith("Rusko upgrade: sending "))
                names.push_back(line.mid(23).section(' ', 0, 0).toStdString());
        }
        return names;
    }
};

TEST_F(RuskoUpgradeTest, PartitionAGetsApplicationBAndFpgaHeadersStayBehind) {
    ASSERT_TRUE(Start("Rusko-CMX"));
    side_.Responder().SetPartition(0);
    const std::vector<uint8_t> package = Package({1100, 1300, 3072, 1500, 40});
    ASSERT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("fw.otpk", package))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->successMessage(),
              "Rusko upgrade completed. The lidar will automatically reboot.");
    EXPECT_EQ(SentNames(),
              (std::vector<std::string>{"BMB_APP_B", "BMB_FPGA", "TMB_FPGA", "TMB_PARAM"}));
    EXPECT_TRUE(Logged("Rusko OTA package parsed: flags=0x1f, total_size=" +
                       QString::number(package.size())));
    EXPECT_TRUE(Logged("Rusko upgrade: current partition=A"));
    EXPECT_TRUE(Logged("Rusko upgrade: sending BMB_FPGA (type=0x01, size=2048)"));
    const size_t app_b = 56 + 1100, bmb = app_b + 1300, tmb = bmb + 3072, param = tmb + 1500;
    EXPECT_EQ(DataOfType(2), Slice(package, app_b, 1300));
    EXPECT_EQ(DataOfType(1), Slice(package, bmb + 1024, 2048));
    EXPECT_EQ(DataOfType(0), Slice(package, tmb + 1024, 476));
    EXPECT_EQ(DataOfType(3), Slice(package, param, 40));
    EXPECT_EQ(manager_->upgradeProgressTotalLen(), 2 + 2 + 1 + 1);
    EXPECT_EQ(manager_->upgradeProgress(), 6);
    EXPECT_EQ(setup_.firmware->BaudChanges().size() >= 2, true);
    const std::vector<uint32_t> bauds = setup_.firmware->BaudChanges();
    EXPECT_EQ(std::vector<uint32_t>(bauds.end() - 2, bauds.end()),
              (std::vector<uint32_t>{5000000, 9600}));
}

TEST_F(RuskoUpgradeTest, PartitionBGetsApplicationAAndAnEmptyPackageCompletes) {
    ASSERT_TRUE(Start("Rusko-CMX"));
    ASSERT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("fw.otpk", Package({500, 600})))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(SentNames(), (std::vector<std::string>{"BMB_APP_A"}));
    EXPECT_TRUE(Logged("Rusko upgrade: current partition=B"));

    ASSERT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("none.otpk", Package({})))), 0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(SentNames().size(), 1u);
    EXPECT_EQ(manager_->successMessage(),
              "Rusko upgrade completed. The lidar will automatically reboot.");
}

TEST_F(RuskoUpgradeTest, MalformedPackagesAreRefusedBeforeAnythingIsSent) {
    ASSERT_TRUE(Start("Rusko-CMX"));
    const size_t speed_changes = setup_.firmware->BaudChanges().size();
    std::vector<uint8_t> bytes = Package({});
    bytes.resize(55);
    EXPECT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("short.otpk", bytes))), -1);
    EXPECT_EQ(manager_->errorMessage(), "Upgrade package too small");

    bytes = Package({100});
    bytes[0] = 'X';
    EXPECT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("magic.otpk", bytes))), -1);
    EXPECT_EQ(manager_->errorMessage(), "Invalid Rusko OTA upgrade package");

    bytes = Package({100, 0, 0, 0, 50});
    PutU32(bytes, 16 + 8 * 4, 51);
    EXPECT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("range.otpk", bytes))), -1);
    EXPECT_EQ(manager_->errorMessage(), "Rusko upgrade: failed to extract TMB_PARAM");
    krell::test::SpinEvents(30);
    EXPECT_TRUE(Logged("Component TMB_PARAM data out of range"));

    EXPECT_EQ(manager_->RuskoUpgradeLidar(Url(dir_.File("missing.otpk"))), -1);
    EXPECT_EQ(manager_->errorMessage(), "Failed to open upgrade file");
    krell::test::SpinEvents(30);
    EXPECT_TRUE(Logged(QString::fromStdString(dir_.File("missing.otpk"))));

    EXPECT_EQ(setup_.firmware->BaudChanges().size(), speed_changes);
    EXPECT_TRUE(Frames().empty());
    EXPECT_FALSE(manager_->IsUpgrading());
}

TEST_F(RuskoUpgradeTest, RefusedFrameStopsAtItsComponent) {
    ASSERT_TRUE(Start("Rusko-CMX"));
    UpgradeFaults faults;
    faults.refuse_frame = 2;  // the second frame of the second component
    faults.refuse_status = 5;
    setup_.firmware->SetFaults(faults);
    ASSERT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("fw.otpk", Package({900, 0, 4000, 1500})))),
              0);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(manager_->errorMessage(), "Rusko upgrade: BMB_FPGA failed, error=5");
    EXPECT_EQ(manager_->upgradeProgress(), 2);  // one of BMB_APP_A, one of BMB_FPGA
    EXPECT_EQ(SentNames(), (std::vector<std::string>{"BMB_APP_A", "BMB_FPGA"}));
    EXPECT_TRUE(manager_->successMessage().isEmpty());
}

TEST_F(RuskoUpgradeTest, RuskoNeedsASerialCmxModel) {
    ASSERT_TRUE(Start("Corvel"));
    EXPECT_EQ(manager_->RuskoUpgradeLidar(Url(WriteFile("fw.otpk", Package({100})))), -1);
    EXPECT_EQ(manager_->errorMessage(), "lidar is not connected, or lidar is upgrading");
}

// A command text the stream cannot convert throws inside the worker: the upgrade ends with a
// message and the flag is released all the same.
TEST_F(UpgradeTest, AnExceptionInTheWorkerStillClearsTheFlag) {
    ASSERT_TRUE(Start("Corvel"));
    DeviceSession session;
    RecordingReporter reporter;
    MaintenanceOperation maintenance(session, reporter);
    auto client = std::make_shared<krell::lidar::CmxClient>(
        "127.0.0.1", server_->Port(), false, 0, 1, "", "", "", 500, 500, 2.0f);
    for (int i = 0; i < 300 && !client->IsOpen(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(client->IsOpen());
    session.link.SetCmx(client);
    UpgradeOperation upgrade(session, reporter, maintenance);
    UpgradeTimings timings;
    timings.start_pause_ms = 0;
    upgrade.SetTimings(timings);
    ASSERT_EQ(upgrade.StartNetwork(WriteFile("app.patch", Image(100)), "not a number"), 0);
    for (int i = 0; i < 300 && session.link.upgrading; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(session.link.upgrading);
    const std::vector<std::string> errors = reporter.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Upgrade error: ", 0), 0u) << errors[0];
    EXPECT_TRUE(setup_.firmware->Image().empty());
}

}  // namespace
