#pragma once
// DeviceSession: the state the manager's operation classes share. One per manager, shared by
// the manager, its connection thread and its refresh thread.
//
// Locks, always taken in this order:
//   exchange_mutex: one whole device conversation: a read group, or a whole save (its reads and
//     its writes), so a periodic refresh can never fall between a save's read and its write.
//   data_mutex: the tables and every VarInfo value in them, the set map, the changed elements,
//     the field-of-view table and the Minka indexes. Never held across a network exchange.
//   client_mutex: the client pointers (made and dropped by the connection thread).

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/Source/serial_client.h"
#include "libkrell/Source/serial_source.h"

class DeviceSession {
public:
    //! Connection kinds, from the model name.
    static constexpr int kKindTcp = 0;
    static constexpr int kKindMinkaSerial = 1;
    static constexpr int kKindSerialCmx = 2;

    //! Field-of-view table: starts 0, ends 360.
    static krell::lidar::FovTable DefaultFov();

    std::atomic<bool> connected{false};
    std::atomic<bool> connecting{false};
    std::atomic<bool> upgrading{false};
    std::atomic<bool> downloading{false};
    std::atomic<bool> log_bytes{false};
    std::atomic<bool> probing{false};  // connection probes run: their bytes stay out of the log
    std::atomic<int> module_index{0};
    std::atomic<int> kind{kKindTcp};

    //! The CMX client, or null. Any thread.
    std::shared_ptr<krell::lidar::CmxClient> Cmx() const;
    void SetCmx(std::shared_ptr<krell::lidar::CmxClient> client);
    //! The Minka serial client, or null. Any thread.
    std::shared_ptr<krell::lidar::SerialClient> Serial() const;
    //! Replaces the serial ports and client together (null to drop them).
    void SetSerial(std::shared_ptr<krell::lidar::SerialSource> rs485,
                   std::shared_ptr<krell::lidar::SerialSource> uart,
                   std::shared_ptr<krell::lidar::SerialClient> client);
    //! Ends the current link at once: an exchange in flight fails now and later ones are
    //! refused, so that nothing waits for a silent sensor. Any thread.
    void AbortLink();
    //! AbortLink, and every client set from now on is born aborted (the manager is closing).
    void CloseForGood();

    //! True when reads and writes may run: a table, an open CMX client, connected, and neither
    //! an upgrade nor a log download running. Takes data_mutex and client_mutex briefly.
    bool ReadyForExchange() const;

    std::mutex exchange_mutex;
    mutable std::mutex data_mutex;

    // Guarded by data_mutex.
    std::unordered_map<std::string, std::unique_ptr<ConfigParser>> table_cache;
    ConfigParser* table = nullptr;
    std::string table_path;
    std::string model;
    std::map<std::string, bool> set_map;
    std::map<const VarInfo*, bool> changed;
    krell::lidar::FovTable fov = DefaultFov();
    std::unordered_map<std::string, std::vector<VarInfo*>> name_index;
    std::map<int32_t, VarInfo*> index_map;

private:
    mutable std::mutex client_mutex_;  // guards the four pointers below and closed_
    bool closed_ = false;
    std::shared_ptr<krell::lidar::CmxClient> cmx_;
    std::shared_ptr<krell::lidar::SerialSource> rs485_;
    std::shared_ptr<krell::lidar::SerialSource> uart_;
    std::shared_ptr<krell::lidar::SerialClient> serial_;
};
