#include "DeviceBenchCore/manager/device_bench_manager.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <mutex>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/minka_info_loop.h"
#include "DeviceBenchCore/manager/page_model.h"
#include "DeviceBenchCore/manager/range_check.h"
#include "DeviceBenchCore/manager/refresh_thread.h"
#include "DeviceBenchCore/manager/variable_reader.h"
#include "DeviceBenchCore/manager/variable_writer.h"
#include "DeviceBenchCore/snapshot/snapshot_operation.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/table_error.h"

namespace {

constexpr const char* kTableDir = "./Config/varID";
constexpr const char* kHiddenModel = "Rusko-CMX";

}  // namespace

DeviceBenchManager* DeviceBenchManager::GetInstance(bool flag, const std::string& table_path) {
    static std::once_flag once;
    static QPointer<DeviceBenchManager> instance;
    std::call_once(once, [&] { instance = new DeviceBenchManager(flag, table_path); });
    return instance.data();
}

DeviceBenchManager::DeviceBenchManager(bool flag, const std::string& table_path, QObject* parent)
    : QObject(parent),
      session_(std::make_shared<DeviceSession>(table_path)),
      flag_(flag),
      connection_(std::make_unique<ConnectionOps>(*session_, *this)),
      reader_(std::make_unique<VariableReader>(*session_, *this)),
      writer_(std::make_unique<VariableWriter>(*session_, *this)),
      range_check_(std::make_unique<RangeCheck>(*session_, *this)),
      page_model_(std::make_unique<PageModel>(*session_, *this)),
      console_(std::make_unique<ConsoleOperation>(*session_, *this)),
      maintenance_(std::make_unique<MaintenanceOperation>(*session_, *this)),
      model_(std::make_unique<ModelOperation>(*session_, *this)),
      snapshots_(std::make_unique<SnapshotOperation>(*session_, *this)),
      upgrade_(std::make_unique<UpgradeOperation>(*session_, *this, *maintenance_)),
      refresh_(std::make_unique<RefreshThread>()),
      info_loop_(std::make_unique<MinkaInfoLoop>(*session_, *this, *model_)) {
    settings_.ip_address = "192.168.1.201";
    settings_.port = "9347";
    settings_.serial_port_485 = "/dev/ttyUSB0";
    settings_.serial_port_232 = "/dev/ttyUSB1";
    settings_.baud_rate = 3000000;
    ReadSettings();
}

DeviceBenchManager::~DeviceBenchManager() {
    // A closing window must not wait for a silent sensor: the attempt's probes and every
    // exchange in flight end now, and a client the attempt makes from here on is born closed.
    session_->link.CloseForGood();
    std::thread attempt;
    {
        std::lock_guard<std::mutex> lock(connect_thread_mutex_);
        attempt.swap(connect_thread_);
    }
    if (attempt.joinable()) attempt.join();
    Stop();
    // Their workers report through this object: joined here, while it is whole. The upgrade
    // worker may still restart through the maintenance operation, so it goes first.
    upgrade_.reset();
    maintenance_.reset();
}

// ---- Reporter: the one place where operation results become texts and signals ----

void DeviceBenchManager::OnOwnerThread(std::function<void()> fn) {
    if (QThread::currentThread() == thread()) {
        fn();
    } else {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    }
}

void DeviceBenchManager::Log(const std::string& text, const std::string& type) {
    const QString msg = QString::fromStdString(text);
    const QString kind = QString::fromStdString(type);
    OnOwnerThread([this, msg, kind] { emit sendLogMessage(msg, kind); });
}

void DeviceBenchManager::Error(const std::string& text) {
    setErrorMsg(QString::fromStdString(text));
}

void DeviceBenchManager::Success(const std::string& text) {
    setSuccessMsg(QString::fromStdString(text));
}

