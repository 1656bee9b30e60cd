#pragma once
// RunningSim: the virtual sensor in this process (built-in handlers, model "Corvel"), serving
// on an ephemeral loopback port over TCP, or over TLS with the given certificates.

#include <cstdint>
#include <memory>

#include "tests/support/cert_factory.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"

namespace krell {
namespace test {

class RunningSim {
public:
    //! Plain TCP. Ok() tells whether the server started.
    RunningSim();
    //! TLS with the factory's server certificate; client certificates are required and checked
    //! against the factory's CA.
    explicit RunningSim(const CertFactory& certs);

    bool Ok() const { return ok_; }
    uint16_t Port() const { return server_.Port(); }
    lidar::sim::SimDevice& Device() { return *device_; }
    lidar::sim::SimServer& Server() { return server_; }

private:
    std::shared_ptr<lidar::sim::SimDevice> device_;
    lidar::sim::SimServer server_;
    bool ok_ = false;
};

}  // namespace test
}  // namespace krell
