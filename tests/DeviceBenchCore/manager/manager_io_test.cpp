// Reading and writing variables through the manager against the virtual sensor: a whole page
// decoded, saves across set groups, "0x21" last, device bytes of untouched variables, field of
// view, range checks and a sensor that stops answering in the middle of a save.
#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

#include <atomic>
#include <fstream>
#include <memory>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using krell::test::TableSim;
using krell::test::WaitWithEvents;
using Bytes = std::vector<uint8_t>;

constexpr int kDeviceInfo = 0;
constexpr int kNetwork = 1;
constexpr int kPointCloud = 2;

QStringList Lines(const QSignalSpy& spy) {
    QStringList lines;
    for (const QList<QVariant>& call : spy)
        lines << call.at(1).toString() + "|" + call.at(0).toString();
    return lines;
}

//! current_val of the shown element named `name` on page `level1`.
QString Shown(DeviceBenchManager& manager, int level1, const QString& name) {
    for (const QVariant& section : manager.myMap()[level1].toList()) {
        for (const QVariant& var : section.toList()) {
            const QVariantMap map = var.toMap();
            if (map["var_name"] == name) return map["current_val"].toString();
        }
    }
    return "<missing>";
}

class ManagerIoTest : public ::testing::Test {
protected:
    void SetUp() override { krell::test::EnsureManagerApp(); }

    void Connect(TableSim& sim, const QString& model = "Corvel") {
        ASSERT_TRUE(sim.Ok());
        manager_ = krell::test::ConnectedManager(sim.Port(), model);
        ASSERT_TRUE(manager_->IsConnected());
    }

    //! Edits element [l1][l2][k] like the page's text field does.
    void Edit(int l1, int l2, int k, const QString& text) { manager_->SetText(1, l1, l2, k, text); }

    std::unique_ptr<DeviceBenchManager> manager_;
};

// The device answers page 0's get commands with values the test chose, laid out by the table.
void SeedDeviceInfo(TableSim& sim, const std::map<std::string, std::string>& texts) {
    const ConfigParser& table = sim.Responder().Table();
    std::map<uint8_t, Bytes> replies;
    for (const auto& group : table.get_groups()) {
        const VarInfo* first = group.second.front();
        if (first->positions.count({0, 0}) + first->positions.count({0, 1}) +
                first->positions.count({0, 2}) + first->positions.count({0, 3}) ==
            0) {
            continue;
        }
        uint8_t code = 0;
        Bytes reply;
        krell::lidar::sim::TableResponder::CommandBytes(first->get_cmd, code, reply);
        for (const VarInfo* var : group.second) {
            const auto text = texts.find(var->var_name);
            const Bytes bytes = krell::lidar::sim::TableResponder::EncodeValue(
                *var, text == texts.end() ? var->default_val : text->second);
            if (reply.size() < static_cast<size_t>(var->get_start_pos) + bytes.size())
                reply.resize(static_cast<size_t>(var->get_start_pos) + bytes.size());
            std::copy(bytes.begin(), bytes.end(), reply.begin() + var->get_start_pos);
        }
        if (!first->get_payload_bytes.empty()) continue;  // 0x0E is seeded per payload below
        replies[code] = reply;
    }
    for (const auto& reply : replies) {
        const Bytes payload = reply.second;
        const krell::lidar::sim::CommandHandler inner = sim.Device().HandlerFor(reply.first);
        sim.Device().SetHandler(reply.first,
                                [payload, inner](const krell::lidar::sim::SimRequest& r) {
                                    krell::lidar::sim::SimReply answer = inner(r);
                                    if (r.payload.empty() || r.cmd == 0xFF)
                                        answer.payload = payload;
                                    return answer;
                                });
    }
}

