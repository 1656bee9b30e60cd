#include "DeviceBenchCore/manager/upgrade_operation.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <exception>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/maintenance_operation.h"
#include "DeviceBenchCore/manager/ota_package.h"

namespace {

constexpr size_t kFrameBytes = 1024;
// The CMX route of the Minka family streams with this upgrade command.
constexpr const char* kSerialCmxStreamCommand = "0x83";

constexpr const char* kStreamSuccess =
    "Upgrade package transmitted successfully. The lidar will automatically reboot within 10 "
    "seconds.";
constexpr const char* kStreamFailed = "Upgrade package transfer failed or is terminated.";
constexpr const char* kRebootFailed = "Auto reboot failed. Please reboot lidar manually.";
constexpr const char* kOtaSuccess =
    "Upgrade package transmitted successfully. The lidar will automatically reboot.";
constexpr const char* kMinkaNotReady = "lidar is not connected, or lidar is upgrade";

size_t FrameCount(size_t bytes) {
    return bytes == 0 ? 0 : (bytes - 1) / kFrameBytes + 1;
}

bool CmxOpen(const DeviceSession& session) {
    const auto client = session.link.Cmx();
    return client && client->IsOpen();
}

}  // namespace

UpgradeOperation::UpgradeOperation(DeviceSession& session, Reporter& reporter,
                                   MaintenanceOperation& maintenance)
    : session_(session), reporter_(reporter), maintenance_(maintenance) {}

UpgradeOperation::~UpgradeOperation() {
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        workers.swap(workers_);
    }
    wake_.notify_all();
    for (Worker& worker : workers) {
        if (worker.thread.joinable()) worker.thread.join();
    }
}

void UpgradeOperation::SetTimings(const UpgradeTimings& timings) {
    std::lock_guard<std::mutex> lock(mutex_);
    timings_ = timings;
}

UpgradeTimings UpgradeOperation::Timings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timings_;
}

int UpgradeOperation::StartNetwork(const std::string& path, const std::string& command_text) {
    const Link& link = session_.link;
    if (!CmxOpen(session_) || link.upgrading || link.downloading) return -1;
    if (command_text.empty()) {
        Refuse("The upgrade row of this model has no command");
        return -1;
    }
    std::vector<uint8_t> image;
    if (!ReadFile(path, image)) return -1;
    const size_t bytes = image.size();
    return Launch(bytes, [this, image = std::move(image), command_text] {
        RunFileStream(image, command_text);
    });
}

int UpgradeOperation::StartMinka(const std::string& path) {
    const Link& link = session_.link;
    const int kind = link.kind;
    const bool client_ready = kind == Link::kKindMinkaSerial ? link.Serial() != nullptr
                              : kind == Link::kKindSerialCmx ? CmxOpen(session_)
                                                             : true;
    if (!link.connected || link.upgrading || !client_ready) {
        Refuse(kMinkaNotReady);
        return -1;
    }
    // The network models upgrade with their table's command (UpgradeLidar); an empty command
    // would only fail inside the stream's command conversion.
    if (kind == Link::kKindTcp) {
        Refuse("MinkaUpgradeLidar is for the Minka and Rusko models; this model upgrades through "
               "its firmware upgrade row");
        return -1;
    }
    std::vector<uint8_t> image;
    if (!ReadFile(path, image)) return -1;
    const int mode = link.upgrade_mode;
    const size_t bytes = image.size();
    return Launch(bytes, [this, image = std::move(image), kind, mode] {
        if (kind == Link::kKindSerialCmx && mode == kModeFileStream) {
            RunFileStream(image, kSerialCmxStreamCommand);
        } else {
            RunOta(image, kind, mode);
        }
    });
}

bool UpgradeOperation::ReadFile(const std::string& path, std::vector<uint8_t>& bytes,
                                const std::string& open_error) {
    const QString name = QString::fromStdString(path);
    QFile file(name);
    std::string why;
    if (QFileInfo(name).isDir()) {
        why = "it is a folder";
    } else if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString().toStdString();
    } else {
        const QByteArray data = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            why = file.errorString().toStdString();
        } else {
            bytes.assign(data.begin(), data.end());
            if (!bytes.empty()) return true;
            why = "it is empty";
        }
    }
    const std::string text = "Failed to open upgrade file " + path + ": " + why;
    reporter_.Error(open_error.empty() ? text : open_error);
    reporter_.Log(text, "ERROR");
    return false;
}

void UpgradeOperation::Refuse(const std::string& text) {
    reporter_.Error(text);
    reporter_.Log(text, "WARNING");
}

