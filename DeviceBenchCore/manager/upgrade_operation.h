#pragma once
// UpgradeOperation: the firmware upgrades of the three model families. UpgradeLidar streams a
// file with the command of a table row (network models), MinkaUpgradeLidar picks the route from
// the connection kind and the upgrade mode (serial OTA, tunnelled OTA or CMX file streaming), and
// RuskoUpgradeLidar sends the components of an "OTPK" package through the tunnel.
//
// Threads: the Start calls run on the UI thread, check the state, read the file and hand the
// work to a worker thread owned here (joined by the destructor, which first wakes any pause).
// The session's `upgrading` flag (IsUpgrading) is claimed by the Start call and released by the
// worker on every path, exceptions included; while it is set the other operations, the
// periodic refresh and a second upgrade stay away. Progress counters may be read from any thread.
//
// Safety rules: nothing is sent before the whole file was read and, for a package, every present
// component was found inside it; a refused or lost frame ends the upgrade with a message naming
// the frame and the sensor's answer and is never reported as success.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"
#include "libkrell/CmxClient/cmx_codes.h"

class DeviceSession;
class MaintenanceOperation;
class OtaPackage;

//! The pauses and time-outs of an upgrade; tests shorten them.
struct UpgradeTimings {
    int start_pause_ms = 300;         //!< before each worker begins
    int restart_wait_ms = 10000;      //!< after a file-stream upgrade, before the restart
    int rusko_mode_pause_ms = 3000;   //!< after the Rusko mode change, before the line speed
    uint32_t file_stream_timeout_ms = krell::lidar::kFileStreamTimeoutMs;
    uint32_t component_timeout_ms = krell::lidar::kComponentTimeoutMs;
    uint32_t tunnel_pause_ms = krell::lidar::kTunnelModeSwitchPauseMs;
    int32_t ota_reply_timeout_ms = 30000;  //!< each OTA frame's reply on the serial lines
};

class UpgradeOperation {
public:
    //! Upgrade modes (MinkaSetUpgradeMode).
    static constexpr int kModeApp = 0;
    static constexpr int kModeBootLoader = 1;
    static constexpr int kModeFileStream = 2;
    //! Line speeds of the Rusko package upgrade: components travel at the slow one.
    static constexpr uint32_t kRuskoFastBaud = 5000000;
    static constexpr uint32_t kRuskoUpgradeBaud = 9600;

    //! All three are borrowed and must outlive the operation; `maintenance` restarts the sensor
    //! after a file-stream upgrade.
    UpgradeOperation(DeviceSession& session, Reporter& reporter, MaintenanceOperation& maintenance);
    //! Wakes the pauses and joins the worker (the link is aborted first by the owner).
    ~UpgradeOperation();
    UpgradeOperation(const UpgradeOperation&) = delete;
    UpgradeOperation& operator=(const UpgradeOperation&) = delete;

    //! Network models: streams the file at `path` with `command_text` (the row's set command).
    //! 0 when the worker started; -1 when refused (busy, not open, no command, unreadable file).
    int StartNetwork(const std::string& path, const std::string& command_text);
    //! Minka family: serial OTA (kind 1), tunnelled OTA or file streaming (kind 2, by mode).
    int StartMinka(const std::string& path);
    //! Rusko family: the OTA package at `path`, component by component. A package that is too
    //! short, has the wrong magic or a component outside it is refused before anything is sent.
    int StartRusko(const std::string& path);

    //! Frames acknowledged so far and the total the progress bar expects.
    int Progress() const { return progress_.load(); }
    int ProgressTotal() const { return progress_total_.load(); }
    //! True while a worker runs; the file-stream route's restart wait and restart come after
    //! IsUpgrading dropped, so a caller about to end must wait for this. Any thread.
    bool Working() const;

    void SetTimings(const UpgradeTimings& timings);
    UpgradeTimings Timings() const;

private:
    //! Reads the whole file; false (with an error naming the file) when it cannot be read or is
    //! empty. `open_error` replaces the error text when given.
    bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes,
                  const std::string& open_error = std::string());
    //! The refusal `text` in the error window and one log line.
    void Refuse(const std::string& text);
    //! Sets `upgrading` (announcing it); false when it was already set.
    bool Claim();
    void Release();
    //! Claims, sets the progress for `image_bytes` and runs `work` on a worker thread; 0, or -1
    //! when another upgrade holds the flag.
    int Launch(size_t image_bytes, std::function<void()> work);
    //! Sleeps `ms` unless the operation is being destroyed; false when woken for that.
    bool Pause(int ms);

    void RunFileStream(const std::vector<uint8_t>& image, const std::string& command_text);
    void RunOta(const std::vector<uint8_t>& image, int kind, int mode);
    //! One log line naming the frame that was not acknowledged and the sensor's answer after `acknowledged` frames (`code`:
    //! its status when positive, else the route's failure result).
    void ReportFrameFailure(size_t image_bytes, size_t acknowledged, int32_t code);

    // Rusko package (upgrade_operation_rusko.cpp).
    void RunRusko(const OtaPackage& package);
    //! Line speeds and mode change; false (reported) on failure. `partition_a` from the reply.
    bool EnterRuskoUpgrade(bool& partition_a);
    //! Sends the components; false (reported) on failure.
    bool SendRuskoComponents(const OtaPackage& package, bool partition_a);

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    DeviceSession& session_;
    Reporter& reporter_;
    MaintenanceOperation& maintenance_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> progress_total_{0};
    mutable std::mutex mutex_;  // guards timings_, workers_ and stopping_
    std::condition_variable wake_;
    UpgradeTimings timings_;
    std::list<Worker> workers_;
    bool stopping_ = false;
};
