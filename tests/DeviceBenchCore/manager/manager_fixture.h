#pragma once
// Fixtures of the manager tests: a Qt application whose documents location is a temporary
// directory (the user's real settings file is never touched), the virtual sensor speaking a
// model's table on a loopback port, and waits that keep the Qt event loop turning.

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/table_responder.h"

namespace krell {
namespace test {

//! Makes the QCoreApplication once (HOME and XDG paths in a temporary directory first) and
//! makes DeviceBench/ the working directory, so "./Config/varID" holds the shipped tables.
//! Aborts the test program when the settings file would land outside the temporary directory.
void EnsureManagerApp();
//! The temporary home of EnsureManagerApp.
std::string TestHome();

//! Turns the event loop until `predicate` holds or `limit_ms` passed; its last value.
bool WaitWithEvents(const std::function<bool()>& predicate, int limit_ms = 5000);
//! Turns the event loop for `ms`.
void SpinEvents(int ms);

//! A manager on the table of `model` that has connected to 127.0.0.1:`port` (waited for with
//! events turning); it may still be unconnected when the sensor did not answer: check
//! IsConnected.
std::unique_ptr<DeviceBenchManager> ConnectedManager(uint16_t port, const QString& model);

//! The virtual sensor of one model: built-in handlers and the model's table responder.
class TableSim {
public:
    //! `table_path` empty: the shipped table of `model`. Ok() tells whether it serves.
    explicit TableSim(const std::string& model, const std::string& table_path = "",
                      bool tls = false, const std::string& cert = "", const std::string& key = "",
                      const std::string& ca = "");
    bool Ok() const { return ok_; }
    uint16_t Port() const { return server_->Port(); }
    lidar::sim::SimDevice& Device() { return *device_; }
    lidar::sim::SimServer& Server() { return *server_; }
    lidar::sim::TableResponder& Responder() { return *responder_; }
    //! Records the command code of every request the device answers, in order.
    std::vector<uint8_t> Commands() const;
    //! Wraps the handler of `cmd`: requests after the first `answered` ones get no reply.
    void SilenceAfter(uint8_t cmd, int answered);

private:
    std::shared_ptr<lidar::sim::SimDevice> device_;
    std::shared_ptr<lidar::sim::TableResponder> responder_;
    std::unique_ptr<lidar::sim::SimServer> server_;
    std::shared_ptr<std::vector<uint8_t>> commands_;
    std::shared_ptr<std::mutex> commands_mutex_;
    bool ok_ = false;
};

}  // namespace test
}  // namespace krell
