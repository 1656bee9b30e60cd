#pragma once
// Fixture of the upgrade tests: the virtual sensor of one model with its serial tunnel and its
// firmware side (exactly as the lidar-sim program composes them), every tunnelled OTA frame
// recorded, a manager connected to it on loopback with short upgrade pauses and time-outs, and
// the manager's log lines collected.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/support/temp_dir.h"
#include "tools/lidar-sim/serial_side.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/sim_setup.h"

namespace krell {
namespace test {

class UpgradeTest : public ::testing::Test {
protected:
    //! A tunnelled OTA frame as the sensor received it.
    struct OtaFrameSeen {
        uint32_t type;
        uint32_t index;
        std::vector<uint8_t> data;
    };

    //! Starts the sensor of `model` and connects a manager to it; false (with a failure) when
    //! either does not stand. The "Minka" model connects through the sensor's pty lines.
    bool Start(const std::string& model);
    //! The manager and the server go before the records their callbacks write into.
    void TearDown() override;

    //! Writes `bytes` to a file in the temporary folder; its path.
    std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);
    //! Waits (events turning) until the upgrade ended; false when it did not within the limit.
    bool WaitUntilIdle(int limit_ms = 10000);
    //! Log lines of the manager so far, in order.
    QStringList Logs() const;
    bool Logged(const QString& part) const;
    //! The OTA frames recorded so far.
    std::vector<OtaFrameSeen> Frames() const;
    //! Data of the OTA frames of `type`, in arrival order.
    std::vector<uint8_t> DataOfType(uint32_t type) const;
    //! Command codes the sensor answered, in order.
    std::vector<uint8_t> Commands() const;

public:
    //! An image whose bytes differ from frame to frame and within each frame.
    static std::vector<uint8_t> Image(size_t size);

protected:

    TempDir dir_;
    std::shared_ptr<lidar::sim::SimDevice> device_ = std::make_shared<lidar::sim::SimDevice>();
    lidar::sim::SerialSide side_;
    lidar::sim::SimSetup setup_;
    std::unique_ptr<lidar::sim::SimServer> server_;
    std::unique_ptr<DeviceBenchManager> manager_;

private:
    void RecordTraffic();

    mutable std::mutex mutex_;  // guards the three records below
    std::vector<OtaFrameSeen> frames_;
    std::vector<uint8_t> commands_;
    QStringList logs_;
};

}  // namespace test
}  // namespace krell
