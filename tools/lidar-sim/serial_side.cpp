#include "tools/lidar-sim/serial_side.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "libkrell/CmxClient/cmx_tunnel.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

bool ParseNumber(const char* text, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || parsed > 0xFFFFFFFFul) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

SimReply AnswerTunnel(SerialResponder& responder, const SimRequest& request) {
    SimReply reply;
    const std::vector<uint8_t>& payload = request.payload;
    if (!HasTunnelPrefix(payload)) {
        reply.ret_code = kTunnelRefused;
        return reply;
    }
    reply.payload.assign(payload.begin(), payload.begin() + kTunnelPrefixBytes);
    const uint8_t operation = payload[3];
    if (operation == kTunnelOpSerialFrame) {
        const std::vector<uint8_t> frame(payload.begin() + kTunnelPrefixBytes, payload.end());
        const std::vector<uint8_t> answer = responder.Answer(frame);
        if (answer.empty() && responder.CurrentFaults().no_reply) {
            reply.send = false;
            return reply;
        }
        reply.payload.insert(reply.payload.end(), answer.begin(), answer.end());
    } else if (operation == kTunnelOpSetSerialBaud && payload.size() >= kTunnelPrefixBytes + 4) {
        const uint8_t* baud = payload.data() + kTunnelPrefixBytes;
        responder.SetSerialBaud(static_cast<uint32_t>(baud[0]) << 24 | baud[1] << 16 |
                                baud[2] << 8 | baud[3]);
    } else if (operation == kTunnelOpGetSerialBaud) {
        PutBigEndian(reply.payload, responder.Snapshot().serial_baud);
    } else {
        reply.ret_code = kTunnelRefused;
        reply.payload.clear();
    }
    return reply;
}

}  // namespace

SerialSide::SerialSide() : responder_(std::make_shared<SerialResponder>()) {}

SerialSide::~SerialSide() {
    Stop();
}

bool SerialSide::ParseOption(int argc, char** argv, int& i, SerialSideOptions& options) {
    const std::string arg = argv[i];
    if (arg == "--serial") {
        options.serial_lines = true;
        return true;
    }
    uint32_t* target = nullptr;
    if (arg == "--point-rate") target = &options.stream.packets_per_second;
    if (arg == "--point-garbage") target = &options.stream.garbage_every;
    if (arg == "--point-truncate") target = &options.stream.truncate_every;
    if (target == nullptr || i + 1 >= argc || !ParseNumber(argv[i + 1], *target)) return false;
    ++i;
    return true;
}

const char* SerialSide::Usage() {
    return "                 [--serial] [--point-rate N] [--point-garbage N] [--point-truncate N]\n"
           "--serial makes a UART and an RS-485 pty line; point packets stream at N per second\n"
           "(default 1000), every N-th preceded by garbage or cut short when asked; the 80-byte ones\n"
           "carry the model's information fields in turn, as the UDP packets do.\n";
}

bool SerialSide::Start(SimDevice& device, const SerialSideOptions& options,
                       std::shared_ptr<FirmwareSink> firmware) {
    device.SetHandler(kCmdTunnel, TunnelHandler(responder_));
    if (!options.serial_lines) return true;
    lines_ = std::make_unique<SerialLineSim>(*responder_, options.stream, std::move(firmware));
    if (!lines_->Start()) {
        last_error_ = std::string("cannot open a pty pair: ") + std::strerror(errno);
        lines_.reset();
        return false;
    }
    return true;
}

void SerialSide::Stop() {
    if (lines_) lines_->Stop();
}

void SerialSide::SetInfoPackets(std::vector<std::vector<uint8_t>> packets) {
    if (lines_) lines_->SetInfoPackets(std::move(packets));
}

std::string SerialSide::UartName() const {
    return lines_ ? lines_->UartName() : std::string();
}

std::string SerialSide::Rs485Name() const {
    return lines_ ? lines_->Rs485Name() : std::string();
}

CommandHandler SerialSide::TunnelHandler(std::shared_ptr<SerialResponder> responder) {
    return [responder = std::move(responder)](const SimRequest& request) {
        return AnswerTunnel(*responder, request);
    };
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