bool UpgradeOperation::Claim() {
    bool expected = false;
    if (!session_.link.upgrading.compare_exchange_strong(expected, true)) return false;
    reporter_.Notify(ManagerEvent::kUpgradingChanged);
    return true;
}

void UpgradeOperation::Release() {
    if (session_.link.upgrading.exchange(false)) reporter_.Notify(ManagerEvent::kUpgradingChanged);
}

int UpgradeOperation::Launch(size_t image_bytes, std::function<void()> work) {
    if (!Claim()) return -1;
    progress_ = 0;
    progress_total_ = static_cast<int32_t>(image_bytes / kFrameBytes);
    const UpgradeTimings timings = Timings();
    if (const auto client = session_.link.Cmx()) {
        client->SetUpgradeTimings(timings.file_stream_timeout_ms, timings.component_timeout_ms,
                                  timings.tunnel_pause_ms);
    }
    if (const auto serial = session_.link.Serial()) {
        serial->SetOtaReplyTimeoutMs(timings.ota_reply_timeout_ms);
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(mutex_);
    // Finished workers are joined here; one still in its restart wait is left to finish.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    Worker worker;
    worker.done = done;
    worker.thread = std::thread([this, work = std::move(work), done, timings] {
        try {
            if (Pause(timings.start_pause_ms)) {
                // An exchange that began before the claim (a version query, a read group) ends
                // first; later ones see the upgrade flag in their turn and stay off the line.
                { const auto turn = session_.link.HoldExchange(); }
                work();
            }
        } catch (const std::exception& e) {
            reporter_.Error(std::string("Upgrade error: ") + e.what());
        }
        Release();
        *done = true;
    });
    workers_.push_back(std::move(worker));
    return 0;
}

bool UpgradeOperation::Working() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Worker& worker : workers_) {
        if (!*worker.done) return true;
    }
    return false;
}

bool UpgradeOperation::Pause(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void UpgradeOperation::RunFileStream(const std::vector<uint8_t>& image,
                                     const std::string& command_text) {
    const auto client = session_.link.Cmx();
    const int32_t result = client ? client->FileStreamUpgrade(image, command_text, progress_)
                                  : krell::lidar::kCmxFailed;
    Release();
    if (result != 0) {
        reporter_.Error(kStreamFailed);
        reporter_.Log(kStreamFailed, "INFO");
        // The stream's own result is -1 for every failure; the sensor's code tells more.
        ReportFrameFailure(image.size(), static_cast<size_t>(progress_.load()),
                           client ? client->GetLastRetCode() : result);
        return;
    }
    reporter_.Success(kStreamSuccess);
    if (!Pause(Timings().restart_wait_ms)) return;
    if (maintenance_.Restart() != 0) reporter_.Error(kRebootFailed);
}

void UpgradeOperation::RunOta(const std::vector<uint8_t>& image, int kind, int mode) {
    int32_t result = krell::lidar::kCmxFailed;
    if (kind == Link::kKindMinkaSerial) {
        if (const auto serial = session_.link.Serial())
            result = serial->SerialUpgrade(image, mode, progress_);
    } else if (const auto client = session_.link.Cmx()) {
        result = client->TunnelUpgrade(image, mode, progress_);
    }
    Release();
    if (result == 0) {
        reporter_.Success(kOtaSuccess);
        return;
    }
    const std::string text = std::string(kStreamFailed) + " error:" + std::to_string(result);
    reporter_.Error(text);
    reporter_.Log(text, "INFO");
    ReportFrameFailure(image.size(), static_cast<size_t>(progress_.load()), result);
}

void UpgradeOperation::ReportFrameFailure(size_t image_bytes, size_t acknowledged,
                                          int32_t code) {
    const size_t total = FrameCount(image_bytes);
    // Results that only the steps before the frames give (port, boot loader, request) name no
    // frame.
    const bool frame_failure = code > 0 || code == krell::lidar::kUpgradeFrameRefused ||
                               (code >= krell::lidar::kCmxFailed - 2 && code < 0);
    if (!frame_failure || acknowledged >= total) return;
    std::string answer;
    if (code > 0) {
        answer = "the sensor refused it with status " + std::to_string(code);
    } else if (code == krell::lidar::kUpgradeFrameRefused) {
        answer = "the sensor refused it with status 0";
    } else {
        answer = "no valid acknowledgement came (code " + std::to_string(code) + ")";
    }
    reporter_.Log("Upgrade stopped at frame index " + std::to_string(acknowledged) + " of " +
                      std::to_string(total) + ": " + answer,
                  "ERROR");
}
