#pragma once
// The virtual sensor's two serial lines on pseudo-terminals: requests arrive on the UART line (or
// on the RS-485 line), replies leave on the RS-485 line between the point-cloud packets that it
// streams at a set rate. One worker thread serves both lines.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "tools/lidar-sim/point_stream.h"
#include "tools/lidar-sim/pty_pair.h"
#include "tools/lidar-sim/serial_request_reader.h"
#include "tools/lidar-sim/serial_responder.h"

namespace krell {
namespace lidar {
namespace sim {

class SerialLineSim {
public:
    //! `responder` answers the requests and must outlive this object.
    SerialLineSim(SerialResponder& responder, const PointStream::Options& stream);

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

    //! Whole point packets written so far. Any thread.
    uint64_t PacketsSent() const { return packets_sent_.load(); }

private:
    void Run();
    void Serve(PtyPair& line, SerialRequestReader& reader, int wait_ms);

    SerialResponder& responder_;
    PointStream::Options stream_options_;
    std::unique_ptr<PtyPair> uart_;
    std::unique_ptr<PtyPair> rs485_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> packets_sent_{0};
    std::thread worker_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
