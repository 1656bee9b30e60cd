// DeviceBenchManager: the maintenance invokables. MaintenanceOperation does the work and reports
// through this object's Reporter side, like every other operation.
#include "DeviceBenchCore/manager/device_bench_manager.h"

#include "DeviceBenchCore/manager/device_session.h"

void DeviceBenchManager::StartGetConfigFile() {
    maintenance_->StartGetConfigFile();
}

int DeviceBenchManager::Restart() {
    return maintenance_->Restart();
}

int DeviceBenchManager::Reset() {
    return maintenance_->Reset();
}

int DeviceBenchManager::DownloadOperationLog(const QUrl& fileUrl) {
    return maintenance_->StartOperationLog(fileUrl.toLocalFile().toStdString());
}

int DeviceBenchManager::DownloadOperationLogThread(const QUrl& fileUrl) {
    return maintenance_->DownloadOperationLog(fileUrl.toLocalFile().toStdString());
}

int DeviceBenchManager::DownloadLog(const QUrl& fileUrl, const QString& type) {
    return maintenance_->StartLog(fileUrl.toLocalFile().toStdString(), type.toStdString());
}