void DeviceBenchManager::Notify(ManagerEvent event, const std::string& subject) {
    OnOwnerThread([this, event, subject] {
        switch (event) {
            case ManagerEvent::kConnectionChanged:
                emit isConnectedChanged();
                break;
            case ManagerEvent::kValuesRead:
                emit myMapChanged();
                break;
            case ManagerEvent::kFovChanged:
                emit fovConfigChanged();
                break;
            case ManagerEvent::kTimerValuesRead:
                emit myTimerMapChanged();
                break;
            case ManagerEvent::kPblQueryChanged:
                emit isGetPBLVersionChanged();
                break;
            case ManagerEvent::kMinkaInfoChanged:
                emit minkaLidarInfoChanged();
                break;
            case ManagerEvent::kVarOutOfRange:
                emit someVarOutOfRange(QString::fromStdString(subject));
                break;
            case ManagerEvent::kDownloadingChanged:
                emit isDownloadLogChanged();
                break;
            case ManagerEvent::kOperationLogFinished:
                emit downloadOperationLogFinished(subject == kEventSubjectOk);
                break;
            case ManagerEvent::kLogDownloadFinished:
                emit downloadFinished();
                break;
            case ManagerEvent::kLinkEnded:
                Stop();
                break;
            case ManagerEvent::kUpgradingChanged:
                emit isUpgradingChanged();
                break;
        }
    });
}

void DeviceBenchManager::setErrorMsg(const QString& str) {
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        error_message_ = str.toStdString();
    }
    if (!str.isEmpty()) OnOwnerThread([this] { emit errorMessageChanged(); });
}

void DeviceBenchManager::setSuccessMsg(const QString& str) {
    {
        std::lock_guard<std::mutex> lock(text_mutex_);
        success_message_ = str.toStdString();
    }
    if (!str.isEmpty()) OnOwnerThread([this] { emit successMessageChanged(); });
}

// ---- Settings ----

QString DeviceBenchManager::SettingsFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           "/LumoraDataFiles/RecvSettings.ini";
}

void DeviceBenchManager::ReadSettings() {
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    if (settings.contains("device_ip_address"))
        settings_.ip_address = settings.value("device_ip_address").toString().toStdString();
    if (settings.contains("cmx_port"))
        settings_.port = settings.value("cmx_port").toString().toStdString();
    if (settings.contains("rs485_com"))
        settings_.serial_port_485 = settings.value("rs485_com").toString().toStdString();
    if (settings.contains("rs232_com"))
        settings_.serial_port_232 = settings.value("rs232_com").toString().toStdString();
    if (settings.contains("point_cloud_baudrate"))
        settings_.baud_rate = settings.value("point_cloud_baudrate").toInt();
    if (settings.contains("udp_port"))
        settings_.udp_port = static_cast<uint16_t>(settings.value("udp_port").toInt());
    emit initInfoChanged();
}

void DeviceBenchManager::WriteSettings() {
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    settings.setValue("device_ip_address", QString::fromStdString(settings_.ip_address));
    settings.setValue("cmx_port", QString::fromStdString(settings_.port));
    settings.setValue("rs485_com", QString::fromStdString(settings_.serial_port_485));
    settings.setValue("rs232_com", QString::fromStdString(settings_.serial_port_232));
    settings.setValue("point_cloud_baudrate", QString::number(settings_.baud_rate));
    settings.sync();
}

// ---- Model selection ----

QVariantList DeviceBenchManager::LidarModelList() const {
    QVariantList list;
    if (!module_name_.empty()) {
        list << QString::fromStdString(module_name_);
        return list;
    }
    const QStringList files = QDir(kTableDir).entryList({"*.csv"}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        const QString model = QFileInfo(file).completeBaseName();
        if (model != kHiddenModel) list << model;
    }
    return list;
}

void DeviceBenchManager::InitConfigFileParser(const QString& model_name) {
    const std::string name = model_name.toStdString();
    const std::string path = std::string(kTableDir) + "/" + name + ".csv";
    if (name.empty() || !QFileInfo(QString::fromStdString(path)).isFile()) {
        Refuse("InitConfigFileParser", "there is no variable table for the model \"" + name +
                                           "\" (" + path + "); the model stays " +
                                           session_->table.Model());
        return;
    }
    const int kind = Link::KindOfModel(name);
    // The information page closes with a network model.
    if (kind == Link::kKindTcp) info_loop_->Stop();
    session_->link.kind = kind;
    std::string load_error;
    const ActiveTable::Selection selection =
        session_->table.Select(name, path, kind != Link::kKindTcp, load_error);
    if (selection == ActiveTable::Selection::kUnchanged) return;
    // The rows read before a fault stay loaded; the user learns which row broke.
    if (!load_error.empty()) Log("Variable table error: " + load_error, "ERROR");
    if (kind != Link::kKindTcp) emit minkaLidarInfoChanged();
    emit connectTypeChanged();
    emit lidarClearModel();
    emit lidarModelChanged();
    emit lidarShowModel();
}

