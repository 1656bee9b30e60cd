// DeviceBenchManager: reading and writing variables, the page lists and the property accessors.
#include <QDebug>

#include <stdexcept>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/minka_info_loop.h"
#include "DeviceBenchCore/manager/page_model.h"
#include "DeviceBenchCore/manager/pending_changes.h"
#include "DeviceBenchCore/manager/range_check.h"
#include "DeviceBenchCore/manager/variable_reader.h"
#include "DeviceBenchCore/manager/variable_writer.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/number_text.h"

namespace {

constexpr const char* kSetSuccess =
    "Set Lidar Successfully\nNote that if you have changed the TCP-related settings, you will "
    "need to restart the lidar for it to work.";
constexpr const char* kNothingToSave = "There are no changes to save on this page.";
constexpr const char* kFovCommand = "0x22";
constexpr int kFovEntries = 10;
constexpr double kFovMaxDeg = 360.0;

}  // namespace

void DeviceBenchManager::Refuse(const char* invokable, const std::string& why) {
    Log(std::string(invokable) + ": " + why + "; nothing was done.", "WARNING");
}

bool DeviceBenchManager::PageExists(int module, const char* invokable) {
    const size_t pages = session_->table.PageCount();
    if (module >= 0 && static_cast<size_t>(module) < pages) return true;
    Refuse(invokable, "there is no page " + std::to_string(module) + " (the table has " +
                          std::to_string(pages) + ")");
    return false;
}

bool DeviceBenchManager::ElementExists(int level1, int level2, int level3, const char* invokable) {
    if (session_->table.Element(level1, level2, level3) != nullptr) return true;
    Refuse(invokable, "there is no element [" + std::to_string(level1) + "][" +
                          std::to_string(level2) + "][" + std::to_string(level3) + "]");
    return false;
}

bool DeviceBenchManager::CheckWritePreconditions() {
    if (!session_->table.HasTable()) return false;
    const Link& link = session_->link;
    const char* refusal = nullptr;
    if (!link.connected.load()) {
        refusal = "Please connect to lidar first";
    } else if (link.upgrading.load()) {
        refusal = "Please wait for the lidar to upgrade completely";
    } else if (link.downloading.load()) {
        refusal = "Please wait for the operation log to download completely";
    }
    if (refusal) Error(refusal);
    return refusal == nullptr;
}

void DeviceBenchManager::Run(int module) {
    if (!PageExists(module, "Run") || !CheckWritePreconditions()) return;
    // Written, failed or requeued: the page's list of what a Save would change is new after it.
    struct Announce {
        DeviceBenchManager* manager;
        ~Announce() { emit manager->pendingChangesChanged(); }
    } announce{this};
    try {
        if (!writer_->Run(module)) {
            // Nothing pending here; the edits of other pages stay for their own save.
            Error(kNothingToSave);
            return;
        }
    } catch (const WriteError& e) {
        qDebug() << "DeviceBenchManager::Run(): Caught Exception: " << e.what();
        Error(std::string("Set Failed: ") + e.what());
        if (!e.command.empty()) {
            Log("Set " + e.command + " Failed. " +
                    (e.any_sent ? "Command was sent." : "No command was sent.") +
                    " Detail: " + e.what(),
                "WARNING");
        }
        return;
    }
    Success(kSetSuccess);
    Stop();
}

void DeviceBenchManager::SetText(int type, int level1, int level2, int level3,
                                 const QString& text) {
    if (!ElementExists(level1, level2, level3, "SetText")) return;
    VarInfo* var = session_->table.Element(level1, level2, level3);
    VarInfo* target = var;
    std::string value = text.toStdString();
    if (type == 2) {
        target = var->switch_var;
        if (!target) {
            Log("config file error, Please check the configuration of type 2 of " + var->var_name,
                "ERROR");
        }
    } else if (type == 3) {
        bool ok = false;
        const int i = text.toInt(&ok);
        if (!ok || i < 0 || i >= var->option_num) {
            Log("Invalid switch value of type 3, please check the config file! name: " +
                    var->var_name,
                "ERROR");
            return;
        }
        value = std::to_string(var->options[static_cast<size_t>(i)]);
    } else if (type != 1) {
        Log("Invalid switch value of type , please check the config file! name: " + var->var_name,
            "ERROR");
        return;
    }
    if (!target) return;
    const std::string shown_before = session_->table.CurrentValue(*target);
    if (session_->table.ChangeCurrentValue(*target, value)) {
        session_->edits.RecordEdit(*target, shown_before);
        emit pendingChangesChanged();
    }
}

void DeviceBenchManager::ClearSetMap() {
    session_->edits.Clear();
    emit pendingChangesChanged();
}

