#include "tools/lidar-sim/builtin_handlers.h"

#include <vector>

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr uint16_t kTenthsPerChannel = 720;
constexpr uint16_t kPointPort = 2368;

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

std::vector<uint8_t> InitialFov() {
    std::vector<uint8_t> reply{kFovModeMulti, static_cast<uint8_t>(kFovChannels)};
    for (uint16_t i = 0; i < kFovChannels; ++i) {
        PutU16(reply, static_cast<uint16_t>(i * kTenthsPerChannel));
        PutU16(reply, static_cast<uint16_t>((i + 1) * kTenthsPerChannel));
    }
    return reply;
}

// The read-back form of a write: mode 0 keeps its 5 bytes; mode 3 always reports five channel
// slots, the unused ones zero. Returns false for a payload that matches neither layout.
bool FovReadBack(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
    if (request.size() == kFovSingleBytes && request[0] == kFovModeSingle) {
        reply = request;
        return true;
    }
    if (request.size() < 2 || request[0] != kFovModeMulti) {
        return false;
    }
    const size_t channels = request[1];
    if (channels > kFovChannels || request.size() != 2 + 4 * channels) {
        return false;
    }
    reply.assign(kFovMultiReplyBytes, 0);
    reply[0] = kFovModeMulti;
    reply[1] = static_cast<uint8_t>(channels);
    std::copy(request.begin() + 2, request.end(), reply.begin() + 2);
    return true;
}

//! Offset of the point-data destination (address, then port) in the network probe's reply.
constexpr size_t kDestinationAt = 12;

std::vector<uint8_t> NetworkInfo() {
    // Bytes 12..15 the point-data destination address, 16..17 its port.
    std::vector<uint8_t> info{127, 0, 0, 1, 255, 0, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
    PutU16(info, kPointPort);
    return info;
}

}  // namespace

void RegisterBuiltinHandlers(SimDevice& device, const std::string& model) {
    const std::string info = "KRELL-SIM " + model;
    device.Store(kCmdProbeInfo, std::vector<uint8_t>(info.begin(), info.end()));
    device.Store(kCmdProbeNetwork, NetworkInfo());
    device.Store(kCmdGetFov, InitialFov());
    for (uint8_t probe : {kCmdProbeInfo, kCmdProbeNetwork, kCmdGetFov}) {
        device.SetHandler(probe, [&device, probe](const SimRequest&) {
            SimReply reply;
            reply.payload = device.Stored(probe);
            return reply;
        });
    }
    // The destination set here is what the network probe reports from then on.
    device.SetHandler(kCmdSetDestination, [&device](const SimRequest& request) {
        SimReply reply;
        constexpr size_t kDestinationBytes = 8;
        std::vector<uint8_t> info = device.Stored(kCmdProbeNetwork);
        if (request.payload.size() < kDestinationBytes || info.size() < kDestinationAt + 6) {
            reply.ret_code = kRetBadParameter;
            return reply;
        }
        std::copy(request.payload.begin(), request.payload.begin() + 6,
                  info.begin() + kDestinationAt);
        device.Store(kCmdProbeNetwork, std::move(info));
        return reply;
    });
    device.SetHandler(kCmdSetFov, [&device](const SimRequest& request) {
        SimReply reply;
        std::vector<uint8_t> read_back;
        if (FovReadBack(request.payload, read_back)) {
            device.Store(kCmdGetFov, std::move(read_back));
        } else {
            reply.ret_code = kRetBadParameter;
        }
        return reply;
    });
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
