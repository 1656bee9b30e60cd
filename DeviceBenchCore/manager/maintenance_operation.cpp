#include "DeviceBenchCore/manager/maintenance_operation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cstdio>
#include <ctime>

#include "DeviceBenchCore/manager/cmx_command.h"
#include "DeviceBenchCore/manager/device_session.h"

namespace {

constexpr uint8_t kCmdConfigFile = 0x74;
constexpr const char* kArchiveSuffix = ".tar";
constexpr const char* kArchiver = "tar";
constexpr const char* kOperationLogStamp = "%Y_%m_%d_%H_%M_%S";
constexpr const char* kLogStamp = "%Y%m%d-%H%M%S";

struct LogPart {
    uint8_t selector_high;
    uint8_t selector_low;
    const char* prefix;
};
constexpr LogPart kOperationLogParts[] = {
    {0x00, 0x00, "bsw_warning_"},
    {0x00, 0x01, "asw_warning_"},
    {0x01, 0x00, "bsw_error_"},
    {0x01, 0x01, "asw_error_"},
};

std::string DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

// Runs the archiver in the staging folder. The working directory is the child's alone: changing
// the process's own would move every relative path of the UI thread (the tables) for a while.
void RunArchiver(const std::string& archive, const std::string& staging,
                 const std::vector<std::string>& files) {
    QStringList arguments{"-cvf", QString::fromStdString(archive)};
    for (const std::string& file : files)
        arguments << QString::fromStdString(file);
    QProcess archiver;
    archiver.setWorkingDirectory(QString::fromStdString(staging));
    archiver.setProcessChannelMode(QProcess::MergedChannels);
    archiver.start(kArchiver, arguments);
    if (!archiver.waitForStarted(MaintenanceOperation::kTarTimeoutMs)) {
        throw OperationError(std::string("the archiver \"") + kArchiver +
                             "\" could not be started: " + archiver.errorString().toStdString());
    }
    if (!archiver.waitForFinished(MaintenanceOperation::kTarTimeoutMs)) {
        archiver.kill();
        archiver.waitForFinished();
        throw OperationError(std::string("the archiver \"") + kArchiver + "\" did not finish in " +
                             std::to_string(MaintenanceOperation::kTarTimeoutMs) + " ms");
    }
    if (archiver.exitStatus() != QProcess::NormalExit || archiver.exitCode() != 0) {
        throw OperationError(std::string("the archiver \"") + kArchiver + "\" failed (exit code " +
                             std::to_string(archiver.exitCode()) +
                             "): " + archiver.readAll().trimmed().toStdString());
    }
}

}  // namespace

MaintenanceOperation::MaintenanceOperation(DeviceSession& session, Reporter& reporter,
                                           MaintenanceHooks hooks)
    : session_(session), reporter_(reporter), hooks_(std::move(hooks)) {}

MaintenanceOperation::~MaintenanceOperation() {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    if (download_thread_.joinable()) download_thread_.join();
    if (config_thread_.joinable()) config_thread_.join();
}

MaintenanceRequest MaintenanceOperation::BuildRequest(const std::string& text,
                                                      const std::vector<uint8_t>& row_payload) {
    CmxCommand command;
    if (!CmxCommand::FromText(text, command))
        throw OperationError("invalid command text \"" + text + "\"");
    MaintenanceRequest request;
    request.code = command.code;
    request.payload = command.prefix;
    request.payload.insert(request.payload.end(), row_payload.begin(), row_payload.end());
    return request;
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
    const auto client = session_.Cmx();
    return client && client->IsOpen() && !session_.upgrading && session_.connected &&
           !session_.downloading;
}

MaintenanceOperation::RowLookup MaintenanceOperation::FindCommand(
    const std::vector<std::string>& names, bool set_first, std::string& text,
    std::vector<uint8_t>& row_payload) const {
    std::lock_guard<std::mutex> lock(session_.data_mutex);
    if (session_.table == nullptr) return RowLookup::kNoRow;
    for (const std::string& name : names) {
        for (const VarInfo* var : session_.table->all_vars()) {
            if (var->var_name != name) continue;
            const std::string& first = set_first ? var->set_cmd : var->get_cmd;
            const std::string& second = set_first ? var->get_cmd : var->set_cmd;
            text = first.empty() ? second : first;
            row_payload = var->get_payload_bytes;
            return text.empty() ? RowLookup::kNoCommand : RowLookup::kFound;
        }
    }
    return RowLookup::kNoRow;
}

