#include "tools/lidar-sim/serial_line_sim.h"

#include <chrono>
#include <vector>

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr int kPollMs = 1;
constexpr int kWriteTimeoutMs = 50;
constexpr size_t kReadBytes = 512;

}  // namespace

SerialLineSim::SerialLineSim(SerialResponder& responder, const PointStream::Options& stream)
    : responder_(responder), stream_options_(stream) {}

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

void SerialLineSim::Run() {
    SerialRequestReader uart_reader;
    SerialRequestReader rs485_reader;
    PointStream stream(stream_options_);
    const auto start = std::chrono::steady_clock::now();
    while (running_.load()) {
        Serve(*uart_, uart_reader, kPollMs);
        Serve(*rs485_, rs485_reader, 0);
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

void SerialLineSim::Serve(PtyPair& line, SerialRequestReader& reader, int wait_ms) {
    uint8_t buffer[kReadBytes];
    const long got = line.Read(buffer, sizeof(buffer), wait_ms);
    if (got <= 0) return;
    for (const std::vector<uint8_t>& request : reader.Feed(buffer, static_cast<size_t>(got))) {
        const std::vector<uint8_t> reply = responder_.Answer(request);
        if (!reply.empty()) rs485_->Write(reply.data(), reply.size(), kWriteTimeoutMs);
    }
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