QVariantList DeviceBenchManager::PendingChanges(int module) const {
    QVariantList list;
    for (const PendingChange& change : PendingChangesOfPage(session_->table, session_->edits, module)) {
        QVariantMap row;
        row["name"] = QString::fromStdString(change.name);
        row["saved"] = QString::fromStdString(change.saved);
        row["staged"] = QString::fromStdString(change.staged);
        list << row;
    }
    return list;
}

int DeviceBenchManager::getSetMapSize() {
    return session_->edits.Size();
}

void DeviceBenchManager::GetLidarModuleInfo(int module) {
    if (!PageExists(module, "GetLidarModuleInfo")) return;
    reader_->ReadPage(module);
}

VarInfo* DeviceBenchManager::FindVar(const QString& text, const QString& search_type,
                                     const char* invokable) {
    VarInfo* var = session_->table.FindVar(text.toStdString(), search_type.toStdString());
    if (var == nullptr) {
        Refuse(invokable, "there is no variable whose " + search_type.toStdString() + " is \"" +
                              text.toStdString() + "\"");
    }
    return var;
}

bool DeviceBenchManager::UpdateSingleVarInfo(const QString& qs_var_info,
                                             const QString& search_type) {
    VarInfo* var = FindVar(qs_var_info, search_type, "UpdateSingleVarInfo");
    if (var == nullptr || !session_->ReadyForExchange()) return false;
    std::vector<uint8_t> bytes;
    bool read = false;
    try {
        const auto turn = session_->link.HoldExchange();
        read = reader_->ReadOne(var, bytes);
    } catch (const OperationError& e) {
        qDebug() << "DeviceBenchManager::GetInfoFromLidar():" << e.what();
        return false;
    }
    if (read) emit myMapChanged();
    return read;
}

bool DeviceBenchManager::CheckVarIsWithinRange(const QString& qs_var_info,
                                               const QString& search_type) {
    // A variable that cannot be found cannot be out of range.
    if (FindVar(qs_var_info, search_type, "CheckVarIsWithinRange") == nullptr) return true;
    return range_check_->VarWithinRange(qs_var_info.toStdString(), search_type.toStdString());
}

bool DeviceBenchManager::CheckModuleVarsWithinRange(int module) {
    if (!PageExists(module, "CheckModuleVarsWithinRange")) return false;
    return range_check_->PageWithinRange(module);
}

void DeviceBenchManager::SetMultiFovConfig(int index, const QString& fov) {
    if (index < 0 || index >= kFovEntries) {
        Refuse("SetMultiFovConfig", "there is no field-of-view entry " + std::to_string(index));
        return;
    }
    bool ok = false;
    const double value = fov.toDouble(&ok);
    if (!ok || value < 0.0 || value > kFovMaxDeg) {
        Error("Input value of fov is invalid");
        emit fovConfigChanged();
        return;
    }
    session_->table.SetFovEntry(static_cast<size_t>(index), static_cast<float>(value));
    session_->edits.MarkPending(kFovCommand);
}

void DeviceBenchManager::UpdateUI() {
    emit myMapChanged();
}

bool DeviceBenchManager::CheckVarExistsInConfigFileByName(const QString& qs_var_info) {
    const QStringList words = qs_var_info.split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        Refuse("CheckVarExistsInConfigFileByName", "no name was given");
        return false;
    }
    QStringList title;
    QStringList lower;
    for (const QString& word : words) {
        title << word.left(1).toUpper() + word.mid(1).toLower();
        lower << word.toLower();
    }
    const ActiveTable& table = session_->table;
    return table.FindVar(title.join(' ').trimmed().toStdString(), "var_name") ||
           table.FindVar(lower.join(' ').trimmed().toStdString(), "var_name");
}

QString DeviceBenchManager::getLidarSN() {
    return QString::fromStdString(session_->table.CurrentValueByName("SN"));
}

QString DeviceBenchManager::getLidarPN() {
    return QString::fromStdString(session_->table.CurrentValueByName("PN"));
}

bool DeviceBenchManager::isTimerUpdate(int i, int j, int k) {
    if (session_->link.kind.load() != Link::kKindTcp) return false;  // no pages shown
    if (!ElementExists(i, j, k, "isTimerUpdate")) return false;
    return session_->table.Element(i, j, k)->timer_update;
}

// ---- Page lists ----

QVariantList DeviceBenchManager::myMap() {
    return page_model_->MyMap();
}

QVariantList DeviceBenchManager::level1List() {
    return page_model_->Level1List();
}

QVariantList DeviceBenchManager::level2List() {
    return page_model_->Level2List();
}

QVariantList DeviceBenchManager::logRepeaterModel() {
    return page_model_->LogRepeaterModel();
}

QVariantList DeviceBenchManager::FovList() {
    return page_model_->FovList();
}

// ---- Properties ----

