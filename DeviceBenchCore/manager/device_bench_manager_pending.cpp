// DeviceBenchManager: the operations this build does not carry yet (the model-specific
// operations). Each one says so through the error window and
// returns its failure value; none pretends to succeed.
#include "DeviceBenchCore/manager/device_bench_manager.h"

void DeviceBenchManager::NotAvailable(const char* operation) {
    const std::string text = std::string(operation) + " is not available in this build";
    Error(text);
    Log(text, "WARNING");
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
void DeviceBenchManager::RuskoSetIMURange(int, int) {
    NotAvailable("RuskoSetIMURange");
}