TEST_F(ManagerIoTest, DeviceInfoPage_DecodesEveryValueThatTheDeviceHolds) {
    TableSim sim("Corvel");
    const std::map<std::string, std::string> texts = {{"Model", "CORVEL-64"},
                                                      {"SN", "CV64B2501000042"},
                                                      {"PN", "KR-CV64-B01"},
                                                      {"MAC Address", "02:AB:0C:DE:0F:10"},
                                                      {"Hardware Version", "CV_HW_RB_3.4.1000.7"},
                                                      {"Firmware Version", "CV_APP_V2.0_25.1.2"},
                                                      {"Work Mode", "2"},
                                                      {"Motor Speed", "1200"},
                                                      {"Supply Voltage", "13.50"},
                                                      {"Power Consumption", "-2.25"},
                                                      {"Uptime", "27 h 46 min 40 s"},
                                                      {"Total Frames", "9007199254740993"},
                                                      {"Fault Code", "4000000001"},
                                                      {"Receiver Temperature", "-12.34"},
                                                      {"Receiver Humidity", "77"}};
    SeedDeviceInfo(sim, texts);
    Connect(sim);
    QSignalSpy map_changed(manager_.get(), &DeviceBenchManager::myMapChanged);
    const size_t before = sim.Server().RequestCount();
    manager_->GetLidarModuleInfo(kDeviceInfo);
    EXPECT_EQ(map_changed.count(), 1);
    // One exchange per distinct get command of the page: 0x07, 0x0A, 0x06, 0x0E+01, 0x0E+02, 0xFF.
    EXPECT_EQ(sim.Server().RequestCount() - before, 6u);
    for (const auto& entry : texts) {
        EXPECT_EQ(Shown(*manager_, kDeviceInfo, QString::fromStdString(entry.first)).toStdString(),
                  entry.second)
            << entry.first;
    }
    EXPECT_EQ(manager_->getLidarSN(), "CV64B2501000042");
    EXPECT_EQ(manager_->getLidarPN(), "KR-CV64-B01");
}

TEST_F(ManagerIoTest, Save_WritesTwoSetGroupsKeepsUntouchedBytesAndClosesTheLink) {
    TableSim sim("Corvel");
    Connect(sim);
    manager_->GetLidarModuleInfo(kPointCloud);
    const Bytes azimuth_before = sim.Responder().ValueOf("3-10");
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    Edit(kPointCloud, 0, 2, "250");    // Max Range, 0x2D
    Edit(kPointCloud, 3, 3, "0.7");    // Roll Offset, 0x2C (coefficient 0.1)
    Edit(kPointCloud, 3, 1, "-2.50");  // Elevation Offset, 0x2C
    EXPECT_EQ(manager_->getSetMapSize(), 2);
    manager_->Run(kPointCloud);
    EXPECT_TRUE(manager_->successMessage().startsWith("Set Lidar Successfully"));
    EXPECT_FALSE(manager_->IsConnected());
    EXPECT_EQ(sim.Responder().ValueOf("3-3"), (Bytes{0x00, 0xFA}));
    EXPECT_EQ(sim.Responder().ValueOf("3-13"), (Bytes{0x07}));
    EXPECT_EQ(sim.Responder().ValueOf("3-11"), (Bytes{0xFF, 0x06}));
    EXPECT_EQ(sim.Responder().ValueOf("3-10"), azimuth_before);  // not edited: device bytes
    EXPECT_EQ(sim.Responder().ValueOf("3-4"), (Bytes{0x00, 0x32}));
    const QStringList lines = Lines(log);
    EXPECT_TRUE(lines.contains("INFO|Send CMX command [0x2D] to set Max Range,  success."));
    EXPECT_TRUE(lines.contains(
        "INFO|Send CMX command [0x2C] to set Elevation Offset, Roll Offset,  success."))
        << lines.join("\n").toStdString();
    // Reading again shows what was written.
    Connect(sim);
    manager_->GetLidarModuleInfo(kPointCloud);
    EXPECT_EQ(Shown(*manager_, kPointCloud, "Max Range"), "250");
    EXPECT_EQ(Shown(*manager_, kPointCloud, "Roll Offset"), "0.70");
    EXPECT_EQ(Shown(*manager_, kPointCloud, "Elevation Offset"), "-2.50");
}

TEST_F(ManagerIoTest, Save_SendsTheNetworkCommandLast) {
    TableSim sim("Corvel");
    Connect(sim);
    Edit(kNetwork, 0, 2, "127.0.0.254");  // Gateway, 0x21
    Edit(kNetwork, 1, 0, "127.0.0.2");    // Destination IP, 0x20
    const size_t before = sim.Commands().size();
    manager_->Run(kNetwork);
    const std::vector<uint8_t> commands = sim.Commands();
    ASSERT_GE(commands.size(), before + 3);
    EXPECT_EQ(commands.back(), 0x21);
    EXPECT_EQ(commands[commands.size() - 2], 0x20);
    EXPECT_EQ(sim.Responder().ValueOf("2-3"), (Bytes{127, 0, 0, 254}));
    EXPECT_EQ(sim.Responder().ValueOf("2-1"), (Bytes{192, 168, 1, 201}));  // kept
}

