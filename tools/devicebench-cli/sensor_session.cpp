#include "tools/devicebench-cli/sensor_session.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <thread>

#include "tools/devicebench-cli/exit_code.h"

namespace {

constexpr int kReconnectPauseMs = 200;

std::string ModelList(const std::string& dir) {
    std::string list;
    const QStringList files =
        QDir(QString::fromStdString(dir)).entryList({"*.csv"}, QDir::Files, QDir::Name);
    for (const QString& file : files)
        list += (list.empty() ? "" : ", ") + QFileInfo(file).completeBaseName().toStdString();
    return list.empty() ? "none" : list;
}

}  // namespace

std::string SensorTarget::Describe() const {
    if (Link::KindOfModel(model) == Link::kKindMinkaSerial)
        return settings.serial_port_485 + "+" + settings.serial_port_232;
    return settings.ip_address + ":" + settings.port;
}

SensorSession::SensorSession(CliReporter& reporter)
    : reporter_(reporter),
      session_(std::make_unique<DeviceSession>()),
      connection_(std::make_unique<ConnectionOps>(*session_, reporter)),
      reader_(std::make_unique<VariableReader>(*session_, reporter)),
      snapshots_(std::make_unique<SnapshotOperation>(*session_, reporter)),
      console_(std::make_unique<ConsoleOperation>(*session_, reporter)),
      maintenance_(std::make_unique<MaintenanceOperation>(*session_, reporter)),
      model_(std::make_unique<ModelOperation>(*session_, reporter)),
      upgrade_(std::make_unique<UpgradeOperation>(*session_, reporter, *maintenance_)) {
    Link* link = &session_->link;
    // Restart and reset end the link from whichever thread ran them; aborting is safe there.
    reporter_.OnLinkEnded([link] {
        link->connected = false;
        link->Abort();
    });
}

SensorSession::~SensorSession() {
    reporter_.OnLinkEnded(nullptr);
    session_->link.CloseForGood();
    upgrade_.reset();
    maintenance_.reset();
    Close();
}

void SensorSession::SelectModel(const SensorTarget& target) {
    const std::string path = target.tables_dir + "/" + target.model + ".csv";
    if (target.model.empty() || !QFileInfo(QString::fromStdString(path)).isFile()) {
        throw CliFailure(ExitCode::kUsage, "there is no variable table for the model \"" +
                                               target.model + "\" in " + target.tables_dir +
                                               " (models: " + ModelList(target.tables_dir) + ")");
    }
    const int kind = Link::KindOfModel(target.model);
    session_->link.kind = kind;
    std::string load_error;
    session_->table.Select(target.model, path, kind != Link::kKindTcp, load_error);
    if (!load_error.empty()) {
        throw CliFailure(ExitCode::kUsage,
                         "the variable table " + path + " does not load: " + load_error);
    }
}

void SensorSession::OpenLink(const SensorTarget& target) {
    const int kind = session_->link.kind.load();
    try {
        if (kind == Link::kKindTcp) connection_->ConnectTcp(target.settings);
        if (kind == Link::kKindSerialCmx) connection_->ConnectSerialCmx(target.settings);
        if (kind == Link::kKindMinkaSerial) connection_->ConnectMinka(target.settings);
    } catch (const ConnectError& e) {
        session_->link.SetCmx(nullptr);
        session_->link.SetSerial(nullptr, nullptr, nullptr);
        throw CliFailure(ExitCode::kConnection, "cannot connect to the " + target.model + " at " +
                                                    target.Describe() + ": " + e.user_text + " (" +
                                                    e.what() + ")");
    }
    session_->link.connected = true;
}

void SensorSession::Connect(const SensorTarget& target) {
    SelectModel(target);
    OpenLink(target);
}

bool SensorSession::Reconnect(const SensorTarget& target, int wait_ms) {
    Close();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (true) {
        try {
            OpenLink(target);
            return true;
        } catch (const CliFailure&) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kReconnectPauseMs));
    }
}

void SensorSession::Close() {
    session_->link.connected = false;
    session_->link.Abort();
    session_->link.SetCmx(nullptr);
    session_->link.SetSerial(nullptr, nullptr, nullptr);
    session_->edits.Clear();
}
