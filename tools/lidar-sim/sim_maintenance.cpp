#include "tools/lidar-sim/sim_maintenance.h"

#include <algorithm>
#include <cstdio>

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr uint8_t kOperationLogPrefix[] = {0x00, 0x00, 0x01, 0x40};
constexpr size_t kPrefixBytes = sizeof(kOperationLogPrefix);
constexpr size_t kSelectorBytes = 2;
constexpr uint32_t kPatternMultiplier = 1103515245u;
constexpr uint32_t kPatternIncrement = 12345u;

bool IsOperationLogRequest(const SimRequest& request) {
    return request.payload.size() == kPrefixBytes + kSelectorBytes &&
           std::equal(std::begin(kOperationLogPrefix), std::end(kOperationLogPrefix),
                      request.payload.begin());
}

}  // namespace

std::vector<uint8_t> SimMaintenance::OperationLogBytes(uint8_t high, uint8_t low, size_t size) {
    char head[64];
    std::snprintf(head, sizeof(head), "operation log part %02x %02x\n", high, low);
    std::vector<uint8_t> bytes(head, head + std::min(size, std::char_traits<char>::length(head)));
    // A generator rather than a repeated line: a misplaced or duplicated chunk must show.
    uint32_t state = (static_cast<uint32_t>(high) << 8 | low) + 1;
    bytes.reserve(size);
    while (bytes.size() < size) {
        state = state * kPatternMultiplier + kPatternIncrement;
        bytes.push_back(static_cast<uint8_t>(state >> 16));
    }
    return bytes;
}

std::vector<uint8_t> SimMaintenance::ConfigFile(const std::string& model) {
    const std::string text = "[lidar]\nmodel=" + model +
                             "\nreturn_mode=strongest\nspin_rate_rpm=600\n"
                             "[network]\nlidar_ip=127.0.0.1\ncmx_port=9347\npoint_port=2368\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

void SimMaintenance::Install(SimDevice& device, const std::string& model) {
    const std::vector<uint8_t> config = ConfigFile(model);
    device.SetHandler(kCmdConfigFile, [config](const SimRequest&) {
        SimReply reply;
        reply.payload = config;
        return reply;
    });
    std::shared_ptr<SimMaintenance> self = shared_from_this();
    CommandHandler fallback = device.HandlerFor(kCmdTunnel);
    SimDevice* store = &device;
    device.SetHandler(kCmdTunnel, [self, fallback, store](const SimRequest& request) {
        if (!IsOperationLogRequest(request))
            return fallback ? fallback(request) : store->StoreAndReturn(request);
        // The tunnel answers behind the prefix of its request, as every tunnelled command does.
        const std::vector<uint8_t> prefix(request.payload.begin(),
                                          request.payload.begin() + kPrefixBytes);
        SimReply reply;
        reply.shared_payload = self->LogReply(prefix, request.payload[kPrefixBytes],
                                              request.payload[kPrefixBytes + 1]);
        return reply;
    });
}

std::shared_ptr<const std::vector<uint8_t>> SimMaintenance::LogReply(
    const std::vector<uint8_t>& prefix, uint8_t high, uint8_t low) {
    const size_t size = LogBytes();
    const bool cached = high <= 1 && low <= 1;
    const size_t slot = static_cast<size_t>(high) * 2 + low;
    if (cached) {
        std::lock_guard<std::mutex> lock(cache_mutex_);
        const auto& reply = cache_[slot];
        if (reply && reply->size() == kPrefixBytes + size &&
            std::equal(prefix.begin(), prefix.end(), reply->begin())) {
            return reply;
        }
    }
    auto reply = std::make_shared<std::vector<uint8_t>>(prefix);
    const std::vector<uint8_t> log = OperationLogBytes(high, low, size);
    reply->insert(reply->end(), log.begin(), log.end());
    if (cached) {
        std::lock_guard<std::mutex> lock(cache_mutex_);
        cache_[slot] = reply;
    }
    return reply;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