TEST_F(ManagerIoTest, Save_ThatStopsMidwayReportsWhatWasAndWasNotWritten) {
    TableSim sim("Corvel");
    Connect(sim);
    sim.SilenceAfter(0x2E, 0);
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    Edit(kPointCloud, 0, 2, "111");  // 0x2D, sent first
    Edit(kPointCloud, 1, 0, "5");    // 0x2E, no reply
    Edit(kPointCloud, 3, 3, "0.3");  // 0x2C, never sent
    manager_->Run(kPointCloud);
    const QStringList lines = Lines(log);
    EXPECT_TRUE(manager_->errorMessage().startsWith("Set Failed: 0x2E SET Noise Filter Level, "));
    EXPECT_TRUE(lines.contains("INFO|Send CMX command [0x2D] to set Max Range,  success."));
    EXPECT_TRUE(lines.contains("WARNING|SET [0x2E] FAILED"));
    EXPECT_TRUE(lines.filter("WARNING|Set 0x2E Failed. Command was sent. Detail: ").size() == 1);
    EXPECT_TRUE(
        lines.contains("WARNING|CMX command [0x2C] to set Roll Offset,  was not sent; it "
                       "stays pending for the next save."))
        << lines.join("\n").toStdString();
    EXPECT_EQ(sim.Responder().ValueOf("3-3"), (Bytes{0x00, 0x6F}));
    EXPECT_EQ(sim.Responder().ValueOf("3-13"), (Bytes{0x05}));  // unchanged default 0.50
    EXPECT_TRUE(manager_->IsConnected());
}

// The sensor refuses the second command of a save: the edits of the commands that were tried are
// dropped, the command never sent keeps its edit and goes out with the next save.
TEST_F(ManagerIoTest, Save_RefusedMidway_DropsTheTriedEditsAndKeepsTheUnsentOnePending) {
    TableSim sim("Corvel");
    auto refuse = std::make_shared<std::atomic<bool>>(true);
    auto noise_sets = std::make_shared<std::atomic<int>>(0);
    const krell::lidar::sim::CommandHandler inner = sim.Device().HandlerFor(0x2E);
    sim.Device().SetHandler(
        0x2E, [inner, refuse, noise_sets](const krell::lidar::sim::SimRequest& request) {
            ++*noise_sets;
            krell::lidar::sim::SimReply reply = inner(request);
            if (refuse->load()) reply.ret_code = 0x05;
            return reply;
        });
    Connect(sim);
    Edit(kPointCloud, 0, 2, "111");  // 0x2D, written
    Edit(kPointCloud, 1, 0, "5");    // 0x2E, refused
    Edit(kPointCloud, 3, 3, "0.3");  // 0x2C, never sent
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    manager_->Run(kPointCloud);
    EXPECT_TRUE(manager_->errorMessage().startsWith("Set Failed: 0x2E SET Noise Filter Level, "))
        << manager_->errorMessage().toStdString();
    EXPECT_TRUE(
        Lines(log).contains("WARNING|CMX command [0x2C] to set Roll Offset,  was not "
                            "sent; it stays pending for the next save."))
        << Lines(log).join("\n").toStdString();
    ASSERT_EQ(noise_sets->load(), 1);

    refuse->store(false);
    manager_->Run(kPointCloud);
    EXPECT_TRUE(manager_->successMessage().startsWith("Set Lidar Successfully"))
        << manager_->errorMessage().toStdString();
    EXPECT_EQ(noise_sets->load(), 1) << "the refused edit was sent again";
    EXPECT_EQ(sim.Responder().ValueOf("3-3"), (Bytes{0x00, 0x6F}));
    EXPECT_EQ(sim.Responder().ValueOf("3-13"), (Bytes{0x03}));  // the pending edit went out
}

// A page without edits has nothing to save; the edits of the other pages must survive it.
TEST_F(ManagerIoTest, Save_OfAPageWithoutEdits_SaysSoAndKeepsTheOtherPagesEdits) {
    TableSim sim("Corvel");
    Connect(sim);
    Edit(kPointCloud, 0, 2, "222");
    const size_t requests = sim.Server().RequestCount();
    manager_->Run(kNetwork);
    EXPECT_EQ(manager_->errorMessage(), "There are no changes to save on this page.");
    EXPECT_TRUE(manager_->IsConnected());
    EXPECT_EQ(sim.Server().RequestCount(), requests);
    EXPECT_EQ(manager_->getSetMapSize(), 1);
    manager_->Run(kPointCloud);
    EXPECT_TRUE(manager_->successMessage().startsWith("Set Lidar Successfully"));
    EXPECT_EQ(sim.Responder().ValueOf("3-3"), (Bytes{0x00, 0xDE}));
}