void DeviceBenchManager::SetModuleName(const std::string& name) {
    if (name.empty()) return;
    const QString model = QString::fromStdString(name);
    if (!LidarModelList().contains(model)) return;
    InitConfigFileParser(model);
    module_name_ = name;
    emit lidarModelListChanged();
}

// ---- Connection ----

bool DeviceBenchManager::ConnectLidar() {
    const int kind = session_->link.kind.load();
    if (kind != Link::kKindTcp && kind != Link::kKindMinkaSerial && kind != Link::kKindSerialCmx) {
        return false;
    }
    // Claimed here, not on the new thread, so that two quick calls start one attempt.
    if (session_->link.connecting.exchange(true)) return false;
    {
        std::lock_guard<std::mutex> lock(connect_thread_mutex_);
        if (connect_thread_.joinable()) connect_thread_.join();  // the last attempt has ended
        connect_thread_ = std::thread(
            [this, kind, settings = settings_] { RunConnectionAttempt(kind, settings); });
    }
    WriteSettings();
    return true;
}

void DeviceBenchManager::RunConnectionAttempt(int kind, const ConnectSettings& settings) {
    try {
        if (kind == Link::kKindTcp) connection_->ConnectTcp(settings);
        if (kind == Link::kKindSerialCmx) connection_->ConnectSerialCmx(settings);
        if (kind == Link::kKindMinkaSerial) connection_->ConnectMinka(settings);
    } catch (const ConnectError& e) {
        if (kind == Link::kKindTcp) std::printf("DeviceBenchManager::Init(): init lidar error\n");
        if (kind == Link::kKindSerialCmx)
            std::printf("DeviceBenchManager::InitCmxForSerial(): init lidar error\n");
        session_->link.SetCmx(nullptr);
        session_->link.SetSerial(nullptr, nullptr, nullptr);
        Error(e.user_text);
        Log(std::string("Connection Error: ") + (e.what()[0] ? e.what() : "Unknown"), "ERROR");
        session_->link.connecting = false;
        return;
    }
    OnConnected(kind, settings.udp_port);
}

bool DeviceBenchManager::ReadyForRefresh() const {
    const Link& link = session_->link;
    return link.connected.load() && !link.upgrading.load() && !link.downloading.load();
}

void DeviceBenchManager::OnConnected(int kind, uint16_t udp_port) {
    session_->link.connected = true;
    const std::shared_ptr<DeviceSession> session = session_;
    VariableReader* reader = reader_.get();
    refresh_->Start([this] { return ReadyForRefresh(); },
                    [session, reader, kind] {
                        // The serial models' periodic reads belong to their own operations.
                        if (kind == Link::kKindTcp)
                            reader->ReadTimerVars(session->link.module_index.load());
                    });
    Log("Lidar connected", "INFO");
    if (kind == Link::kKindTcp) Notify(ManagerEvent::kValuesRead);
    if (kind != Link::kKindTcp) info_loop_->Start(udp_port);
    Notify(ManagerEvent::kConnectionChanged);
    session_->link.connecting = false;
}

bool DeviceBenchManager::CheckLidarConnection() {
    return connection_->Probe();
}

void DeviceBenchManager::Stop() {
    session_->link.connected = false;
    // The refresh may be waiting for a reply; shutting the link makes that exchange fail at once,
    // so the join below and the UI thread never wait for a silent sensor.
    session_->link.Abort();
    refresh_->Stop();
    info_loop_->Stop();
    session_->table.ForgetSerialNumbers();
    session_->edits.Clear();
    session_->table.ResetFov();
    session_->link.SetCmx(nullptr);
    session_->link.SetSerial(nullptr, nullptr, nullptr);
    emit isConnectedChanged();
    emit myMapChanged();
    emit sendLogMessage("Lidar disconnected", "INFO");
}

bool DeviceBenchManager::GetIsConnectingLidar() {
    return session_->link.connecting.load();
}

void DeviceBenchManager::setModuleIndexUse(int index) {
    if (!PageExists(index, "setModuleIndexUse")) return;
    session_->link.module_index = index;
}

void DeviceBenchManager::SetLogBytesFlowStatus(bool flag) {
    session_->link.log_bytes = flag;
}

QString DeviceBenchManager::getLMNowName() {
    return QString::fromStdString(module_name_);
}

void DeviceBenchManager::SetTlsFiles(const std::string& cert_path, const std::string& key_path,
                                     const std::string& ca_path) {
    settings_.cert_path = cert_path;
    settings_.key_path = key_path;
    settings_.ca_path = ca_path;
}
