#include "tools/lidar-sim/serial_line_sim.h"

#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr int kPollMs = 1;
constexpr int kWriteTimeoutMs = 50;
constexpr size_t kReadBytes = 2048;
// Where a request frame keeps its command, and the upgrade type of an upgrade request.
constexpr size_t kCmdAt = SerialFrame::kTagBytes + 1;
constexpr size_t kUpgradeTypeAt = kCmdAt + 2;

}  // namespace

SerialLineSim::SerialLineSim(SerialResponder& responder, const PointStream::Options& stream,
                             std::shared_ptr<FirmwareSink> firmware)
    : responder_(responder), firmware_(std::move(firmware)), stream_options_(stream) {}

SerialLineSim::~SerialLineSim() {
    Stop();
}

bool SerialLineSim::Start() {
    Stop();
    uart_ = std::make_unique<PtyPair>();
    rs485_ = std::make_unique<PtyPair>();
    if (!uart_->Ok() || !rs485_->Ok()) return false;
    running_.store(true);
    worker_ = std::thread(&SerialLineSim::Run, this);
    return true;
}

void SerialLineSim::Stop() {
    running_.store(false);
    if (worker_.joinable()) worker_.join();
}

std::string SerialLineSim::UartName() const {
    return uart_ ? uart_->SlaveName() : std::string();
}

std::string SerialLineSim::Rs485Name() const {
    return rs485_ ? rs485_->SlaveName() : std::string();
}

void SerialLineSim::SetInfoPackets(std::vector<std::vector<uint8_t>> packets) {
    std::lock_guard<std::mutex> lock(info_mutex_);
    info_packets_ = std::move(packets);
    info_changed_.store(true);
}

void SerialLineSim::Run() {
    SerialRequestReader uart_reader;
    SerialRequestReader rs485_reader;
    PointStream stream(stream_options_);
    const auto start = std::chrono::steady_clock::now();
    while (running_.load()) {
        // One wait over both lines: waiting on the UART line alone held every firmware frame on
        // the RS-485 line until that wait ran out, a millisecond per frame.
        PtyPair::WaitForInput(*uart_, *rs485_, kPollMs);
        Serve(*uart_, uart_reader);
        Serve(*rs485_, rs485_reader);
        SendReadyAckWhenDue();
        if (info_changed_.exchange(false)) {
            std::lock_guard<std::mutex> lock(info_mutex_);
            stream.SetInfoFields(info_packets_);
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const std::vector<uint8_t> due =
            stream.Due(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
        // A line nobody reads fills up; stale packets are worth nothing to the next reader.
        if (!due.empty() && !rs485_->Write(due.data(), due.size(), kWriteTimeoutMs)) {
            rs485_->DiscardUnread();
        }
        packets_sent_.store(stream.WholePackets());
    }
}

void SerialLineSim::Serve(PtyPair& line, SerialRequestReader& reader) {
    uint8_t buffer[kReadBytes];
    const long got = line.Read(buffer, sizeof(buffer), 0);
    if (got <= 0) return;
    for (const std::vector<uint8_t>& request : reader.Feed(buffer, static_cast<size_t>(got))) {
        const std::vector<uint8_t> reply = Answer(request);
        if (!reply.empty()) rs485_->Write(reply.data(), reply.size(), kWriteTimeoutMs);
    }
}

std::vector<uint8_t> SerialLineSim::Answer(const std::vector<uint8_t>& request) {
    if (std::memcmp(request.data(), OtaFrame::kTag, OtaFrame::kTagBytes) == 0) {
        if (!firmware_) return {};
        FirmwareSink::OtaAnswer answer = firmware_->AcceptOta(request);
        // A pty cannot hang up on its reader: a dropped link is a silent one here.
        return answer.send ? std::move(answer.reply) : std::vector<uint8_t>();
    }
    std::vector<uint8_t> reply = responder_.Answer(request);
    std::vector<uint8_t> body;
    const bool upgrade_request = request.size() > kUpgradeTypeAt &&
                                 request[kCmdAt] == SerialResponder::kQueryCmd &&
                                 request[kCmdAt + 1] == SerialResponder::kUpgradeRequest;
    if (upgrade_request && SerialFrame::CheckReply(reply.data(), reply.size(), &body) &&
        body.back() == SerialResponder::kStatusOk) {
        ready_pending_ = true;
        ready_type_ = request[kUpgradeTypeAt];
        ready_due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyAckDelayMs);
    }
    return reply;
}

void SerialLineSim::SendReadyAckWhenDue() {
    if (!ready_pending_ || std::chrono::steady_clock::now() < ready_due_) return;
    ready_pending_ = false;
    const std::vector<uint8_t> ack =
        FirmwareSink::EncodeReply(OtaFrame::kReplyReady, ready_type_, 0);
    rs485_->Write(ack.data(), ack.size(), kWriteTimeoutMs);
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