QStringList Pending(const DeviceBenchManager& manager, int level1) {
    QStringList rows;
    for (const QVariant& row : manager.PendingChanges(level1)) {
        const QVariantMap map = row.toMap();
        rows << map["name"].toString() + ": " + map["saved"].toString() + " -> " +
                    map["staged"].toString();
    }
    return rows;
}

// Before Save the page lists what it would change: the value read from the sensor against the
// staged one, kept from the first edit however often the field is typed in; only that page's.
TEST_F(ManagerIoTest, PendingChanges_ListTheSensorsValueAgainstTheStagedOne) {
    TableSim sim("Corvel");
    Connect(sim);
    manager_->GetLidarModuleInfo(kPointCloud);
    const QString range = Shown(*manager_, kPointCloud, "Max Range");
    const QString roll = Shown(*manager_, kPointCloud, "Roll Offset");
    QSignalSpy told(manager_.get(), &DeviceBenchManager::pendingChangesChanged);
    Edit(kPointCloud, 0, 2, "2");
    Edit(kPointCloud, 0, 2, "25");
    Edit(kPointCloud, 3, 3, "0.7");
    EXPECT_EQ(Pending(*manager_, kPointCloud),
              (QStringList{"Max Range: " + range + " -> 25", "Roll Offset: " + roll + " -> 0.7"}));
    EXPECT_TRUE(Pending(*manager_, kNetwork).isEmpty());
    EXPECT_GE(told.count(), 3);
    manager_->ClearSetMap();
    EXPECT_TRUE(Pending(*manager_, kPointCloud).isEmpty());
    Edit(kPointCloud, 0, 2, "240");
    manager_->Run(kPointCloud);
    EXPECT_TRUE(Pending(*manager_, kPointCloud).isEmpty()) << "written edits are no longer pending";
}

TEST_F(ManagerIoTest, UpdateSingleVar_FalseWhenTheReadFailsOrTheNameIsUnknown) {
    TableSim sim("Corvel");
    Connect(sim);
    EXPECT_TRUE(manager_->UpdateSingleVarInfo("Motor Speed"));
    krell::lidar::sim::SimFaults refused;
    refused.return_code = 0x07;
    refused.once = true;
    sim.Server().SetFaults(refused);
    EXPECT_FALSE(manager_->UpdateSingleVarInfo("Motor Speed"));
    EXPECT_FALSE(manager_->UpdateSingleVarInfo("No Such Variable"));
    EXPECT_TRUE(manager_->UpdateSingleVarInfo("Motor Speed"));
}

TEST_F(ManagerIoTest, FieldOfView_ReadWriteAndRejectedInput) {
    TableSim sim("Corvel");
    Connect(sim);
    QSignalSpy fov_changed(manager_.get(), &DeviceBenchManager::fovConfigChanged);
    manager_->GetLidarModuleInfo(kPointCloud);
    ASSERT_TRUE(WaitWithEvents([&] { return fov_changed.count() == 1; }));
    EXPECT_EQ(manager_->FovList()[1].toString(), "72.0");
    EXPECT_EQ(manager_->FovList()[9].toString(), "360.0");
    EXPECT_EQ(Shown(*manager_, kPointCloud, "FOV Mode"), "3");
    manager_->SetMultiFovConfig(3, "400");
    EXPECT_EQ(manager_->errorMessage(), "Input value of fov is invalid");
    manager_->SetMultiFovConfig(0, "10.5");
    manager_->SetMultiFovConfig(5, "60");
    manager_->Run(kPointCloud);
    EXPECT_TRUE(manager_->successMessage().startsWith("Set Lidar Successfully"));
    Connect(sim);
    manager_->GetLidarModuleInfo(kPointCloud);
    ASSERT_TRUE(WaitWithEvents([&] { return manager_->FovList()[0].toString() == "10.5"; }));
    EXPECT_EQ(manager_->FovList()[5].toString(), "60.0");
}

