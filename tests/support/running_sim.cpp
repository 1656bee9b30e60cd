#include "tests/support/running_sim.h"

#include "tools/lidar-sim/builtin_handlers.h"

namespace krell {
namespace test {
namespace {

std::shared_ptr<lidar::sim::SimDevice> MakeDevice() {
    auto device = std::make_shared<lidar::sim::SimDevice>();
    lidar::sim::RegisterBuiltinHandlers(*device, "Corvel");
    return device;
}

}  // namespace

RunningSim::RunningSim() : device_(MakeDevice()), server_(device_) {
    ok_ = server_.Start(lidar::sim::SimServerOptions{});
}

RunningSim::RunningSim(const CertFactory& certs) : device_(MakeDevice()), server_(device_) {
    lidar::sim::SimServerOptions options;
    options.tls = true;
    options.cert_path = certs.ServerCertPath();
    options.key_path = certs.ServerKeyPath();
    options.ca_path = certs.CaPath();
    ok_ = certs.Ok() && server_.Start(options);
}

}  // namespace test
}  // namespace krell
