#include "DeviceBenchCore/manager/maintenance_operation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "DeviceBenchCore/manager/child_process.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

using krell::lidar::kCmdConfigFile;
constexpr const char* kArchiveSuffix = ".tar";
constexpr const char* kOperationLogStamp = "%Y_%m_%d_%H_%M_%S";
constexpr const char* kLogStamp = "%Y%m%d-%H%M%S";
constexpr size_t kOperationLogParts = 4;
constexpr uint8_t kSelectors[kOperationLogParts][2] = {
    {0x00, 0x00}, {0x00, 0x01}, {0x01, 0x00}, {0x01, 0x01}};

std::string DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

// Runs the archiver in the staging folder. The working directory is the child's alone: changing
// the process's own would move every relative path of the UI thread (the tables) for a while.
void RunArchiver(const std::string& archive, const std::string& staging,
                 const std::vector<std::string>& files) {
    const std::string name =
        std::string("the archiver \"") + MaintenanceOperation::kArchiver + "\"";
    std::vector<std::string> arguments{"-cvf", archive};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const ChildOutcome run = ChildProcess::Run(MaintenanceOperation::kArchiver, arguments, staging,
                                               MaintenanceOperation::kTarTimeoutMs);
    switch (run.state) {
        case ChildOutcome::State::kNotStarted:
            throw OperationError(
                name + " could not be started (is it installed and on the PATH?): " + run.error);
        case ChildOutcome::State::kTimedOut:
            throw OperationError(name + " did not finish in " +
                                 std::to_string(MaintenanceOperation::kTarTimeoutMs) + " ms");
        case ChildOutcome::State::kSignalled:
            throw OperationError(name + " crashed: " + strsignal(run.signal));
        case ChildOutcome::State::kExited:
            break;
    }
    if (run.exit_code != 0) {
        throw OperationError(name + " failed (exit code " + std::to_string(run.exit_code) + "): " +
                             QString::fromLocal8Bit(run.output.c_str()).trimmed().toStdString());
    }
}

// Takes the byte-flow callback off the link for one download (see Link::PauseByteFlow).
class ByteFlowPause {
public:
    explicit ByteFlowPause(Link& link) : link_(link) { link_.PauseByteFlow(); }
    ~ByteFlowPause() { link_.ResumeByteFlow(); }
    ByteFlowPause(const ByteFlowPause&) = delete;
    ByteFlowPause& operator=(const ByteFlowPause&) = delete;

private:
    Link& link_;
};

}  // namespace

const char* const MaintenanceOperation::kOperationLogPrefixes[4] = {"bsw_warning_", "asw_warning_",
                                                                    "bsw_error_", "asw_error_"};

MaintenanceOperation::MaintenanceOperation(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

MaintenanceOperation::~MaintenanceOperation() {
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(workers_mutex_);
        workers.swap(workers_);
    }
    for (Worker& worker : workers)
        worker.thread.join();
}

std::string MaintenanceOperation::ArchivePath(const std::string& path) {
    const std::string suffix = kArchiveSuffix;
    if (path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return path;
    }
    return path + suffix;
}

std::string MaintenanceOperation::TimeStamp(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof(text), format, &local);
    return text;
}

bool MaintenanceOperation::Ready() const {
    const Link& link = session_.link;
    const auto client = link.Cmx();
    return client && client->IsOpen() && !link.upgrading && link.connected && !link.downloading;
}

MaintenanceRequest MaintenanceOperation::RequireRequest(const std::vector<std::string>& names,
                                                        const std::string& label) const {
    std::string text;
    std::vector<uint8_t> row_payload;
    switch (session_.table.FindCommandRow(names, false, text, row_payload)) {
        case ActiveTable::RowLookup::kNoRow:
            throw OperationError("Can not find " + label + " name");
        case ActiveTable::RowLookup::kNoCommand:
            throw OperationError("Can not find " + label + " command");
        case ActiveTable::RowLookup::kFound:
            break;
    }
    return command_text::ParseMaintenanceCommand(text, row_payload);
}

