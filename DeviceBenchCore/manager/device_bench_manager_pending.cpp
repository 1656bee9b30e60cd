// DeviceBenchManager: the operations this build does not carry yet (raw console, maintenance,
// firmware upgrade, model-specific operations). Each one says so through the error window and
// returns its failure value; none pretends to succeed.
#include "DeviceBenchCore/manager/device_bench_manager.h"

void DeviceBenchManager::NotAvailable(const char* operation) {
    const std::string text = std::string(operation) + " is not available in this build";
    Error(text);
    Log(text, "WARNING");
}

void DeviceBenchManager::StartGetConfigFile() {
    NotAvailable("StartGetConfigFile");
}
void DeviceBenchManager::SendCommand(const QString&, const QString&) {
    NotAvailable("SendCommand");
}
int DeviceBenchManager::Restart() {
    NotAvailable("Restart");
    return -1;
}
int DeviceBenchManager::Reset() {
    NotAvailable("Reset");
    return -1;
}
int DeviceBenchManager::UpgradeLidar(const QUrl&, int, int, int) {
    NotAvailable("UpgradeLidar");
    return -1;
}
int DeviceBenchManager::MinkaUpgradeLidar(const QUrl&) {
    NotAvailable("MinkaUpgradeLidar");
    return -1;
}
int DeviceBenchManager::RuskoUpgradeLidar(const QUrl&) {
    NotAvailable("RuskoUpgradeLidar");
    return -1;
}
int DeviceBenchManager::DownloadOperationLog(const QUrl&) {
    NotAvailable("DownloadOperationLog");
    return -1;
}
int DeviceBenchManager::DownloadOperationLogThread(const QUrl&) {
    NotAvailable("DownloadOperationLogThread");
    return -1;
}
int DeviceBenchManager::DownloadLog(const QUrl&, const QString&) {
    NotAvailable("DownloadLog");
    return -1;
}
void DeviceBenchManager::MinkaSetStandby(int) {
    NotAvailable("MinkaSetStandby");
}
void DeviceBenchManager::MinkaSetSpinRate(int) {
    NotAvailable("MinkaSetSpinRate");
}
void DeviceBenchManager::MinkaSetReturnMode(int) {
    NotAvailable("MinkaSetReturnMode");
}
int DeviceBenchManager::MinkaGetCorrection(const QString&) {
    NotAvailable("MinkaGetCorrection");
    return -1;
}
QVariantList DeviceBenchManager::MinkaGetLidarFunctionSafety() {
    NotAvailable("MinkaGetLidarFunctionSafety");
    return {};
}
QString DeviceBenchManager::MinkaGetBaudRate() {
    NotAvailable("MinkaGetBaudRate");
    return {};
}
void DeviceBenchManager::MinkaSetBaudRateFromUI(const QString&) {
    NotAvailable("MinkaSetBaudRateFromUI");
}
QVariantList DeviceBenchManager::MinkaGetDestinationConfig(bool) {
    NotAvailable("MinkaGetDestinationConfig");
    return {};
}
bool DeviceBenchManager::MinkaSetDestinationIPandPort(const QString&, int) {
    NotAvailable("MinkaSetDestinationIPandPort");
    return false;
}
void DeviceBenchManager::MinkaSetUpgradeMode(int) {
    NotAvailable("MinkaSetUpgradeMode");
}
void DeviceBenchManager::RuskoSetIMURange(int, int) {
    NotAvailable("RuskoSetIMURange");
}
