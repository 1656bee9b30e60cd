// The serial tunnel of CmxClient: serial command frames carried in CMX command 0xFF, for sensors
// that take serial commands on their network port.
#include "libkrell/CmxClient/cmx_client.h"

#include "libkrell/CmxClient/cmx_tunnel.h"
#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Frame/serial_frame.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

constexpr uint16_t kMaxSerialCmd = 0xFF;
constexpr uint8_t kChangeModeCmd = 3;
constexpr uint8_t kQueryCmd = 2;
constexpr uint8_t kUpgradeRequestSelector = 5;
constexpr size_t kModeReplyBodyBytes = 5;
constexpr int32_t kWrongShape = -2;

}  // namespace

int32_t CmxClient::SerialTunnelQuery(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                                     uint16_t cmd) {
    // The frame's command field is one byte; sending the low byte would run another command.
    if (cmd > kMaxSerialCmd) {
        SLOG_ERROR("CmxClient::SerialTunnelQuery, serial command 0x%x does not fit one byte",
                   static_cast<unsigned>(cmd));
        return kCmxFailed;
    }
    const std::vector<uint8_t> frame =
        SerialFrame::EncodeRequest(static_cast<uint8_t>(cmd), payload);
    std::vector<uint8_t> request = TunnelPrefix(kTunnelOpSerialFrame);
    request.insert(request.end(), frame.begin(), frame.end());
    std::vector<uint8_t> reply;
    if (QueryCommand(request, reply, kCmdTunnel, false) != kCmxOk) {
        // A reply rejected only for its identifiers or command leaves the code at 0: still a failure.
        const int32_t code = GetLastRetCode();
        return code != kCmxOk ? code : kCmxFailed;
    }
    // A reply of the bare prefix (or less) carries no serial frame: that is no success either.
    if (reply.size() <= kTunnelPrefixBytes) return kCmxFailed;
    std::vector<uint8_t> body;
    if (!SerialFrame::CheckReply(reply.data() + kTunnelPrefixBytes,
                                 reply.size() - kTunnelPrefixBytes, &body)) {
        return kCmxFailed;
    }
    out = std::move(body);
    return kCmxOk;
}

int32_t CmxClient::SetSerialBaudRate(uint32_t baud) {
    std::vector<uint8_t> request = TunnelPrefix(kTunnelOpSetSerialBaud);
    for (int shift = 24; shift >= 0; shift -= 8)
        request.push_back(static_cast<uint8_t>(baud >> shift));
    std::vector<uint8_t> reply;
    return QueryCommand(request, reply, kCmdTunnel, false);
}

int32_t CmxClient::ChangeMode(uint8_t mode, uint8_t arg) {
    std::vector<uint8_t> body;
    if (SerialTunnelQuery({mode, arg}, body, kChangeModeCmd) != kCmxOk) return kCmxFailed;
    if (body.size() != kModeReplyBodyBytes || body[1] != kChangeModeCmd || body[2] != mode) {
        return kWrongShape;
    }
    return body[4];
}

int32_t CmxClient::RequestUpgrade(uint8_t type) {
    std::vector<uint8_t> body;
    if (SerialTunnelQuery({kUpgradeRequestSelector, type}, body, kQueryCmd) != kCmxOk) {
        return kCmxFailed;
    }
    if (body.size() != kModeReplyBodyBytes || body[1] != kQueryCmd ||
        body[2] != kUpgradeRequestSelector || body[3] != type) {
        return kWrongShape;
    }
    return -static_cast<int32_t>(body[4]);
}

int32_t CmxClient::SendOtaFrame(uint32_t total, uint32_t index, uint32_t length,
                                const uint8_t* data, uint8_t& reply_type, uint8_t& reply_status,
                                uint32_t type) {
    const std::vector<uint8_t> frame = OtaFrame::Encode(type, total, index, data, length);
    std::vector<uint8_t> request = TunnelPrefix(kTunnelOpSerialFrame);
    request.insert(request.end(), frame.begin(), frame.end());
    std::vector<uint8_t> reply;
    if (QueryCommand(request, reply, kCmdTunnel, false) != kCmxOk) return kCmxFailed;
    OtaFrame::Reply parsed;
    if (reply.size() <= kTunnelPrefixBytes ||
        !OtaFrame::ParseReply(reply.data() + kTunnelPrefixBytes, reply.size() - kTunnelPrefixBytes,
                              parsed)) {
        return kCmxFailed;
    }
    reply_type = parsed.type;
    reply_status = parsed.status;
    return kCmxOk;
}

}  // namespace lidar
}  // namespace krell