int MaintenanceOperation::Restart() {
    if (!Ready()) return -1;
    std::string text;
    std::vector<uint8_t> row_payload;
    const ActiveTable::RowLookup found =
        session_.table.FindCommandRow({"Restart", "restart"}, true, text, row_payload);
    if (found != ActiveTable::RowLookup::kFound) {
        reporter_.Error(found == ActiveTable::RowLookup::kNoRow ? "Can not find restart name"
                                                                : "Can not find restart command");
        return -1;
    }
    const auto client = session_.link.Cmx();
    try {
        const MaintenanceRequest request = command_text::ParseMaintenanceCommand(text, row_payload);
        std::vector<uint8_t> reply;
        if (client && client->QueryCommand(request.payload, reply, request.code, true) == 0) {
            reporter_.Notify(ManagerEvent::kLinkEnded);  // the sensor reboots; reconnect later
            return 0;
        }
    } catch (const OperationError& e) {
        reporter_.Error(std::string("Restart error: ") + e.what());
        return -1;
    }
    reporter_.Error(
        "Auto reboot failed, ret_code: " + std::to_string(client ? client->GetLastRetCode() : -1) +
        ". Please reboot lidar manually.");
    return -1;
}

int MaintenanceOperation::Reset() {
    if (!Ready()) return -1;
    std::string text;
    std::vector<uint8_t> row_payload;
    const ActiveTable::RowLookup found =
        session_.table.FindCommandRow({"Reset", "reset"}, true, text, row_payload);
    if (found != ActiveTable::RowLookup::kFound) {
        reporter_.Error(found == ActiveTable::RowLookup::kNoRow ? "Can not find reset name"
                                                                : "Can not find reset command");
        return -1;
    }
    int result = -1;
    try {
        const MaintenanceRequest request = command_text::ParseMaintenanceCommand(text, row_payload);
        std::vector<uint8_t> reply;
        const auto client = session_.link.Cmx();
        if (client) result = client->QueryCommand(request.payload, reply, request.code, true);
    } catch (const OperationError& e) {
        reporter_.Error(std::string("retset error: ") + e.what());
        return -1;
    }
    // Whatever the sensor answered, its settings may be gone: the link is not trusted any more.
    reporter_.Notify(ManagerEvent::kLinkEnded);
    return result;
}

bool MaintenanceOperation::ClaimDownload() {
    bool expected = false;
    if (!session_.link.downloading.compare_exchange_strong(expected, true)) return false;
    reporter_.Notify(ManagerEvent::kDownloadingChanged);
    return true;
}

void MaintenanceOperation::ReleaseDownload() {
    if (session_.link.downloading.exchange(false))
        reporter_.Notify(ManagerEvent::kDownloadingChanged);
}

void MaintenanceOperation::Launch(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back(Worker{std::thread([work = std::move(work), done] {
                                  work();
                                  *done = true;
                              }),
                              done});
}

bool MaintenanceOperation::ArchivePathGiven(const std::string& archive_path,
                                            const char* invokable) {
    if (!archive_path.empty()) return true;
    reporter_.Log(std::string(invokable) + ": no archive path was chosen; nothing was done.",
                  "WARNING");
    return false;
}

int MaintenanceOperation::StartOperationLog(const std::string& archive_path) {
    // Claimed here, not on the worker: two quick clicks must not both pass the check.
    if (!ArchivePathGiven(archive_path, "DownloadOperationLog") || !Ready() || !ClaimDownload())
        return -1;
    Launch([this, archive_path] { RunOperationLog(archive_path); });
    return 0;
}

int MaintenanceOperation::DownloadOperationLog(const std::string& archive_path) {
    if (!ArchivePathGiven(archive_path, "DownloadOperationLogThread") || session_.link.upgrading ||
        !ClaimDownload()) {
        return -1;
    }
    return RunOperationLog(archive_path);
}

