#pragma once
// Link: the device connection of one manager: the CMX client or the Minka serial ports and
// client, the connection flags, the byte-flow callback and the exchange turn. Owned by the
// session; shared by the UI thread, the connection thread, the refresh thread and the download
// workers.
//
// Locks: clients_mutex_ guards the client pointers and is never held while calling out;
// exchange_mutex_ is the turn of one whole device conversation (see HoldExchange).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/Source/serial_client.h"
#include "libkrell/Source/serial_source.h"

class Link {
public:
    using ByteFlow = std::function<void(const std::string&)>;

    //! Connection kinds, from the model name.
    static constexpr int kKindTcp = 0;
    static constexpr int kKindMinkaSerial = 1;
    static constexpr int kKindSerialCmx = 2;
    //! The connection kind of the model named `model` (its table's name).
    static int KindOfModel(const std::string& model);

    // Single flags, each written by one side and polled by the other; no lock needed.
    std::atomic<bool> connected{false};
    std::atomic<bool> connecting{false};
    std::atomic<bool> upgrading{false};
    std::atomic<bool> downloading{false};
    std::atomic<bool> log_bytes{false};
    std::atomic<bool> probing{false};  // connection probes run: their bytes stay out of the log
    std::atomic<int> module_index{0};
    std::atomic<int> kind{kKindTcp};
    std::atomic<int> upgrade_mode{0};  // MinkaSetUpgradeMode: 0 app and FPGA, 1 PBL, 2 file stream

    //! The CMX client, or null. Any thread.
    std::shared_ptr<krell::lidar::CmxClient> Cmx() const;
    //! Replaces the CMX client (null to drop it); the old one is released outside the lock.
    void SetCmx(std::shared_ptr<krell::lidar::CmxClient> client);
    //! The Minka serial client, or null. Any thread.
    std::shared_ptr<krell::lidar::SerialClient> Serial() const;
    //! The Minka RS-485 line (replies and point packets), or null. Any thread.
    std::shared_ptr<krell::lidar::SerialSource> PointLine() const;
    //! Replaces the serial ports and client together (null to drop them).
    void SetSerial(std::shared_ptr<krell::lidar::SerialSource> rs485,
                   std::shared_ptr<krell::lidar::SerialSource> uart,
                   std::shared_ptr<krell::lidar::SerialClient> client);

    //! Ends the current link at once: an exchange in flight fails now and later ones are
    //! refused, so that nothing waits for a silent sensor. Any thread.
    void Abort();
    //! Abort, and every client set from now on is born aborted (the manager is closing).
    void CloseForGood();

    //! An open CMX client, connected, and neither an upgrade nor a log download running.
    bool ReadyForExchange() const;

    //! The turn of one whole device conversation: a read group, or a whole save (its reads and
    //! its writes), so that a periodic refresh never falls between a save's read and its write.
    //! Taken before any model call of that conversation; never while a model call runs.
    std::unique_lock<std::mutex> HoldExchange();

    //! Gives `callback` the byte-flow lines of the current client (and keeps it for Resume).
    //! Prints "CmxClient haven't initialized" when there is no client.
    void AttachByteFlow(ByteFlow callback);
    //! Takes the callback off the CMX client for the time of a download: the lines would be
    //! dropped anyway, and without a callback the client does not format multi-MiB replies.
    void PauseByteFlow();
    void ResumeByteFlow();

private:
    mutable std::mutex clients_mutex_;  // guards the five members below
    std::shared_ptr<krell::lidar::CmxClient> cmx_;
    std::shared_ptr<krell::lidar::SerialSource> rs485_;
    std::shared_ptr<krell::lidar::SerialSource> uart_;
    std::shared_ptr<krell::lidar::SerialClient> serial_;
    bool closed_ = false;
    std::mutex byte_flow_mutex_;  // guards byte_flow_
    ByteFlow byte_flow_;
    std::mutex exchange_mutex_;  // the exchange turn
};
