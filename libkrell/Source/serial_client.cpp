#include "libkrell/Source/serial_client.h"

#include <utility>

#include "libkrell/Frame/hex_text.h"
#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace {

constexpr int32_t kReplyType = 1;
constexpr int32_t kEmptyReplyQueue = 2;
constexpr size_t kChangeModeBodyBytes = 5;

}  // namespace

void SerialClient::Init(std::shared_ptr<Source> send_source,
                        std::shared_ptr<Source> receive_source) {
    send_source_ = std::move(send_source);
    receive_source_ = std::move(receive_source);
}

void SerialClient::ReportByteFlow(const std::string& text) const {
    if (byte_flow_callback) byte_flow_callback(text);
}

int32_t SerialClient::SerialQuery(uint8_t cmd, const std::vector<uint8_t>& payload,
                                  std::vector<uint8_t>& out, int32_t timeout_ms) {
    if (!send_source_ || !receive_source_ || !send_source_->IsOpened() ||
        !receive_source_->IsOpened()) {
        return kNotReady;
    }
    const std::vector<uint8_t> frame = SerialFrame::EncodeRequest(cmd, payload);
    ReportByteFlow("SEND: " + ToHexText(frame.data(), frame.size()));
    // A late reply to an earlier exchange must not be taken for this one.
    receive_source_->SetReceiveType(kEmptyReplyQueue);
    if (frame.size() > UINT16_MAX ||
        send_source_->Send(frame.data(), static_cast<uint16_t>(frame.size()), 0) <
            static_cast<int32_t>(frame.size())) {
        return kNotReady;
    }
    UdpPacket reply{};
    if (receive_source_->Receive(reply, sizeof(reply.data), kReplyType, timeout_ms) < 0) {
        return kNoReply;
    }
    ReportByteFlow("RECV: " + ToHexText(reply.data, reply.length));
    std::vector<uint8_t> body;
    if (!SerialFrame::CheckReply(reply.data, reply.length, &body)) return kInvalidReply;
    out = std::move(body);
    return 0;
}

int32_t SerialClient::ChangeMode(uint8_t mode, uint8_t arg) {
    std::vector<uint8_t> body;
    const int32_t result = SerialQuery(kChangeModeCmd, {mode, arg}, body, kChangeModeTimeoutMs);
    if (result != 0) return result;
    if (body.size() != kChangeModeBodyBytes || body[1] != kChangeModeCmd || body[2] != mode) {
        return kInvalidReply;
    }
    return body[4];
}

}  // namespace lidar
}  // namespace krell