int MaintenanceOperation::RunOperationLog(const std::string& archive_path) {
    std::string staging;
    std::string failure;
    size_t fetched = 0;
    try {
        const std::string documents = DocumentsFolder();
        if (documents.empty()) throw OperationError("the documents folder is not known");
        staging = documents + kStagingFolder;
        if (!QDir().mkpath(QString::fromStdString(staging)))
            throw OperationError("can not create the folder " + staging);
        FetchAndPack(ArchivePath(archive_path), staging, fetched);
    } catch (const std::exception& e) {
        failure = e.what();
        reporter_.Log("Operation Log download error: " + failure, "ERROR");
    }
    // The staged parts are only a means to the archive once it stands; until then they are all
    // the user has of the log (a sensor that fell silent, a missing archiver).
    if (failure.empty()) QDir(QString::fromStdString(staging)).removeRecursively();
    ReleaseDownload();
    if (failure.empty()) {
        reporter_.Success("Operation log download successful.");
    } else {
        std::string text = "Operation log download failed. " + failure;
        if (fetched > 0) text += "; the parts downloaded so far are in " + staging + ".";
        reporter_.Error(text);
    }
    reporter_.Notify(ManagerEvent::kOperationLogFinished, failure.empty() ? kEventSubjectOk : "");
    return failure.empty() ? 0 : -1;
}

void MaintenanceOperation::FetchAndPack(const std::string& archive, const std::string& staging,
                                        size_t& fetched) {
    const QString staging_dir = QDir(QString::fromStdString(staging)).absolutePath() + "/";
    if (QFileInfo(QString::fromStdString(archive)).absoluteFilePath().startsWith(staging_dir))
        throw OperationError("the archive can not be placed in " + staging +
                             ", which holds the parts");
    const MaintenanceRequest base =
        RequireRequest({"Operation Log", "operation log"}, "Operation Log");
    const auto client = session_.link.Cmx();
    if (!client) throw OperationError("the lidar is not connected");
    const ByteFlowPause pause(session_.link);
    const std::string stamp = TimeStamp(kOperationLogStamp);
    std::vector<std::string> files;
    std::vector<uint8_t> reply;
    for (size_t part = 0; part < kOperationLogParts; ++part) {
        const std::string file = kOperationLogPrefixes[part] + stamp + ".bin";
        std::vector<uint8_t> payload = base.payload;
        payload.push_back(kSelectors[part][0]);
        payload.push_back(kSelectors[part][1]);
        // Nothing is retried: a part that does not arrive ends the download (the later parts
        // would only wait out the same silence).
        if (client->QueryCommandLongTimeout(payload, reply, base.code) != 0) {
            throw OperationError(file + " download failed. return code: " +
                                 std::to_string(client->GetLastRetCode()));
        }
        QFile out(QString::fromStdString(staging + "/" + file));
        const qint64 size = static_cast<qint64>(reply.size());
        if (!out.open(QIODevice::ReadWrite | QIODevice::Truncate) ||
            out.write(reinterpret_cast<const char*>(reply.data()), size) != size || !out.flush()) {
            const std::string error = file + ": " + out.errorString().toStdString();
            out.close();
            out.remove();  // a part cut short is no part
            throw OperationError(error);
        }
        files.push_back(file);
        fetched = files.size();
    }
    Pack(archive, staging, files);
}

