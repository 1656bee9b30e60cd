// DeviceBenchManager: the Minka and Rusko invokables, each a thin turn of the toolkit types
// into ModelOperation's.
#include "DeviceBenchCore/manager/device_bench_manager.h"

namespace {

QVariantList ToVariantList(const std::vector<std::string>& texts) {
    QVariantList list;
    for (const std::string& text : texts) list << QString::fromStdString(text);
    return list;
}

}  // namespace

void DeviceBenchManager::MinkaSetStandby(int standby) {
    model_->SetStandby(standby);
}
void DeviceBenchManager::MinkaSetSpinRate(int spin_rate) {
    model_->SetSpinRate(spin_rate);
}
void DeviceBenchManager::MinkaSetReturnMode(int return_mode) {
    model_->SetReturnMode(return_mode);
}
int DeviceBenchManager::MinkaGetCorrection(const QString& path) {
    return model_->Correction(path.toStdString());
}
QVariantList DeviceBenchManager::MinkaGetLidarFunctionSafety() {
    return ToVariantList(model_->FunctionSafety());
}
QString DeviceBenchManager::MinkaGetBaudRate() {
    return QString::fromStdString(model_->GetBaudRate());
}
void DeviceBenchManager::MinkaSetBaudRateFromUI(const QString& baudRateStr) {
    uint32_t baud = 0;
    // The next serial connection and the first line speed of a tunnelled upgrade use it.
    if (model_->SetBaudRate(baudRateStr.trimmed().toStdString(), baud))
        settings_.baud_rate = static_cast<int32_t>(baud);
}
QVariantList DeviceBenchManager::MinkaGetDestinationConfig(bool silent) {
    return ToVariantList(model_->GetDestination(silent));
}
bool DeviceBenchManager::MinkaSetDestinationIPandPort(const QString& ip, int port) {
    return model_->SetDestination(ip.toStdString(), port);
}
void DeviceBenchManager::RuskoSetIMURange(int angularRangeIndex, int accelRangeIndex) {
    model_->SetImuRange(angularRangeIndex, accelRangeIndex);
}
