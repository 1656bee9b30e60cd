#pragma once
// The virtual sensor's two serial lines on pseudo-terminals: requests arrive on the UART line (or
// on the RS-485 line), replies leave on the RS-485 line between the point-cloud packets that it
// streams at a set rate. Firmware (OTA) frames arrive on the RS-485 line and are answered there.
// One worker thread serves both lines.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/point_stream.h"
#include "tools/lidar-sim/pty_pair.h"
#include "tools/lidar-sim/serial_request_reader.h"
#include "tools/lidar-sim/serial_responder.h"

namespace krell {
namespace lidar {
namespace sim {

class SerialLineSim {
public:
    //! After granting an upgrade the sensor switches to its boot loader before it reports ready.
    static constexpr int kReadyAckDelayMs = 200;

    //! `responder` answers the requests and must outlive this object; `firmware` (may be null:
    //! OTA frames then go unanswered) takes the OTA frames.
    SerialLineSim(SerialResponder& responder, const PointStream::Options& stream,
                  std::shared_ptr<FirmwareSink> firmware = nullptr);

    //! Stops the worker; the ptys close with it.
    ~SerialLineSim();
    SerialLineSim(const SerialLineSim&) = delete;
    SerialLineSim& operator=(const SerialLineSim&) = delete;

    //! Opens both pty pairs and starts the worker. False when a pty could not be made.
    bool Start();

    //! Stops and joins the worker. Safe to call twice.
    void Stop();

    //! Device names a client opens: the UART (command) line and the RS-485 (reply and point) line.
    std::string UartName() const;
    std::string Rs485Name() const;

    //! The information fields the point packets carry from now on (PointStream::SetInfoFields).
    //! Any thread.
    void SetInfoPackets(std::vector<std::vector<uint8_t>> packets);

    //! Whole point packets written so far. Any thread.
    uint64_t PacketsSent() const { return packets_sent_.load(); }

private:
    void Run();
    //! Answers the complete requests among what `line` holds now (without waiting).
    void Serve(PtyPair& line, SerialRequestReader& reader);
    //! The reply to one request frame (empty: none).
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& request);
    //! Writes the ready acknowledgement of a granted upgrade once it is due.
    void SendReadyAckWhenDue();

    SerialResponder& responder_;
    std::shared_ptr<FirmwareSink> firmware_;
    // Worker thread only: when the ready acknowledgement of a granted upgrade is due, and its type.
    std::chrono::steady_clock::time_point ready_due_;
    bool ready_pending_ = false;
    uint8_t ready_type_ = 0;
    PointStream::Options stream_options_;
    std::unique_ptr<PtyPair> uart_;
    std::unique_ptr<PtyPair> rs485_;
    std::mutex info_mutex_;  // guards info_packets_ until the worker takes them
    std::vector<std::vector<uint8_t>> info_packets_;
    std::atomic<bool> info_changed_{false};
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> packets_sent_{0};
    std::thread worker_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
