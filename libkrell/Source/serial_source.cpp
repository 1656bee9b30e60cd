#include "libkrell/Source/serial_source.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "scribe/logger.h"

namespace krell {
namespace lidar {

SerialSource::SerialSource(std::string port_name, uint32_t command_baud, uint32_t point_cloud_baud)
    : port_name_(std::move(port_name)),
      command_baud_(command_baud),
      point_cloud_baud_(point_cloud_baud),
      replies_(kReplyQueuePackets),
      points_(kPointQueuePackets),
      parser_(replies_, points_) {}

SerialSource::~SerialSource() {
    Close();
}

bool SerialSource::Open() {
    uint32_t baud = 0;
    if (receive_type_ == 0) {
        baud = point_cloud_baud_;
    } else if (receive_type_ == 1) {
        baud = command_baud_;
    } else {
        SLOG_ERROR("not support receiveStype, open error");
        return false;
    }
    Close();
    if (!port_.Open(port_name_, baud)) return false;
    if (!start_receive_thread_) return true;
    parser_.Reset();
    running_.store(true);
    receiving_.store(true);
    thread_ = std::thread(&SerialSource::ReceivedThread, this);
    return true;
}

void SerialSource::Close() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
    port_.Close();
}

bool SerialSource::IsOpened() {
    return port_.IsOpen();
}

int32_t SerialSource::Send(const uint8_t* data, uint16_t len, int32_t) {
    if (!port_.IsOpen()) return kNotOpen;
    const int32_t wrote = port_.Write(
        data, len, kWriteTimeoutBaseMs + kWriteTimeoutPerByteMs * static_cast<int>(len));
    if (wrote < 0) {
        SLOG_ERROR("serial port %s: write failed: %s", port_name_.c_str(), std::strerror(errno));
    }
    return wrote;
}

int32_t SerialSource::Receive(UdpPacket& packet, uint16_t, int32_t type, int32_t timeout_ms) {
    PacketQueue* queue = type == 0 ? &points_ : (type == 1 ? &replies_ : nullptr);
    if (queue == nullptr) return -1;
    for (int32_t remaining_ms = timeout_ms; remaining_ms >= 0 && !waits_aborted_.load();
         remaining_ms -= kReceiveStepMs) {
        if (queue->WaitPop(packet, remaining_ms < kReceiveStepMs ? remaining_ms : kReceiveStepMs)) {
            return packet.length;
        }
    }
    return -1;
}

void SerialSource::AbortWaits() {
    waits_aborted_ = true;
    replies_.Interrupt();
    points_.Interrupt();
}

void SerialSource::SetSocketBufferSize(int32_t) {}

void SerialSource::SetReceiveType(int32_t type) {
    if (type == 2) {
        replies_.Clear();
        return;
    }
    Close();
    replies_.Clear();
    points_.Clear();
    receive_type_ = type;
}

void SerialSource::SetReceiveThreadEnabled(bool enabled) {
    start_receive_thread_ = enabled;
}

bool SerialSource::DiscardInput() {
    return port_.DiscardInput();
}

void SerialSource::ReceivedThread() {
    while (running_.load()) {
        if (!ReadOnce()) break;
        parser_.Parse();
        error_count_.store(parser_.ErrorCount());
        cut_points_.store(parser_.CutPointCount());
    }
    receiving_.store(false);
}

// One wait and at most one read. False when the line is gone: an unplugged adapter keeps
// reporting hang-up at once, so carrying on would spin; the thread ends and Close() stays quick.
bool SerialSource::ReadOnce() {
    const SerialPort::WaitResult wait = port_.WaitReadable(kInputWaitMs);
    if (wait == SerialPort::WaitResult::kTimeout) return true;
    if (wait == SerialPort::WaitResult::kGone) {
        SLOG_ERROR("serial port %s: line hung up or failed, receive thread ends",
                   port_name_.c_str());
        return false;
    }
    uint8_t* slot = parser_.ReserveRead();
    if (slot == nullptr) return true;
    const long got = port_.Read(slot, SerialStreamParser::kReadChunkBytes);
    if (got < 0) {
        SLOG_ERROR("serial port %s: read failed: %s, receive thread ends", port_name_.c_str(),
                   std::strerror(errno));
        return false;
    }
    parser_.CommitRead(static_cast<size_t>(got));
    return true;
}

}  // namespace lidar
}  // namespace krell
