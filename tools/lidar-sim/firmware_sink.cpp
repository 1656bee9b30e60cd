#include "tools/lidar-sim/firmware_sink.h"

#include <cstring>
#include <utility>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_tunnel.h"
#include "libkrell/Frame/crc32.h"
#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr size_t kCmxHeaderBytes = 8;
constexpr size_t kSubHeaderBytes = 16;
constexpr size_t kChunkBytes = 1024;
constexpr size_t kBaudBytes = 4;
//! What a boot loader reports to the state query: long enough to tell it from an application.
constexpr char kBootLoaderIdent[] = "PBL 1.0.3 READY";
constexpr int kReplyDraws = 16;
constexpr uint8_t kEndMark0 = 0xEE;
constexpr uint8_t kEndMark1 = 0xFF;

//! True when the end mark appears anywhere but at the end of `frame`.
bool HasEarlyEndMark(const std::vector<uint8_t>& frame) {
    for (size_t i = 0; i + 3 < frame.size(); ++i) {
        if (frame[i] == kEndMark0 && frame[i + 1] == kEndMark1) return true;
    }
    return false;
}

uint32_t ReadU32Be(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

bool IsOtaFrame(const std::vector<uint8_t>& payload) {
    return payload.size() >= kTunnelPrefixBytes + OtaFrame::kTagBytes &&
           std::memcmp(payload.data() + kTunnelPrefixBytes, OtaFrame::kTag, OtaFrame::kTagBytes) ==
               0;
}

}  // namespace

std::vector<uint8_t> FirmwareSink::EncodeReply(uint8_t reply_type, uint8_t frame_type,
                                               uint8_t status) {
    std::vector<uint8_t> reply = OtaFrame::EncodeReply(reply_type, frame_type, status);
    for (int draw = 1; draw < kReplyDraws && HasEarlyEndMark(reply); ++draw)
        reply = OtaFrame::EncodeReply(reply_type, frame_type, status);
    return reply;
}

void FirmwareSink::Install(SimDevice& device) {
    std::shared_ptr<FirmwareSink> self = shared_from_this();
    CommandHandler fallback = device.HandlerFor(kCmdTunnel);
    device.SetHandler(kCmdTunnel, [self, fallback](const SimRequest& request) {
        return self->AnswerTunnel(request, fallback);
    });
    device.SetHandler(kCmdFileStreamUpgrade,
                      [self](const SimRequest& request) { return self->AcceptFileStream(request); });
}

SimReply FirmwareSink::AnswerTunnel(const SimRequest& request, const CommandHandler& fallback) {
    const std::vector<uint8_t>& payload = request.payload;
    if (payload.size() >= kTunnelPrefixBytes && payload[0] == 0 && payload[1] == 0 &&
        payload[2] == 0) {
        return AcceptFileStream(request);
    }
    if (HasTunnelPrefix(payload) && payload[3] == kTunnelOpSerialFrame && IsOtaFrame(payload)) {
        const OtaAnswer answer = AcceptOta(
            std::vector<uint8_t>(payload.begin() + kTunnelPrefixBytes, payload.end()));
        SimReply reply;
        reply.payload.assign(payload.begin(), payload.begin() + kTunnelPrefixBytes);
        reply.payload.insert(reply.payload.end(), answer.reply.begin(), answer.reply.end());
        reply.send = answer.send;
        reply.close_after_reply = answer.drop_link;
        return reply;
    }
    if (HasTunnelPrefix(payload) && payload[3] == kTunnelOpSetSerialBaud &&
        payload.size() >= kTunnelPrefixBytes + kBaudBytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        baud_changes_.push_back(ReadU32Be(payload.data() + kTunnelPrefixBytes));
    }
    if (fallback) return fallback(request);
    SimReply refused;
    refused.ret_code = kFrameRejected;
    return refused;
}

SimReply FirmwareSink::AcceptFileStream(const SimRequest& request) {
    const bool prefixed = request.cmd == kCmdTunnel;
    const size_t offset = prefixed ? kTunnelPrefixBytes : 0;
    const std::vector<uint8_t>& payload = request.payload;
    std::lock_guard<std::mutex> lock(mutex_);
    SimReply reply;
    if (prefixed) reply.payload.assign(payload.begin(), payload.begin() + offset);
    const uint8_t code = prefixed ? payload[3] : request.cmd;
    const uint8_t* frame = payload.data() + offset;
    const size_t size = payload.size() - offset;
    if (size < kCmxHeaderBytes + kSubHeaderBytes + 1 || frame[0] != kCmx1Id0 ||
        frame[1] != kCmx1Id1 || frame[2] != code || frame[3] != 0 ||
        ReadU32Be(frame + 4) != size - kCmxHeaderBytes || ReadU32Be(frame + kCmxHeaderBytes) != 0) {
        Reject("file-stream frame with a broken CMX header or sub-header");
        reply.ret_code = kFrameRejected;
        return reply;
    }
    const uint8_t* sub = frame + kCmxHeaderBytes;
    const uint32_t number = ReadU32Be(sub + 4);
    const uint8_t* chunk = sub + kSubHeaderBytes;
    const size_t chunk_bytes = size - kCmxHeaderBytes - kSubHeaderBytes;
    if (Crc32Mpeg2(chunk, chunk_bytes) != ReadU32Be(sub + 12)) {
        Reject("file-stream frame " + std::to_string(number) + " fails its CRC");
        reply.ret_code = kFrameRejected;
        return reply;
    }
    if (number == 1) {
        frames_seen_ = 0;
        dropped_ = false;
    }
    Verdict verdict = FaultFor(++frames_seen_);
    if ((verdict == Verdict::kAck || verdict == Verdict::kDrop || verdict == Verdict::kCorrupt) &&
        !TakeChunk(number, ReadU32Be(sub + 8), 0, chunk, chunk_bytes)) {
        verdict = Verdict::kReject;
    }
    SimReply answer = FileStreamReply(verdict);
    answer.payload = std::move(reply.payload);
    return answer;
}

