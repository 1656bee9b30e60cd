#include "lumora-core/sdk_source.h"

#include <cstdio>

namespace krell {
namespace lumora {

namespace {
constexpr char kSdkVersion[] = "2.0.12";
}  // namespace

SDKSource::SDKSource(QObject* parent) : Source_LM(parent) {
    std::printf("-------- Krell Lidar SDK V%s --------\n", kSdkVersion);
    std::fflush(stdout);
}

SDKSource::~SDKSource() {
    sdk_.stop();
}

KrellLidarSdk<SDKPointInfo>& SDKSource::sdk() {
    return sdk_;
}

KrellLidarSdkParam SDKSource::sdkParam() const {
    std::lock_guard<std::mutex> lock(param_mutex_);
    return param_;
}

bool SDKSource::setSdkParam(const KrellLidarSdkParam& param) {
    std::lock_guard<std::mutex> lock(param_mutex_);
    if (!sdk_.setParam(param)) return false;
    param_ = param;
    return true;
}

}  // namespace lumora
}  // namespace krell
