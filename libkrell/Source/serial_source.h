#pragma once
// A serial line as a packet source. With its receive thread running, every byte that arrives is
// framed into the reply queue (type 1) or the point-cloud queue (type 0); callers take packets with
// Receive(). Without the thread the port only sends (the command line of a SerialClient).

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "libkrell/Source/packet_queue.h"
#include "libkrell/Source/serial_port.h"
#include "libkrell/Source/serial_stream_parser.h"
#include "libkrell/Source/source.h"

namespace krell {
namespace lidar {

class SerialSource : public Source {
public:
    static constexpr size_t kReplyQueuePackets = 10;
    static constexpr size_t kPointQueuePackets = 8000;
    static constexpr int32_t kReceiveStepMs = 100;
    static constexpr int kInputWaitMs = 1;
    static constexpr int kWriteTimeoutBaseMs = 50;
    static constexpr int kWriteTimeoutPerByteMs = 1;
    //! Send() result when the port is not open.
    static constexpr int32_t kNotOpen = -22;

    //! Allocates both queues (about 12 MB); the port stays closed until Open().
    SerialSource(std::string port_name, uint32_t command_baud, uint32_t point_cloud_baud);

    //! Stops the receive thread and closes the port.
    ~SerialSource() override;

    //! Opens the port at the speed of the receive type (0: point cloud, 1: command) and starts the
    //! receive thread when enabled. False for another type or when the port does not open.
    //! Owning thread only (not concurrently with Close or SetReceiveType).
    bool Open() override;

    //! Stops and joins the receive thread, then closes the port. Never blocks on the device.
    void Close() override;

    //! True while the port is held (also after the line vanished, until Close). Any thread.
    bool IsOpened() override;

    //! Writes `len` bytes within 50 ms + 1 ms per byte: the count written, -1 when the write failed,
    //! kNotOpen (-22) when the port is closed. Any one thread at a time; `flags` is ignored.
    int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;

    //! Takes the oldest packet of the point-cloud (type 0) or reply (type 1) queue, waiting in steps
    //! of at most 100 ms for timeout_ms, timeout_ms - 100, ... while not negative. Returns the packet
    //! length, or -1 on time-out or another type. Any thread; `len` is ignored.
    int32_t Receive(UdpPacket& packet, uint16_t len, int32_t type, int32_t timeout_ms) override;

    //! Serial lines have no socket buffer; does nothing.
    void SetSocketBufferSize(int32_t size_bytes) override;

    //! Type 2 empties the reply queue only. Any other type closes the port, empties both queues and
    //! records the type for the next Open(). Owning thread only.
    void SetReceiveType(int32_t type) override;

    //! Whether the next Open() starts the receive thread (true at construction).
    void SetReceiveThreadEnabled(bool enabled) override;

    //! Ends every Receive wait at once, now and later (the line is being closed). Any thread.
    void AbortWaits();

    //! Discards input the port received but nobody read. False when closed.
    bool DiscardInput();

    //! True while the receive thread runs (it ends on Close or when the line vanishes). Any thread.
    bool IsReceiving() const { return receiving_.load(); }

    //! Point-cloud packets with an unknown protocol version since construction. Any thread.
    uint32_t ErrorCount() const { return error_count_.load(); }
    //! Point-cloud packets dropped because they broke off short, since construction. Any thread.
    uint32_t CutPointCount() const { return cut_points_.load(); }

    const std::string& PortName() const { return port_name_; }

private:
    void ReceivedThread();
    bool ReadOnce();

    const std::string port_name_;
    const uint32_t command_baud_;
    const uint32_t point_cloud_baud_;
    int32_t receive_type_ = 0;
    bool start_receive_thread_ = true;
    std::atomic<bool> running_{false};
    std::atomic<bool> receiving_{false};
    std::atomic<uint32_t> error_count_{0};
    std::atomic<uint32_t> cut_points_{0};
    SerialPort port_;
    PacketQueue replies_;
    PacketQueue points_;
    std::atomic<bool> waits_aborted_{false};  // set by AbortWaits
    SerialStreamParser parser_;               // receive thread only while it runs
    std::thread thread_;
};

}  // namespace lidar
}  // namespace krell
