// Firmware streaming over the two serial lines: the OTA frames and their replies travel on the
// receive (RS-485) source, whose line speed follows its receive type.
#include "libkrell/Source/serial_client.h"

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/Frame/hex_text.h"
#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Frame/ota_streamer.h"

namespace krell {
namespace lidar {
namespace {

constexpr int32_t kPointCloudType = 0;
constexpr int32_t kCommandType = 1;
constexpr int32_t kEmptyReplyQueue = 2;
constexpr uint8_t kQueryCmd = 2;
constexpr uint8_t kUpgradeRequestSelector = 5;
constexpr size_t kRequestBodyBytes = 5;
//! State-query replies of at least this many bytes (length byte up to CRC) come from the boot
//! loader; the application answers shorter or not at all.
constexpr size_t kBootLoaderReplyBytes = 18;
constexpr size_t kReplyCutFront = 7;  // the tag
constexpr size_t kReplyCutBack = 6;   // CRC and end mark

}  // namespace

void SerialClient::CloseBoth() {
    if (send_source_) send_source_->Close();
    if (receive_source_) receive_source_->Close();
}

bool SerialClient::ReopenReceive(int32_t type) {
    receive_source_->Close();
    receive_source_->SetReceiveType(type);
    return receive_source_->Open() && receive_source_->IsOpened();
}

bool SerialClient::ReceiveReply(UdpPacket& packet, int32_t timeout_ms) {
    if (receive_source_->Receive(packet, sizeof(packet.data), kCommandType, timeout_ms) < 0) {
        return false;
    }
    ReportByteFlow("RECV: " + ToHexText(packet.data, packet.length));
    return true;
}

bool SerialClient::SendOnReceiveSource(const std::vector<uint8_t>& frame) {
    receive_source_->SetReceiveType(kEmptyReplyQueue);
    return frame.size() <= UINT16_MAX &&
           receive_source_->Send(frame.data(), static_cast<uint16_t>(frame.size()), 0) >= 0;
}

int32_t SerialClient::QueryOtaState(std::vector<uint8_t>& reply) {
    if (!receive_source_ || !receive_source_->IsOpened()) return kNotReady;
    if (!SendOnReceiveSource(OtaFrame::StateQuery())) return kNotReady;
    UdpPacket packet{};
    if (!ReceiveReply(packet, kStateQueryTimeoutMs)) return kNoReply;
    reply.clear();
    if (packet.length > kReplyCutFront + kReplyCutBack) {
        reply.assign(packet.data + kReplyCutFront, packet.data + packet.length - kReplyCutBack);
    }
    return 0;
}

int32_t SerialClient::RequestUpgrade(uint8_t type) {
    if (!send_source_ || !receive_source_ || !send_source_->IsOpened() ||
        !receive_source_->IsOpened()) {
        return kNotReady;
    }
    std::vector<uint8_t> body;
    const int32_t result = SerialQuery(kQueryCmd, {kUpgradeRequestSelector, type}, body,
                                       kUpgradeRequestTimeoutMs);
    if (result != 0) return result;
    if (body.size() != kRequestBodyBytes || body[1] != kQueryCmd ||
        body[2] != kUpgradeRequestSelector || body[3] != type) {
        return kInvalidReply;
    }
    if (body[4] != 0) return -static_cast<int32_t>(body[4]);
    if (!ReopenReceive(kCommandType)) return kNotReady;
    ReportByteFlow("wait recv ready ack\n");
    UdpPacket packet{};
    if (!ReceiveReply(packet, kReadyAckTimeoutMs)) return kNoReply;
    OtaFrame::Reply ready;
    if (!OtaFrame::ParseReply(packet.data, packet.length, ready)) return kInvalidReply;
    return ready.type == OtaFrame::kReplyReady ? 0 : kUpgradeWrongReadyAck;
}

int32_t SerialClient::SendOtaFrame(uint32_t total, uint32_t index, uint32_t length,
                                   const uint8_t* data, uint8_t& reply_type,
                                   uint8_t& reply_status, uint32_t type) {
    if (!receive_source_ || !receive_source_->IsOpened()) return kNotReady;
    if (!SendOnReceiveSource(OtaFrame::Encode(type, total, index, data, length))) return kNotReady;
    UdpPacket packet{};
    if (!ReceiveReply(packet, ota_reply_timeout_ms_)) return kNoReply;
    OtaFrame::Reply reply;
    if (!OtaFrame::ParseReply(packet.data, packet.length, reply)) return kInvalidReply;
    reply_type = reply.type;
    reply_status = reply.status;
    return 0;
}

int32_t SerialClient::EnterUpgradeMode(int32_t mode) {
    const int32_t changed = ChangeMode(kUpgradeChangeMode, 0);
    if (changed == kNoReply) {
        ReportByteFlow("ChangeMode to 0x04 timeout");
    } else if (changed != 0) {
        return changed;
    }
    const uint8_t type = static_cast<uint8_t>(mode == kUpgradeModeApp ? OtaFrame::kTypeApp
                                                                      : OtaFrame::kTypePbl);
    const int32_t requested = RequestUpgrade(type);
    if (requested == kNoReply) {
        ReportByteFlow("request upgrade large package timeout");
    } else if (requested != 0) {
        return requested;
    }
    return 0;
}

int32_t SerialClient::PrepareUpgrade(int32_t mode) {
    CloseBoth();
    if (!ReopenReceive(kCommandType)) return kUpgradePortNotReopened;
    std::vector<uint8_t> state;
    const int32_t queried = QueryOtaState(state);
    bool in_application = true;
    if (queried == kNoReply) {
        ReportByteFlow("Currently may be located in app, begin to upgrade");
    } else if (queried != 0) {
        return queried;
    } else if (state.size() < kBootLoaderReplyBytes) {
        ReportByteFlow("Returned data is minimal. Currently may be located in app, begin to upgrade PBL");
    } else if (mode == kUpgradeModeApp) {
        ReportByteFlow("now in PBL, begin to upgrade APP");
        in_application = false;
    } else {
        ReportByteFlow("now in PBL, can't upgrade PBL");
        return kUpgradePblWhilePbl;
    }
    if (!ReopenReceive(kPointCloudType) || !send_source_->Open() || !send_source_->IsOpened()) {
        return kUpgradePortNotReopened;
    }
    if (in_application) return EnterUpgradeMode(mode);
    return ReopenReceive(kCommandType) ? 0 : kUpgradePortNotReopened;
}

int32_t SerialClient::SerialUpgrade(const std::vector<uint8_t>& image, int32_t mode,
                                    std::atomic<int32_t>& progress) {
    ReportByteFlow(mode == kUpgradeModeApp ? "begin to upgrade APP+FPGA" : "begin to upgrade PBL");
    if (!send_source_ || !receive_source_) return kNotReady;
    if (image.empty()) {
        ReportByteFlow("upgrade stopped: the firmware image is empty");
        return kUpgradeEmptyImage;
    }
    int32_t result = PrepareUpgrade(mode);
    if (result == 0) {
        ReportByteFlow("begin to send ota data");
        const uint32_t type = mode == kUpgradeModeApp ? OtaFrame::kTypeApp : OtaFrame::kTypePbl;
        const OtaStreamer streamer(
            [this, type](uint32_t total, uint32_t index, const uint8_t* data, size_t size,
                         OtaFrame::Reply& reply) {
                return SendOtaFrame(total, index, static_cast<uint32_t>(size), data, reply.type,
                                    reply.status, type);
            },
            [this](const std::string& text) { ReportByteFlow(text); }, "ota send");
        result = streamer.Stream(image, progress);
    }
    CloseBoth();
    return result;
}

}  // namespace lidar
}  // namespace krell