MaintenanceRequest MaintenanceOperation::RequireRequest(const std::vector<std::string>& names,
                                                        const std::string& label) const {
    std::string text;
    std::vector<uint8_t> row_payload;
    switch (FindCommand(names, false, text, row_payload)) {
        case RowLookup::kNoRow:
            throw OperationError("Can not find " + label + " name");
        case RowLookup::kNoCommand:
            throw OperationError("Can not find " + label + " command");
        case RowLookup::kFound:
            break;
    }
    return BuildRequest(text, row_payload);
}

int MaintenanceOperation::Restart() {
    if (!Ready()) return -1;
    std::string text;
    std::vector<uint8_t> row_payload;
    const RowLookup found = FindCommand({"Restart", "restart"}, true, text, row_payload);
    if (found != RowLookup::kFound) {
        reporter_.Error(found == RowLookup::kNoRow ? "Can not find restart name"
                                                   : "Can not find restart command");
        return -1;
    }
    const auto client = session_.Cmx();
    try {
        const MaintenanceRequest request = BuildRequest(text, row_payload);
        std::vector<uint8_t> reply;
        if (client && client->QueryCommand(request.payload, reply, request.code, true) == 0) {
            hooks_.stop();  // the sensor is rebooting; the user reconnects afterwards
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
    const RowLookup found = FindCommand({"Reset", "reset"}, true, text, row_payload);
    if (found != RowLookup::kFound) {
        reporter_.Error(found == RowLookup::kNoRow ? "Can not find reset name"
                                                   : "Can not find reset command");
        return -1;
    }
    int result = -1;
    try {
        const MaintenanceRequest request = BuildRequest(text, row_payload);
        std::vector<uint8_t> reply;
        const auto client = session_.Cmx();
        if (client) result = client->QueryCommand(request.payload, reply, request.code, true);
    } catch (const OperationError& e) {
        reporter_.Error(std::string("retset error: ") + e.what());
        return -1;
    }
    // Whatever the sensor answered, its settings may be gone: the link is not trusted any more.
    hooks_.stop();
    return result;
}

bool MaintenanceOperation::ClaimDownload() {
    bool expected = false;
    if (!session_.downloading.compare_exchange_strong(expected, true)) return false;
    if (hooks_.downloading_changed) hooks_.downloading_changed();
    return true;
}

void MaintenanceOperation::ReleaseDownload() {
    if (session_.downloading.exchange(false) && hooks_.downloading_changed)
        hooks_.downloading_changed();
}

void MaintenanceOperation::Launch(std::thread& slot, std::function<void()> work) {
    std::lock_guard<std::mutex> lock(threads_mutex_);
    if (slot.joinable()) slot.join();
    slot = std::thread(std::move(work));
}

int MaintenanceOperation::StartOperationLog(const std::string& archive_path) {
    // Claimed here, not on the worker: two quick clicks must not both pass the check.
    if (!Ready() || !ClaimDownload()) return -1;
    Launch(download_thread_, [this, archive_path] { RunOperationLog(archive_path); });
    return 0;
}

int MaintenanceOperation::DownloadOperationLog(const std::string& archive_path) {
    if (!ClaimDownload()) return -1;
    return RunOperationLog(archive_path);
}

int MaintenanceOperation::RunOperationLog(const std::string& archive_path) {
    const std::string staging = DocumentsFolder() + kStagingFolder;
    bool ok = false;
    try {
        if (archive_path.empty()) throw OperationError("no archive path was chosen");
        if (!QDir().mkpath(QString::fromStdString(staging)))
            throw OperationError("can not create the folder " + staging);
        FetchAndPack(ArchivePath(archive_path), staging);
        ok = true;
    } catch (const std::exception& e) {
        const std::string text = std::string("Operation Log download error: ") + e.what();
        reporter_.Log(text, "ERROR");
        reporter_.Error(text);
    }
    // The staged copies are only a means to the archive; a failure must not leave them around.
    QDir(QString::fromStdString(staging)).removeRecursively();
    ReleaseDownload();
    if (ok) {
        reporter_.Success("Operation log download successful.");
    } else {
        reporter_.Error("Operation log download failed.");
    }
    if (hooks_.operation_log_finished) hooks_.operation_log_finished(ok);
    return ok ? 0 : -1;
}

void MaintenanceOperation::FetchAndPack(const std::string& archive, const std::string& staging) {
    const MaintenanceRequest base =
        RequireRequest({"Operation Log", "operation log"}, "Operation Log");
    const auto client = session_.Cmx();
    if (!client) throw OperationError("the lidar is not connected");
    const std::string stamp = TimeStamp(kOperationLogStamp);
    std::vector<std::string> files;
    for (const LogPart& part : kOperationLogParts) {
        const std::string file = part.prefix + stamp + ".bin";
        std::vector<uint8_t> payload = base.payload;
        payload.push_back(part.selector_high);
        payload.push_back(part.selector_low);
        std::vector<uint8_t> reply;
        if (client->QueryCommandLongTimeout(payload, reply, base.code) != 0) {
            throw OperationError(
                file + " failed, return code: " + std::to_string(client->GetLastRetCode()));
        }
        QFile out(QString::fromStdString(staging + "/" + file));
        if (!out.open(QIODevice::ReadWrite | QIODevice::Truncate) ||
            out.write(reinterpret_cast<const char*>(reply.data()),
                      static_cast<qint64>(reply.size())) != static_cast<qint64>(reply.size())) {
            throw OperationError(file + ": " + out.errorString().toStdString());
        }
        files.push_back(file);
    }
    Pack(archive, staging, files);
}

void MaintenanceOperation::Pack(const std::string& archive, const std::string& staging,
                                const std::vector<std::string>& files) {
    // The archiver writes beside the chosen path; an archive already there is replaced only
    // by a complete one.
    const QFileInfo target(QString::fromStdString(archive));
    QTemporaryFile partial(target.absolutePath() + "/." + target.fileName() + ".XXXXXX.part");
    if (!partial.open())
        throw OperationError("can not write in " + target.absolutePath().toStdString());
    partial.close();
    const std::string partial_path = QFileInfo(partial.fileName()).absoluteFilePath().toStdString();
    RunArchiver(partial_path, staging, files);
    if (std::rename(partial_path.c_str(), target.absoluteFilePath().toStdString().c_str()) != 0)
        throw OperationError("can not replace " + archive);
    partial.setAutoRemove(false);
}

bool MaintenanceOperation::SafeLogName(const std::string& name) {
    // The name becomes part of a file name in the chosen folder; it must not lead out of it.
    if (!name.empty() && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos)
        return true;
    reporter_.Error("Invalid log name: " + name);
    return false;
}

int MaintenanceOperation::StartLog(const std::string& folder, const std::string& name) {
    if (!Ready() || !SafeLogName(name) || !ClaimDownload()) return -1;
    Launch(download_thread_, [this, folder, name] { RunLog(folder, name); });
    return 0;
}

int MaintenanceOperation::DownloadLog(const std::string& folder, const std::string& name) {
    if (!SafeLogName(name) || !ClaimDownload()) return -1;
    return RunLog(folder, name);
}

int MaintenanceOperation::RunLog(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name + "_" + TimeStamp(kLogStamp) + ".bin";
    bool ok = false;
    try {
        const MaintenanceRequest request = RequireRequest({name}, name);
        // An empty folder would put the log at the root of the file system.
        if (folder.empty()) throw OperationError(name + ": Failed to open file.");
        const auto client = session_.Cmx();
        std::vector<uint8_t> reply;
        if (client && client->QueryCommandLongTimeout(request.payload, reply, request.code) == 0) {
            ok = WriteLogFile(path, name, reply);
        } else {
            reporter_.Error(name + " download failed. return code: " +
                            std::to_string(client ? client->GetLastRetCode() : -1));
        }
    } catch (const std::exception& e) {
        reporter_.Error(e.what());
    }
    ReleaseDownload();
    if (ok) reporter_.Success(name + " download successful.");
    if (hooks_.log_finished) hooks_.log_finished();
    return ok ? 0 : -1;
}

bool MaintenanceOperation::WriteLogFile(const std::string& path, const std::string& name,
                                        const std::vector<uint8_t>& bytes) {
    QSaveFile out(QString::fromStdString(path));
    if (!out.open(QIODevice::WriteOnly)) {
        reporter_.Log(path + ": " + out.errorString().toStdString(), "ERROR");
        reporter_.Error(name + ": Failed to open file.");
        return false;
    }
    const qint64 size = static_cast<qint64>(bytes.size());
    if (out.write(reinterpret_cast<const char*>(bytes.data()), size) != size || !out.commit()) {
        out.cancelWriting();
        reporter_.Log(path + ": " + out.errorString().toStdString(), "ERROR");
        reporter_.Error(name + ": Failed to write binary data to file.");
        return false;
    }
    return true;
}

void MaintenanceOperation::StartGetConfigFile() {
    Launch(config_thread_, [this] {
        const auto client = session_.Cmx();
        std::vector<uint8_t> reply;
        const bool ok = client && client->QueryCommand({}, reply, kCmdConfigFile, false) == 0;
        std::printf(ok ? "[SUCCESS]: Get config file from lidar success! \n"
                       : "[FAILED]: Get config file from lidar failed! \n");
        std::fflush(stdout);
    });
}
