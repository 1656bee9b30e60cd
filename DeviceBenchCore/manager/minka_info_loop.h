#pragma once
// MinkaInfoLoop: keeps the Minka information page live while a serial-model link is open. On
// its own thread it first asks for the PBL version (and the serial number of the serial CMX
// Minka, the firmware versions of the Rusko), then reads the sensor's point packets (UDP on the
// manager's UDP port for the serial CMX kind, the RS-485 line for the serial kind) and turns
// their information fields into the values of the table's information variables.
//
// The page hears minkaLidarInfoChanged every 8000 loop passes, and besides at most every
// kNotifyIntervalMs while values or the malformed-packet count change, so that it stays
// visibly live at any packet rate. Malformed packets (wrong header, a length that does not
// match their kind, a datagram too long for a packet) are counted and dropped.
//
// Threads: Start and Stop from the manager's threads (not concurrently); Stop wakes the loop and
// joins it within about one receive wait (at most kSerialWaitMs), not a chain of time-outs. The
// values live in the ActiveTable; the rest of what the page shows is read with Snapshot, from
// any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;
class ModelOperation;

namespace krell {
namespace lidar {
class SocketSource;
struct UdpPacket;
}  // namespace lidar
}  // namespace krell

//! What the information page shows besides the information variables.
struct MinkaInfoSnapshot {
    std::string pbl_version;                  //!< empty until read
    std::vector<std::string> rusko_versions;  //!< BMB FPGA, TMB FPGA, BMB MCU (Rusko only)
    std::string sender_ip;                    //!< where the UDP packets come from; empty before
    uint64_t info_packets = 0;                //!< information packets used
    uint64_t malformed_packets = 0;           //!< packets counted and dropped
};

class MinkaInfoLoop {
public:
    static constexpr const char* kUdpOpenFailure =
        "udp source open error, can't update `Lidar Info`";
    static constexpr int kPassesPerNotify = 8000;
    static constexpr int kNotifyIntervalMs = 200;
    static constexpr int kIdleWaitMs = 100;
    static constexpr int32_t kUdpWaitUs = 1000;
    static constexpr int32_t kSerialWaitMs = 20;

    MinkaInfoLoop(DeviceSession& session, Reporter& reporter, ModelOperation& model);
    ~MinkaInfoLoop();
    MinkaInfoLoop(const MinkaInfoLoop&) = delete;
    MinkaInfoLoop& operator=(const MinkaInfoLoop&) = delete;

    //! Starts the loop for the link's current kind (stopping a running one first); the UDP
    //! route binds `udp_port`. The information variables read "xxxxxxxx" until packets come.
    void Start(uint16_t udp_port);
    //! Ends the loop and joins it. Idempotent.
    void Stop();
    bool Running() const { return running_.load(); }

    MinkaInfoSnapshot Snapshot() const;

private:
    //! Wakes the loop, joins it. Under control_mutex_.
    void StopLocked();
    void Run(uint16_t udp_port);
    void ReadIdentity();
    void RunUdp(uint16_t udp_port);
    void RunSerial();
    //! True while the link may be read; otherwise waits kIdleWaitMs (or until Stop).
    bool LinkReady();
    //! Sorts one packet and takes its information field.
    void Take(const krell::lidar::UdpPacket& packet, int32_t size);
    void CountMalformed(uint32_t packets = 1);
    //! Counts a pass and tells the page when its turn has come.
    void Pass();
    //! Waits up to `ms` for Stop; true when stopping.
    bool WaitForStop(int ms);
    bool Stopping();

    DeviceSession& session_;
    Reporter& reporter_;
    ModelOperation& model_;
    bool serial_cmx_minka_ = false;  // loop thread: id 10 is left to the serial-number query
    uint64_t passes_ = 0;            // loop thread
    bool dirty_ = false;             // loop thread: something the page shows changed
    std::chrono::steady_clock::time_point last_notify_;  // loop thread

    std::mutex control_mutex_;  // guards thread_ (Start and Stop)
    std::thread thread_;
    std::atomic<bool> running_{false};

    std::mutex stop_mutex_;  // guards stop_ and udp_ for the wake-up
    std::condition_variable wake_;
    bool stop_ = false;
    krell::lidar::SocketSource* udp_ = nullptr;  // the open UDP source, for Stop to wake

    mutable std::mutex snapshot_mutex_;  // guards snapshot_
    MinkaInfoSnapshot snapshot_;
};
