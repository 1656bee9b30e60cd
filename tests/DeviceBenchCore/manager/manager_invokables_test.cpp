// Every invokable that takes a page index, a level, a position or a name, called with values
// that name nothing (past the end, negative, empty) while disconnected and while connected: none
// may crash or touch the sensor, each answers its failure value and says why in one log line.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"

namespace {

using krell::test::TableSim;

struct BadCall {
    std::string name;
    //! Makes the call on a manager whose table has `pages` pages; its result (invalid: void).
    std::function<QVariant(DeviceBenchManager&, int pages)> call;
    QVariant expected;
};

std::vector<BadCall> BadCalls() {
    using M = DeviceBenchManager;
    const QUrl folder = QUrl::fromLocalFile("/nonexistent-folder");
    return {
        {"Run past the end",
         [](M& m, int n) {
             m.Run(n);
             return QVariant();
         },
         {}},
        {"Run negative",
         [](M& m, int) {
             m.Run(-1);
             return QVariant();
         },
         {}},
        {"GetLidarModuleInfo past the end",
         [](M& m, int n) {
             m.GetLidarModuleInfo(n);
             return QVariant();
         },
         {}},
        {"GetLidarModuleInfo negative",
         [](M& m, int) {
             m.GetLidarModuleInfo(-1);
             return QVariant();
         },
         {}},
        {"SetText page",
         [](M& m, int n) {
             m.SetText(1, n, 0, 0, "1");
             return QVariant();
         },
         {}},
        {"SetText section",
         [](M& m, int) {
             m.SetText(1, 0, 99, 0, "1");
             return QVariant();
         },
         {}},
        {"SetText position",
         [](M& m, int) {
             m.SetText(1, 0, 0, 999, "1");
             return QVariant();
         },
         {}},
        {"SetText negative",
         [](M& m, int) {
             m.SetText(3, -1, -1, -1, "1");
             return QVariant();
         },
         {}},
        {"CheckModuleVarsWithinRange past the end",
         [](M& m, int n) { return QVariant(m.CheckModuleVarsWithinRange(n)); }, false},
        {"CheckModuleVarsWithinRange negative",
         [](M& m, int) { return QVariant(m.CheckModuleVarsWithinRange(-1)); }, false},
        {"SetMultiFovConfig past the end",
         [](M& m, int) {
             m.SetMultiFovConfig(10, "5");
             return QVariant();
         },
         {}},
        {"SetMultiFovConfig negative",
         [](M& m, int) {
             m.SetMultiFovConfig(-1, "5");
             return QVariant();
         },
         {}},
        {"isTimerUpdate page", [](M& m, int n) { return QVariant(m.isTimerUpdate(n, 0, 0)); },
         false},
        {"isTimerUpdate section", [](M& m, int) { return QVariant(m.isTimerUpdate(0, 99, 0)); },
         false},
        {"isTimerUpdate position", [](M& m, int) { return QVariant(m.isTimerUpdate(0, 0, 999)); },
         false},
        {"isTimerUpdate negative", [](M& m, int) { return QVariant(m.isTimerUpdate(-1, 0, 0)); },
         false},
        {"setModuleIndexUse past the end",
         [](M& m, int n) {
             m.setModuleIndexUse(n);
             return QVariant();
         },
         {}},
        {"setModuleIndexUse negative",
         [](M& m, int) {
             m.setModuleIndexUse(-1);
             return QVariant();
         },
         {}},
        {"UpdateSingleVarInfo empty", [](M& m, int) { return QVariant(m.UpdateSingleVarInfo("")); },
         false},
        {"UpdateSingleVarInfo unknown",
         [](M& m, int) { return QVariant(m.UpdateSingleVarInfo("No Such Variable")); }, false},
        {"UpdateSingleVarInfo search type",
         [](M& m, int) { return QVariant(m.UpdateSingleVarInfo("Motor Speed", "colour")); }, false},
        // A variable that cannot be found cannot be out of range.
        {"CheckVarIsWithinRange empty",
         [](M& m, int) { return QVariant(m.CheckVarIsWithinRange("")); }, true},
        {"CheckVarIsWithinRange search type",
         [](M& m, int) { return QVariant(m.CheckVarIsWithinRange("Motor Speed", "")); }, true},
        {"CheckVarExistsInConfigFileByName empty",
         [](M& m, int) { return QVariant(m.CheckVarExistsInConfigFileByName(" ")); }, false},
        {"InitConfigFileParser unknown",
         [](M& m, int) {
             m.InitConfigFileParser("NoSuchModel");
             return QVariant();
         },
         {}},
        {"InitConfigFileParser empty",
         [](M& m, int) {
             m.InitConfigFileParser();
             return QVariant();
         },
         {}},
        {"DownloadLog empty name",
         [folder](M& m, int) { return QVariant(m.DownloadLog(folder, "")); }, -1},
        {"DownloadLog name with a path",
         [folder](M& m, int) { return QVariant(m.DownloadLog(folder, "../x")); }, -1},
        {"DownloadOperationLog empty path",
         [](M& m, int) { return QVariant(m.DownloadOperationLog(QUrl())); }, -1},
        {"DownloadOperationLogThread empty path",
         [](M& m, int) { return QVariant(m.DownloadOperationLogThread(QUrl())); }, -1},
        {"UpgradeLidar", [](M& m, int n) { return QVariant(m.UpgradeLidar(QUrl(), n, -1, -1)); },
         -1},
        {"MinkaUpgradeLidar", [](M& m, int) { return QVariant(m.MinkaUpgradeLidar(QUrl())); }, -1},
        {"RuskoUpgradeLidar", [](M& m, int) { return QVariant(m.RuskoUpgradeLidar(QUrl())); }, -1},
        {"MinkaGetCorrection", [](M& m, int) { return QVariant(m.MinkaGetCorrection("")); }, -1},
        {"MinkaSetDestinationIPandPort",
         [](M& m, int) { return QVariant(m.MinkaSetDestinationIPandPort("", -1)); }, false},
        {"MinkaSetBaudRateFromUI",
         [](M& m, int) {
             m.MinkaSetBaudRateFromUI("");
             return QVariant();
         },
         {}},
        {"MinkaSetStandby",
         [](M& m, int) {
             m.MinkaSetStandby(-1);
             return QVariant();
         },
         {}},
        {"MinkaSetSpinRate",
         [](M& m, int) {
             m.MinkaSetSpinRate(-1);
             return QVariant();
         },
         {}},
        {"MinkaSetReturnMode",
         [](M& m, int) {
             m.MinkaSetReturnMode(-1);
             return QVariant();
         },
         {}},
        {"MinkaSetUpgradeMode",
         [](M& m, int) {
             m.MinkaSetUpgradeMode(-1);
             return QVariant();
         },
         {}},
        {"RuskoSetIMURange",
         [](M& m, int) {
             m.RuskoSetIMURange(-1, 99);
             return QVariant();
         },
         {}},
    };
}

void CallEach(DeviceBenchManager& manager, TableSim& sim, bool connected) {
    const int pages = manager.level1List().size();
    ASSERT_GT(pages, 0);
    const int kind = manager.connectType();
    for (const BadCall& bad : BadCalls()) {
        SCOPED_TRACE(bad.name + (connected ? " (connected)" : " (not connected)"));
        QSignalSpy log(&manager, &DeviceBenchManager::sendLogMessage);
        QSignalSpy map(&manager, &DeviceBenchManager::myMapChanged);
        const size_t requests = sim.Server().RequestCount();
        EXPECT_EQ(bad.call(manager, pages), bad.expected);
        krell::test::SpinEvents(5);
        EXPECT_EQ(log.count(), 1);
        EXPECT_EQ(map.count(), 0);
        EXPECT_EQ(sim.Server().RequestCount(), requests) << "the sensor was asked";
        EXPECT_EQ(manager.IsConnected(), connected);
        EXPECT_EQ(manager.level1List().size(), pages) << "the table changed";
        EXPECT_EQ(manager.connectType(), kind);
        EXPECT_EQ(manager.getSetMapSize(), 0);
        EXPECT_FALSE(manager.IsDownloadLog());
    }
}

TEST(ManagerInvokablesTest, ValuesThatNameNothing_AreRefusedWithTheirFailureValueAndOneLine) {
    krell::test::EnsureManagerApp();
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    {
        DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
        manager.InitConfigFileParser("Corvel");
        CallEach(manager, sim, false);
    }
    auto manager = krell::test::ConnectedManager(sim.Port(), "Corvel");
    ASSERT_TRUE(manager->IsConnected());
    CallEach(*manager, sim, true);
}

}  // namespace