void MaintenanceOperation::Pack(const std::string& archive, const std::string& staging,
                                const std::vector<std::string>& files) {
    // The archiver writes a hidden file beside the chosen path, so an archive already there is
    // replaced only by a complete one (a rename within one folder is atomic).
    const QFileInfo target(QString::fromStdString(archive));
    QTemporaryFile partial(target.absolutePath() + "/." + target.fileName() + ".XXXXXX.part");
    if (!partial.open())
        throw OperationError("can not write in " + target.absolutePath().toStdString() + ": " +
                             partial.errorString().toStdString());
    const QString partial_path = QFileInfo(partial.fileName()).absoluteFilePath();
    partial.close();
    // The name is reserved; the archiver makes the file itself, with the user's usual mode
    // rather than the private mode of a temporary file. The object still removes it on failure.
    QFile::remove(partial_path);
    RunArchiver(partial_path.toStdString(), staging, files);
    if (std::rename(partial_path.toStdString().c_str(),
                    target.absoluteFilePath().toStdString().c_str()) != 0) {
        throw OperationError("can not replace " + archive + ": " + std::strerror(errno));
    }
    partial.setAutoRemove(false);
}

bool MaintenanceOperation::SafeLogName(const std::string& name) {
    // The name becomes part of a file name in the chosen folder; it must not lead out of it.
    if (!name.empty() && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos)
        return true;
    const std::string text =
        "Invalid log name \"" + name + "\": a log name can be neither empty nor hold / or \\.";
    reporter_.Error(text);
    reporter_.Log("DownloadLog: " + text, "WARNING");
    return false;
}

int MaintenanceOperation::StartLog(const std::string& folder, const std::string& name) {
    if (!SafeLogName(name) || !Ready() || !ClaimDownload()) return -1;
    Launch([this, folder, name] { RunLog(folder, name); });
    return 0;
}

int MaintenanceOperation::DownloadLog(const std::string& folder, const std::string& name) {
    if (session_.link.upgrading || !SafeLogName(name) || !ClaimDownload()) return -1;
    return RunLog(folder, name);
}

int MaintenanceOperation::RunLog(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name + "_" + TimeStamp(kLogStamp) + ".bin";
    std::string error;
    try {
        const MaintenanceRequest request = RequireRequest({name}, name);
        const auto client = session_.link.Cmx();
        std::vector<uint8_t> reply;
        int32_t result = -1;
        if (client) {
            const ByteFlowPause pause(session_.link);
            result = client->QueryCommandLongTimeout(request.payload, reply, request.code);
        }
        if (result != 0) {
            error = name + " download failed. return code: " +
                    std::to_string(client ? client->GetLastRetCode() : -1);
        } else if (folder.empty()) {
            // An empty folder would put the log at the root of the file system.
            error = name + ": Failed to open file.";
        } else {
            error = WriteLogFile(path, name, reply);
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    ReleaseDownload();
    if (error.empty()) {
        reporter_.Success(name + " download successful.");
    } else {
        reporter_.Error(error);
    }
    reporter_.Notify(ManagerEvent::kLogDownloadFinished);
    return error.empty() ? 0 : -1;
}

std::string MaintenanceOperation::WriteLogFile(const std::string& path, const std::string& name,
                                               const std::vector<uint8_t>& bytes) {
    // QSaveFile writes beside `path` and renames on commit: a failure leaves no partial file.
    QSaveFile out(QString::fromStdString(path));
    if (!out.open(QIODevice::WriteOnly)) {
        reporter_.Log(path + ": " + out.errorString().toStdString(), "ERROR");
        return name + ": Failed to open file.";
    }
    const qint64 size = static_cast<qint64>(bytes.size());
    if (out.write(reinterpret_cast<const char*>(bytes.data()), size) != size || !out.commit()) {
        reporter_.Log(path + ": " + out.errorString().toStdString(), "ERROR");
        out.cancelWriting();
        return name + ": Failed to write binary data to file.";
    }
    return std::string();
}

void MaintenanceOperation::StartGetConfigFile() {
    Launch([this] {
        const auto client = session_.link.Cmx();
        std::vector<uint8_t> reply;
        const bool ok = client && client->QueryCommand({}, reply, kCmdConfigFile, false) == 0;
        std::fputs(ok ? "[SUCCESS]: Get config file from lidar success! \n"
                      : "[FAILED]: Get config file from lidar failed! \n",
                   stdout);
        std::fflush(stdout);
    });
}
