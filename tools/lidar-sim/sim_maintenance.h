#pragma once
// SimMaintenance: what the virtual sensor serves for the maintenance controls: the four parts of
// the operation log (behind the tunnel prefix 00 00 01 40 and two selector bytes), sized as the
// owner sets (several MiB are fine), and the configuration file (command 0x74). Restart and reset
// rows are the table responder's (it drops the link after their reply).
//
// Thread-safe: handlers run on the server's connection threads; the size is an atomic and the
// replies made so far are kept under a lock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libkrell/CmxClient/cmx_codes.h"
#include "tools/lidar-sim/sim_device.h"

namespace krell {
namespace lidar {
namespace sim {

class SimMaintenance : public std::enable_shared_from_this<SimMaintenance> {
public:
    //! Size of each operation-log part until SetLogBytes changes it.
    static constexpr size_t kDefaultLogBytes = 256 * 1024;

    //! The sensor's bytes of operation-log part (`high`, `low`), `size` bytes long: a text line
    //! naming the part, then a pattern that differs per part and per position.
    static std::vector<uint8_t> OperationLogBytes(uint8_t high, uint8_t low, size_t size);
    //! The configuration file the sensor of `model` hands out.
    static std::vector<uint8_t> ConfigFile(const std::string& model);

    //! Size of every operation-log part from the next request on. Any thread.
    void SetLogBytes(size_t size) { log_bytes_ = size; }
    size_t LogBytes() const { return log_bytes_.load(); }

    //! Registers the 0x74 handler and puts the operation-log answer in front of the 0xFF handler
    //! registered so far (every other tunnelled request still reaches it). The device keeps this
    //! object alive through its handlers.
    void Install(SimDevice& device, const std::string& model);

private:
    //! The reply payload (tunnel prefix, then the part's bytes) of part `high` `low` at the
    //! current size. Made once per part and size: a sensor hands out what it has stored, and the
    //! generator must not dominate the time of a multi-MiB download.
    std::shared_ptr<const std::vector<uint8_t>> LogReply(const std::vector<uint8_t>& prefix,
                                                         uint8_t high, uint8_t low);

    std::atomic<size_t> log_bytes_{kDefaultLogBytes};
    std::mutex cache_mutex_;  // guards cache_
    // Indexed by (high & 1) * 2 + (low & 1); other selectors are not cached.
    std::shared_ptr<const std::vector<uint8_t>> cache_[4];
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