TEST_F(ManagerIoTest, RangeChecks_ScaledSingleAndIntegerPageChecksDiffer) {
    TableSim sim("Corvel");
    Connect(sim);
    QSignalSpy out_of_range(manager_.get(), &DeviceBenchManager::someVarOutOfRange);
    EXPECT_TRUE(manager_->CheckModuleVarsWithinRange(kPointCloud));
    Edit(kPointCloud, 0, 2, "301");  // Max Range 1~300
    EXPECT_FALSE(manager_->CheckVarIsWithinRange("Max Range"));
    EXPECT_FALSE(manager_->CheckModuleVarsWithinRange(kPointCloud));
    EXPECT_EQ(out_of_range.count(), 1);
    EXPECT_EQ(out_of_range.first().first().toString(), "Max Range");
    Edit(kPointCloud, 0, 2, "300");
    Edit(kPointCloud, 0, 4, "-20");  // Intensity Threshold -20~20
    EXPECT_TRUE(manager_->CheckModuleVarsWithinRange(kPointCloud));
    Edit(kNetwork, 0, 0, "192.168.1.300");
    EXPECT_FALSE(manager_->CheckModuleVarsWithinRange(kNetwork));
    EXPECT_TRUE(manager_->CheckVarIsWithinRange("No Such Variable"));
    EXPECT_TRUE(manager_->CheckVarExistsInConfigFileByName("max   RANGE"));
    EXPECT_FALSE(manager_->CheckVarExistsInConfigFileByName(""));
}

TEST_F(ManagerIoTest, Save_OfAGroupSharedWithAnotherPageKeepsThatPagesDeviceBytes) {
    krell::test::TempDir dir;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.File("Config/varID"))));
    const std::string table = dir.File("Config/varID/Mixed.csv");
    std::ofstream(table)
        << "GroupID,Index,VarName,Get,Set,SetIndex,Permission,VarType,DefaultValue,Options,Unit,"
           "Coefficient,OptionDescription,FunctionModule,VarLen,TimerUpdate,SetCoefficient,"
           "GetCmdPayload\n"
           "0,First,Main,,,,,,,,,,,,,,,\n"
           "0,Second,Other,,,,,,,,,,,,,,,\n"
           "1,1,Gain,0x41,0x51,1,1,uint16,100,,,,,1_1_1_1,2,,,\n"
           "1,2,Raw Blob,0x41,0x51,2,1,raw,,,,,,1_1_2_1,3,,,\n"
           "2,1,Threshold,0x41,0x51,3,1,uint32,70000,,,,,2_1_1_1,4,,,\n";
    TableSim sim("Mixed", table);
    ASSERT_TRUE(sim.Ok());
    // The device holds values that differ from the table's defaults.
    krell::lidar::sim::SimRequest set{
        1, 0x51, {0x00, 0x64, 0xAA, 0xBB, 0xCC, 0x01, 0x00, 0x00, 0x01}};
    ASSERT_EQ(sim.Responder().Answer(set).ret_code, 0);
    // The manager finds tables below the working directory; the shipped ones stay untouched.
    QDir::setCurrent(QString::fromStdString(dir.Path()));
    Connect(sim, "Mixed");
    QDir::setCurrent(KRELL_DEVICEBENCH_DIR);
    Edit(0, 0, 0, "513");
    manager_->Run(0);
    EXPECT_TRUE(manager_->successMessage().startsWith("Set Lidar Successfully"))
        << manager_->errorMessage().toStdString();
    EXPECT_EQ(sim.Responder().ValueOf("1-1"), (Bytes{0x02, 0x01}));
    EXPECT_EQ(sim.Responder().ValueOf("1-2"), (Bytes{0xAA, 0xBB, 0xCC}));        // raw kept
    EXPECT_EQ(sim.Responder().ValueOf("2-1"), (Bytes{0x01, 0x00, 0x00, 0x01}));  // > 2^24 kept
}

TEST_F(ManagerIoTest, Save_RefusedWhenNotConnectedAndPendingLeftAlone) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    manager.InitConfigFileParser("Corvel");
    manager.SetText(1, kPointCloud, 0, 2, "250");
    manager.Run(kPointCloud);
    EXPECT_EQ(manager.errorMessage(), "Please connect to lidar first");
    EXPECT_EQ(manager.getSetMapSize(), 1);
    manager.SetText(3, kPointCloud, 0, 0, "7");  // option index out of range
    manager.ClearSetMap();
    EXPECT_EQ(manager.getSetMapSize(), 0);
}

}  // namespace
