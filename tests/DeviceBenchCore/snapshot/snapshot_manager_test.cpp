// The window's snapshot export and import through DeviceBenchManager, against the virtual
// sensor: the differences come back before anything is written, and writing goes through Save.
#include <gtest/gtest.h>

#include <QUrl>

#include <fstream>
#include <sstream>

#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/support/temp_dir.h"

namespace krell {
namespace test {
namespace {

constexpr uint8_t kCmdSetPointCloud = 0x2D;
const char* const kMaxRangeId = "3-3";

size_t Count(const std::vector<uint8_t>& commands, uint8_t code) {
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), code));
}

//! The manager sets the value like a page edit, then saves page 2 (Point Cloud).
void SetMaxRange(DeviceBenchManager& manager, const QString& value) {
    manager.GetLidarModuleInfo(2);
    manager.SetText(1, 2, 0, 2, value);
    manager.Run(2);
}

class SnapshotManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureManagerApp();
        ASSERT_TRUE(sim_.Ok());
        manager_ = ConnectedManager(sim_.Port(), "Corvel");
        ASSERT_TRUE(manager_->IsConnected());
    }
    QUrl File(const std::string& name) const {
        return QUrl::fromLocalFile(QString::fromStdString(dir_.File(name)));
    }
    void Reconnect() {
        manager_ = ConnectedManager(sim_.Port(), "Corvel");
        ASSERT_TRUE(manager_->IsConnected());
    }

    TempDir dir_;
    TableSim sim_{"Corvel"};
    std::unique_ptr<DeviceBenchManager> manager_;
};

TEST_F(SnapshotManagerTest, ImportShowsTheDifferencesFirstThenWritesThemLikeASave) {
    ASSERT_EQ(manager_->ExportSnapshot(File("good.json")), 0);
    EXPECT_NE(manager_->successMessage().indexOf("Snapshot of 53 variables saved"), -1);
    SetMaxRange(*manager_, "250");
    Reconnect();

    const QVariantList differences = manager_->LoadSnapshotDiff(File("good.json"));
    ASSERT_EQ(differences.size(), 1);
    const QVariantMap change = differences[0].toMap();
    EXPECT_EQ(change["name"].toString(), "Max Range");
    EXPECT_EQ(change["device"].toString(), "250");
    EXPECT_EQ(change["file"].toString(), "200");
    EXPECT_TRUE(change["writable"].toBool());
    const size_t writes = Count(sim_.Commands(), kCmdSetPointCloud);

    EXPECT_EQ(manager_->WriteSnapshot(false), 0);
    EXPECT_EQ(Count(sim_.Commands(), kCmdSetPointCloud), writes + 1);
    EXPECT_EQ(sim_.Responder().ValueOf(kMaxRangeId), (std::vector<uint8_t>{0x00, 0xC8}));
    EXPECT_FALSE(manager_->IsConnected());          // as after a Save
    EXPECT_EQ(manager_->WriteSnapshot(false), -1);  // nothing loaded any more
}

TEST_F(SnapshotManagerTest, ForeignOrBrokenFilesAreRefusedBeforeAnythingTravels) {
    ASSERT_EQ(manager_->ExportSnapshot(File("good.json")), 0);
    std::ifstream in(dir_.File("good.json"));
    std::stringstream text;
    text << in.rdbuf();
    std::string tovin = text.str();
    tovin.replace(tovin.find("\"Corvel\""), 8, "\"Tovin\"");
    std::ofstream(dir_.File("tovin.json")) << tovin;
    std::ofstream(dir_.File("broken.json")) << text.str().substr(0, 100);
    const size_t before = sim_.Commands().size();
    EXPECT_TRUE(manager_->LoadSnapshotDiff(File("tovin.json")).isEmpty());
    EXPECT_NE(manager_->errorMessage().indexOf("is a snapshot of a Tovin, not of a Corvel"), -1);
    EXPECT_TRUE(manager_->LoadSnapshotDiff(File("broken.json")).isEmpty());
    EXPECT_NE(manager_->errorMessage().indexOf("not a usable snapshot"), -1);
    EXPECT_EQ(sim_.Commands().size(), before);
    EXPECT_EQ(manager_->WriteSnapshot(true), -1);
}

TEST_F(SnapshotManagerTest, OutOfRangeValueIsRefusedUntilForced) {
    ASSERT_EQ(manager_->ExportSnapshot(File("good.json")), 0);
    std::ifstream in(dir_.File("good.json"));
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    json.replace(json.find("\"00c8\""), 6, "\"0190\"");
    json.replace(json.find("\"text\": \"200\""), 13, "\"text\": \"400\"");
    std::ofstream(dir_.File("far.json")) << json;
    ASSERT_EQ(manager_->LoadSnapshotDiff(File("far.json")).size(), 1);
    const size_t writes = Count(sim_.Commands(), kCmdSetPointCloud);
    EXPECT_EQ(manager_->WriteSnapshot(false), -2);
    EXPECT_EQ(Count(sim_.Commands(), kCmdSetPointCloud), writes);
    EXPECT_EQ(manager_->WriteSnapshot(true), 0);
    EXPECT_EQ(sim_.Responder().ValueOf(kMaxRangeId), (std::vector<uint8_t>{0x01, 0x90}));
}

TEST_F(SnapshotManagerTest, NothingWithoutAConnection) {
    manager_->Stop();
    EXPECT_EQ(manager_->ExportSnapshot(File("x.json")), -1);
    EXPECT_EQ(manager_->errorMessage(), "Please connect to lidar first");
}

}  // namespace
}  // namespace test
}  // namespace krell