QString DeviceBenchManager::ip_address() const {
    return QString::fromStdString(settings_.ip_address);
}
QString DeviceBenchManager::udpPort() const {
    return QString::number(settings_.udp_port);
}
QString DeviceBenchManager::port() const {
    return QString::fromStdString(settings_.port);
}
QString DeviceBenchManager::serial_port_485() const {
    return QString::fromStdString(settings_.serial_port_485);
}
QString DeviceBenchManager::serial_port_232() const {
    return QString::fromStdString(settings_.serial_port_232);
}
QString DeviceBenchManager::baud_rate() const {
    return QString::number(settings_.baud_rate);
}
QString DeviceBenchManager::errorMessage() const {
    std::lock_guard<std::mutex> lock(text_mutex_);
    return QString::fromStdString(error_message_);
}
QString DeviceBenchManager::successMessage() const {
    std::lock_guard<std::mutex> lock(text_mutex_);
    return QString::fromStdString(success_message_);
}
int DeviceBenchManager::CommandLogCnt() const {
    return send_history_.size();
}
QVariantList DeviceBenchManager::SendCommandHistory() const {
    return send_history_;
}
QString DeviceBenchManager::getSendCmxCommandReturnHeader() const {
    return return_header_;
}
QString DeviceBenchManager::getSendCmxCommandReturnPayload() const {
    return return_payload_;
}
bool DeviceBenchManager::IsConnected() const {
    return session_->link.connected.load();
}
bool DeviceBenchManager::IsUpgrading() const {
    return session_->link.upgrading.load();
}
bool DeviceBenchManager::IsDownloadLog() const {
    return session_->link.downloading.load();
}
int DeviceBenchManager::upgradeProgress() const {
    return upgrade_->Progress();
}
int DeviceBenchManager::upgradeProgressTotalLen() const {
    return upgrade_->ProgressTotal();
}
int DeviceBenchManager::connectType() const {
    return session_->link.kind.load();
}
QVariantList DeviceBenchManager::MinkaLidarInfo() const {
    QVariantList rows;
    if (session_->link.kind.load() == Link::kKindSerialCmx) {
        const std::string ip = info_loop_->Snapshot().sender_ip;
        rows << QVariant(QVariantList{"Lidar IP", ip.empty() ? "xx.xx.xx.xx" : ip.c_str()});
    }
    for (const auto& row : session_->table.InfoRows()) {
        rows << QVariant(QVariantList{QString::fromStdString(row.first),
                                      QString::fromStdString(row.second)});
    }
    return rows;
}
QVariantList DeviceBenchManager::MinkaLidarVersionInfo() const {
    static const char* const kRuskoNames[] = {"BMB FPGA Version", "TMB FPGA Version",
                                              "BMB MCU Version"};
    const MinkaInfoSnapshot info = info_loop_->Snapshot();
    QVariantList rows;
    const QString pbl = QString::fromStdString(info.pbl_version);
    rows << QVariant(QVariantList{"PBL Version", pbl.isEmpty() ? "xxxxxxxx" : pbl});
    for (size_t i = 0; i < info.rusko_versions.size() && i < 3; ++i) {
        rows << QVariant(
            QVariantList{kRuskoNames[i], QString::fromStdString(info.rusko_versions[i])});
    }
    return rows;
}
int DeviceBenchManager::MinkaInfoDropCount() const {
    return static_cast<int>(info_loop_->Snapshot().malformed_packets);
}
bool DeviceBenchManager::isGetPBLVersion() const {
    return model_->QueryingPbl();
}

void DeviceBenchManager::setIpAddress(const QString& text) {
    settings_.ip_address = text.toStdString();
}
void DeviceBenchManager::setUdpPort(const QString& text) {
    bool number = false;
    const uint port = text.trimmed().toUInt(&number);
    if (!number || port == 0 || port > UINT16_MAX) {
        const std::string why = "invalid UDP port \"" + text.toStdString() +
                                "\": enter a number from 1 to 65535; the port stays " +
                                std::to_string(settings_.udp_port);
        Error(why);
        Log(why, "WARNING");
        return;
    }
    settings_.udp_port = static_cast<uint16_t>(port);
}
void DeviceBenchManager::setPort(const QString& text) {
    settings_.port = text.toStdString();
}
void DeviceBenchManager::setSerialPort485(const QString& text) {
    settings_.serial_port_485 = text.toStdString();
}
void DeviceBenchManager::setSerialPort232(const QString& text) {
    settings_.serial_port_232 = text.toStdString();
}
void DeviceBenchManager::setBaudRate(const QString& text) {
    settings_.baud_rate = text.toInt();
}
void DeviceBenchManager::setIsDownloadLog(bool value) {
    if (session_->link.downloading.exchange(value) != value) emit isDownloadLogChanged();
}
