// DeviceBenchManager: the firmware upgrade invokables. UpgradeOperation does the work and
// reports through this object's Reporter side, like every other operation.
#include "DeviceBenchCore/manager/device_bench_manager.h"

#include "DeviceBenchCore/manager/device_session.h"

int DeviceBenchManager::UpgradeLidar(const QUrl& fileUrl, int level1, int level2, int position) {
    if (!session_->table.HasTable()) return -1;
    if (!ElementExists(level1, level2, position, "UpgradeLidar")) return -1;
    const VarInfo* row = session_->table.Element(level1, level2, position);
    return upgrade_->StartNetwork(fileUrl.toLocalFile().toStdString(), row->set_cmd);
}

int DeviceBenchManager::MinkaUpgradeLidar(const QUrl& fileUrl) {
    return upgrade_->StartMinka(fileUrl.toLocalFile().toStdString());
}

int DeviceBenchManager::RuskoUpgradeLidar(const QUrl& fileUrl) {
    return upgrade_->StartRusko(fileUrl.toLocalFile().toStdString());
}

void DeviceBenchManager::MinkaSetUpgradeMode(int mode) {
    if (mode < UpgradeOperation::kModeApp || mode > UpgradeOperation::kModeFileStream) {
        Refuse("MinkaSetUpgradeMode", "the upgrade mode " + std::to_string(mode) +
                                          " is none of 0 (application and FPGA), 1 (boot "
                                          "loader) and 2 (file streaming)");
        return;
    }
    session_->link.upgrade_mode = mode;
}

void DeviceBenchManager::SetUpgradeTimings(const UpgradeTimings& timings) {
    upgrade_->SetTimings(timings);
}
