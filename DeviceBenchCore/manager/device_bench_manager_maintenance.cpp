// DeviceBenchManager: the maintenance invokables. MaintenanceOperation does the work; the hooks
// below turn its notices into this object's signals on the UI thread.
#include "DeviceBenchCore/manager/device_bench_manager.h"

#include "DeviceBenchCore/manager/device_session.h"

MaintenanceHooks DeviceBenchManager::MakeMaintenanceHooks() {
    MaintenanceHooks hooks;
    hooks.stop = [this] { Stop(); };
    hooks.downloading_changed = [this] { OnOwnerThread([this] { emit isDownloadLogChanged(); }); };
    hooks.operation_log_finished = [this](bool result) {
        OnOwnerThread([this, result] { emit downloadOperationLogFinished(result); });
    };
    hooks.log_finished = [this] { OnOwnerThread([this] { emit downloadFinished(); }); };
    hooks.restore_byte_flow = [this] {
        if (session_->Cmx()) connection_->AttachByteFlow();
    };
    return hooks;
}

void DeviceBenchManager::StartGetConfigFile() {
    maintenance_.StartGetConfigFile();
}

int DeviceBenchManager::Restart() {
    return maintenance_.Restart();
}

int DeviceBenchManager::Reset() {
    return maintenance_.Reset();
}

int DeviceBenchManager::DownloadOperationLog(const QUrl& fileUrl) {
    return maintenance_.StartOperationLog(fileUrl.toLocalFile().toStdString());
}

int DeviceBenchManager::DownloadOperationLogThread(const QUrl& fileUrl) {
    return maintenance_.DownloadOperationLog(fileUrl.toLocalFile().toStdString());
}

int DeviceBenchManager::DownloadLog(const QUrl& fileUrl, const QString& type) {
    return maintenance_.StartLog(fileUrl.toLocalFile().toStdString(), type.toStdString());
}