FirmwareSink::OtaAnswer FirmwareSink::AcceptOta(const std::vector<uint8_t>& frame) {
    OtaFrame::Fields fields;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!OtaFrame::Decode(frame.data(), frame.size(), fields)) {
        Reject("OTA frame with a broken length, CRC or end mark");
        return OtaReply(Verdict::kReject, 0);
    }
    if (fields.type == OtaFrame::kTypeStateQuery) return OtaAnswer{StateQueryReply()};
    if (fields.index == 0) {
        frames_seen_ = 0;
        dropped_ = false;
    }
    Verdict verdict = FaultFor(++frames_seen_);
    if ((verdict == Verdict::kAck || verdict == Verdict::kDrop || verdict == Verdict::kCorrupt) &&
        !TakeChunk(fields.index + 1, fields.total, fields.type, fields.data.data(),
                   fields.data.size())) {
        verdict = Verdict::kReject;
    }
    return OtaReply(verdict, fields.type);
}

FirmwareSink::Verdict FirmwareSink::FaultFor(uint32_t ordinal) {
    if (dropped_) return Verdict::kSilent;
    if (faults_.refuse_frame == ordinal) return Verdict::kRefuse;
    if (faults_.silent_after && ordinal > *faults_.silent_after) return Verdict::kSilent;
    if (faults_.drop_after == ordinal) {
        dropped_ = true;
        return Verdict::kDrop;
    }
    if (faults_.corrupt_ack == ordinal) return Verdict::kCorrupt;
    return Verdict::kAck;
}

bool FirmwareSink::TakeChunk(uint32_t number, uint32_t total, uint32_t type, const uint8_t* data,
                             size_t size) {
    if (number == 1) {
        total_ = total;
        type_ = type;
        next_number_ = 1;
        image_.clear();
        last_error_.clear();
    }
    const std::string what = "frame " + std::to_string(number) + " of " + std::to_string(total);
    if (number != next_number_) {
        return Reject(what + " arrived where frame " + std::to_string(next_number_) +
                      " was due");
    }
    if (total != total_ || type != type_ || number > total) {
        return Reject(what + " does not belong to the upgrade in progress");
    }
    const bool last = number == total;
    if (size == 0 || size > kChunkBytes || (!last && size != kChunkBytes)) {
        return Reject(what + " carries " + std::to_string(size) + " bytes");
    }
    image_.insert(image_.end(), data, data + size);
    ++next_number_;
    return true;
}

bool FirmwareSink::Reject(const std::string& error) {
    last_error_ = error;
    return false;
}

SimReply FirmwareSink::FileStreamReply(Verdict verdict) const {
    SimReply reply;
    switch (verdict) {
        case Verdict::kAck:
            break;
        case Verdict::kRefuse:
            reply.ret_code = faults_.refuse_status != 0 ? faults_.refuse_status : kFrameRejected;
            break;
        case Verdict::kReject:
            reply.ret_code = kFrameRejected;
            break;
        case Verdict::kSilent:
            reply.send = false;
            reply.close_after_reply = dropped_;
            break;
        case Verdict::kDrop:
            reply.close_after_reply = true;
            break;
        case Verdict::kCorrupt:
            reply.wrong_command = true;
            break;
    }
    return reply;
}

FirmwareSink::OtaAnswer FirmwareSink::OtaReply(Verdict verdict, uint32_t type) const {
    const uint8_t frame_type = static_cast<uint8_t>(type);
    OtaAnswer answer;
    switch (verdict) {
        case Verdict::kRefuse:
            answer.reply =
                EncodeReply(faults_.refuse_reply_type, frame_type, faults_.refuse_status);
            break;
        case Verdict::kReject:
            answer.reply = EncodeReply(kFrameRejected, frame_type, kFrameRejected);
            break;
        case Verdict::kSilent:
            answer.send = false;
            answer.drop_link = dropped_;
            break;
        case Verdict::kAck:
        case Verdict::kDrop:
        case Verdict::kCorrupt:
            answer.reply = EncodeReply(OtaFrame::kReplyAck, frame_type, 0);
            answer.drop_link = verdict == Verdict::kDrop;
            // One flipped CRC bit: the reply still looks like a frame but fails its check.
            if (verdict == Verdict::kCorrupt) answer.reply[answer.reply.size() - 3] ^= 0x01;
            break;
    }
    return answer;
}

std::vector<uint8_t> FirmwareSink::StateQueryReply() const {
    if (!faults_.boot_loader) {
        return EncodeReply(OtaFrame::kReplyAck, OtaFrame::kTypeStateQuery, 0);
    }
    SerialFrame::Layout layout;
    layout.crc_msb_first = true;
    layout.length_bias = 0;
    return SerialFrame::Encode(SerialFrame::kReplyTag, OtaFrame::kReplyAck,
                               reinterpret_cast<const uint8_t*>(kBootLoaderIdent),
                               sizeof(kBootLoaderIdent) - 1, layout);
}

void FirmwareSink::SetFaults(const UpgradeFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

std::vector<uint8_t> FirmwareSink::Image() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return image_;
}

bool FirmwareSink::ImageComplete() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_ > 0 && next_number_ == total_ + 1;
}

uint32_t FirmwareSink::FrameType() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return type_;
}

std::string FirmwareSink::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_;
}

std::vector<uint32_t> FirmwareSink::BaudChanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return baud_changes_;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
