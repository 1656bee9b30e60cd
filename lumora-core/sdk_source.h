#pragma once
// SDKSource: a live lidar read through the Krell lidar SDK driver, which the source owns.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>

#include "driver/krell_lidar_sdk.h"
#include "lumora-core/source_lm.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT SDKSource : public Source_LM {
    Q_OBJECT

public:
    //! Prints the SDK banner on standard output.
    explicit SDKSource(QObject* parent = nullptr);
    //! Stops the driver (which logs "Krell Lidar SDK is stopping...").
    ~SDKSource() override;

    //! The driver; the viewer sets its parameters and callback, then starts it. Owned by this source.
    KrellLidarSdk<SDKPointInfo>& sdk();
    //! A copy of the driver parameters this source was configured with.
    KrellLidarSdkParam sdkParam() const;
    //! Stores `param` and hands it to the driver; false while the driver runs.
    bool setSdkParam(const KrellLidarSdkParam& param);

protected:
    QByteArray model_bytes_;
    std::shared_ptr<bool> connected_ = std::make_shared<bool>(false);
    QString device_name_;
    QString firmware_version_;
    int32_t frame_index_ = 0;
    int32_t frames_per_read_ = 1;
    double min_distance_m_ = -1.0;  // -1: no lower distance filter
    double max_distance_m_ = -1.0;  // -1: no upper distance filter
    int32_t queue_frames_ = 128;
    int32_t echo_mode_ = 1;
    int32_t dropped_frames_ = 0;
    mutable std::mutex param_mutex_;  // guards param_
    KrellLidarSdkParam param_;
    KrellLidarSdk<SDKPointInfo> sdk_;
    QByteArray calibration_bytes_;
};

}  // namespace lumora
}  // namespace krell
