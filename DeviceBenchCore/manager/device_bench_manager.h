#pragma once
// DeviceBenchManager: the one object the QML pages talk to (context property
// "device_bench_manager"). A thin QObject front: properties, signals and invokables, and the one
// place where an operation's raised error becomes `errorMessage`, `successMessage` or a
// `sendLogMessage` line. The work itself is done by the operation classes beside this file
// (connection, variable reading and writing, range checks, page model, console, maintenance),
// which all take the one DeviceSession and this object as their Reporter, and are held alike.
//
// Library: devicebench_core (DeviceBenchCore/CMakeLists.txt); link it to use the manager.
// Invokables that take a page index, a level, a position or a name refuse values that name
// nothing with their failure value and one "WARNING" log line; none reaches the sensor.
// Threads: every invokable and property read runs on the thread that owns the manager (the UI
// thread). The connection thread and the refresh thread report back through queued calls, so
// signals always reach QML on the UI thread.

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceBenchCore/manager/connection_ops.h"
#include "DeviceBenchCore/manager/console_operation.h"
#include "DeviceBenchCore/manager/maintenance_operation.h"
#include "DeviceBenchCore/manager/model_operation.h"
#include "DeviceBenchCore/manager/reporter.h"
#include "DeviceBenchCore/manager/upgrade_operation.h"
#include "DeviceBenchCore/snapshot/snapshot_diff.h"

class DeviceSession;
class MinkaInfoLoop;
struct VarInfo;
class PageModel;
class RangeCheck;
class RefreshThread;
class SnapshotOperation;
class VariableReader;
class VariableWriter;

class DeviceBenchManager : public QObject, public Reporter {
    Q_OBJECT
    Q_PROPERTY(QVariantList myMap READ myMap NOTIFY myMapChanged)
    Q_PROPERTY(QString ip_address READ ip_address WRITE setIpAddress NOTIFY initInfoChanged)
    Q_PROPERTY(QString udpPort READ udpPort WRITE setUdpPort NOTIFY initInfoChanged)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY initInfoChanged)
    Q_PROPERTY(
        QString serial_port_485 READ serial_port_485 WRITE setSerialPort485 NOTIFY initInfoChanged)
    Q_PROPERTY(
        QString serial_port_232 READ serial_port_232 WRITE setSerialPort232 NOTIFY initInfoChanged)
    Q_PROPERTY(QString baud_rate READ baud_rate WRITE setBaudRate NOTIFY initInfoChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString successMessage READ successMessage NOTIFY successMessageChanged)
    Q_PROPERTY(QString SendCmxCommandReturnHeader READ getSendCmxCommandReturnHeader NOTIFY
                   sendCommandHistoryChanged)
    Q_PROPERTY(QString SendCmxCommandReturnPayload READ getSendCmxCommandReturnPayload NOTIFY
                   sendCommandHistoryChanged)
    Q_PROPERTY(int CommandLogCnt READ CommandLogCnt NOTIFY sendCommandHistoryChanged)
    Q_PROPERTY(
        QVariantList SendCommandHistory READ SendCommandHistory NOTIFY sendCommandHistoryChanged)
    Q_PROPERTY(bool IsConnected READ IsConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QVariantList FovList READ FovList NOTIFY fovConfigChanged)
    Q_PROPERTY(bool IsUpgrading READ IsUpgrading NOTIFY isUpgradingChanged)
    Q_PROPERTY(
        bool IsDownloadLog READ IsDownloadLog WRITE setIsDownloadLog NOTIFY isDownloadLogChanged)
    Q_PROPERTY(QVariantList LidarModelList READ LidarModelList NOTIFY lidarModelListChanged)
    // Read by the page at its own pace while IsUpgrading.
    Q_PROPERTY(int upgradeProgress READ upgradeProgress)
    Q_PROPERTY(int upgradeProgressTotalLen READ upgradeProgressTotalLen)
    Q_PROPERTY(int connectType READ connectType NOTIFY connectTypeChanged)
    Q_PROPERTY(QVariantList level1List READ level1List NOTIFY lidarModelChanged)
    Q_PROPERTY(QVariantList level2List READ level2List NOTIFY lidarModelChanged)
    Q_PROPERTY(QVariantList MinkaLidarInfo READ MinkaLidarInfo NOTIFY minkaLidarInfoChanged)
    Q_PROPERTY(
        QVariantList MinkaLidarVersionInfo READ MinkaLidarVersionInfo NOTIFY minkaLidarInfoChanged)
    Q_PROPERTY(bool isGetPBLVersion READ isGetPBLVersion NOTIFY isGetPBLVersionChanged)
    Q_PROPERTY(QVariantList logRepeaterModel READ logRepeaterModel NOTIFY lidarModelChanged)
    // Point packets of the information loop counted and dropped as malformed.
    Q_PROPERTY(int MinkaInfoDropCount READ MinkaInfoDropCount NOTIFY minkaLidarInfoChanged)

public:
    //! The process's manager, made on the first call with these arguments (thread-safe); later
    //! calls return the same object. The caller of the first call decides its lifetime: the
    //! application window deletes it; a manager deleted that way is never made again.
    static DeviceBenchManager* GetInstance(bool flag = true,
                                           const std::string& table_path = kDefaultTablePath);

    //! Reads the settings file and emits initInfoChanged. Public so that tests can make a
    //! manager of their own; the program uses GetInstance.
    DeviceBenchManager(bool flag, const std::string& table_path, QObject* parent = nullptr);
    //! Stops the connection (as Stop) and joins the connection and refresh threads.
    ~DeviceBenchManager() override;

    //! Fixes the model to `name` when a table of that name exists (start argument "-moduleLM=");
    //! an empty or unknown name changes nothing. UI thread.
    void SetModuleName(const std::string& name);

    // Property readers (UI thread).
    QVariantList myMap();
    QString ip_address() const;
    QString udpPort() const;
    QString port() const;
    QString serial_port_485() const;
    QString serial_port_232() const;
    QString baud_rate() const;
    QString errorMessage() const;
    QString successMessage() const;
    int CommandLogCnt() const;
    QVariantList SendCommandHistory() const;
    bool IsConnected() const;
    QVariantList FovList();
    bool IsUpgrading() const;
    bool IsDownloadLog() const;
    QVariantList LidarModelList() const;
    int upgradeProgress() const;
    int upgradeProgressTotalLen() const;
    int connectType() const;
    QVariantList level1List();
    QVariantList level2List();
    QVariantList MinkaLidarInfo() const;
    QVariantList MinkaLidarVersionInfo() const;
    bool isGetPBLVersion() const;
    QVariantList logRepeaterModel();
    //! [label, value] rows: the sensor's address (UDP route), then every information variable.
    //! MinkaLidarVersionInfo: the PBL version, and the Rusko firmware versions.
    //! MinkaInfoDropCount: malformed point packets since the link opened.
    int MinkaInfoDropCount() const;

    // Property setters: they store only and emit nothing (UI thread).
    void setIpAddress(const QString& text);
    //! Decimal text, 1..65535; anything else keeps the old port and says so in the error
    //! window and one "WARNING" log line.
    void setUdpPort(const QString& text);
    void setPort(const QString& text);
    void setSerialPort485(const QString& text);
    void setSerialPort232(const QString& text);
    //! Decimal text; a non-number stores 0.
    void setBaudRate(const QString& text);
    //! Emits isDownloadLogChanged only when the value changes.
    void setIsDownloadLog(bool value);

    //! Certificate, key and CA files for CMX over TLS. With all three set, the TCP models connect
    //! through TLS; empty texts (the default) mean plain TCP. UI thread.
    void SetTlsFiles(const std::string& cert_path, const std::string& key_path,
                     const std::string& ca_path);
    //! Path of the settings file ("RecvSettings.ini" under the documents location).
    static QString SettingsFilePath();

    //! Pauses and time-outs of the firmware upgrades (tests shorten them). UI thread.
    void SetUpgradeTimings(const UpgradeTimings& timings);

    //! Default table of the program and of GetInstance.
    static constexpr const char* kDefaultTablePath = "./Config/varID/Corvel.csv";

    // Reporter: operations call these from any thread; the texts and signals reach the UI thread.
    void Log(const std::string& text, const std::string& type) override;
    void Error(const std::string& text) override;
    void Success(const std::string& text) override;
    void Notify(ManagerEvent event, const std::string& subject = std::string()) override;

signals:
    void isConnectedChanged();
    void lidarModelChanged();
    void lidarClearModel();
    void lidarShowModel();
    void myMapChanged();
    void fovConfigChanged();
    void isUpgradingChanged();
    void sendCommandHistoryChanged();
    void errorMessageChanged();
    void successMessageChanged();
    void isDownloadLogChanged();
    void lidarModelListChanged();
    void isResetAllSettingsVisibleChanged();
    void sendLogMessage(const QString& msg, const QString& type);
    void downloadFinished();
    void downloadOperationLogFinished(bool result);
    void someVarOutOfRange(const QString& var_name);
    void connectTypeChanged();
    void minkaLidarInfoChanged();
    void isGetPBLVersionChanged();
    void initInfoChanged();
    void myTimerMapChanged();
    void pendingChangesChanged();

public:
    //! Selects the model `model_name` (table "./Config/varID/<name>.csv"), loading it once.
    Q_INVOKABLE void InitConfigFileParser(const QString& model_name = QString());
    //! Starts a connection attempt on the connection thread and writes the settings file. False
    //! while an attempt runs or for an unknown connection kind; the outcome arrives later.
    Q_INVOKABLE bool ConnectLidar();
    //! Probes the open CMX link with commands 0x07, then 0x08 (kept out of the byte flow).
    Q_INVOKABLE bool CheckLidarConnection();
    //! Writes the pending edits of page `module`; reports per command, closes the link on success.
    Q_INVOKABLE void Run(int module);
    //! Closes the connection; harmless when not connected.
    Q_INVOKABLE void Stop();
    //! Stores a UI edit of element [level1][level2][level3] (type 1 text, 2 switch, 3 option).
    Q_INVOKABLE void SetText(int type, int level1, int level2, int level3, const QString& text);
    Q_INVOKABLE void ClearSetMap();
    Q_INVOKABLE int getSetMapSize();
    //! What a Save of page `module` would change: maps with "name", "saved" (shown before the
    //! first edit) and "staged"; pendingChangesChanged says when to ask again.
    Q_INVOKABLE QVariantList PendingChanges(int module) const;
    //! Asks the sensor for its configuration file (0x74) on a worker thread; returns at once.
    Q_INVOKABLE void StartGetConfigFile();
    //! Raw command console: sends the typed command and payload, shows the reply, keeps the
    //! history; restart (0x10) and reset (0x25) end the connection.
    Q_INVOKABLE void SendCommand(const QString& cmd_qs, const QString& payload_qs);
    Q_INVOKABLE QString getSendCmxCommandReturnHeader() const;
    Q_INVOKABLE QString getSendCmxCommandReturnPayload() const;
    //! Maintenance: 0 on success (downloads: started), -1 on failure or refusal; downloads
    //! report their outcome later (downloadOperationLogFinished, downloadFinished).
    //! Upgrades: 0 when the worker started, -1 when refused; the outcome arrives later through
    //! successMessage / errorMessage and IsUpgrading. UpgradeLidar takes its command from the
    //! set command of element [level1][level2][position].
    Q_INVOKABLE int Restart();
    Q_INVOKABLE int Reset();
    Q_INVOKABLE int UpgradeLidar(const QUrl& fileUrl, int level1, int level2, int position);
    Q_INVOKABLE int MinkaUpgradeLidar(const QUrl& fileUrl);
    Q_INVOKABLE int RuskoUpgradeLidar(const QUrl& fileUrl);
    Q_INVOKABLE int DownloadOperationLog(const QUrl& fileUrl);
    Q_INVOKABLE int DownloadOperationLogThread(const QUrl& fileUrl);
    Q_INVOKABLE int DownloadLog(const QUrl& fileUrl, const QString& type);
    //! Reads every readable variable of page `module`, one exchange per get command.
    Q_INVOKABLE void GetLidarModuleInfo(int module);
    //! Finds a variable (by "var_name"/"name" or "id"/"var_id") and reads it now.
    Q_INVOKABLE bool UpdateSingleVarInfo(const QString& qs_var_info,
                                         const QString& search_type = QString("var_name"));
    //! Range of one variable, scaled by its set coefficient; true when it cannot be checked.
    Q_INVOKABLE bool CheckVarIsWithinRange(const QString& qs_var_info,
                                           const QString& search_type = QString("var_name"));
    //! Range, IP and MAC checks of every editable variable of page `module`.
    Q_INVOKABLE bool CheckModuleVarsWithinRange(int module);
    //! Stores field-of-view entry `index` (0-9, degrees 0..360) and marks "0x22" pending.
    Q_INVOKABLE void SetMultiFovConfig(int index, const QString& fov);
    //! Emits myMapChanged.
    Q_INVOKABLE void UpdateUI();
    //! Store the text; emit the change signal only for a non-empty text.
    Q_INVOKABLE void setErrorMsg(const QString& str);
    Q_INVOKABLE void setSuccessMsg(const QString& str);
    Q_INVOKABLE void SetLogBytesFlowStatus(bool flag);
    Q_INVOKABLE bool GetIsConnectingLidar();
    //! A variable exists under the title-case or the lower-case spelling of `qs_var_info`.
    Q_INVOKABLE bool CheckVarExistsInConfigFileByName(const QString& qs_var_info);
    Q_INVOKABLE QString getLidarSN();
    Q_INVOKABLE QString getLidarPN();
    //! The level1 page the refresh thread works on.
    Q_INVOKABLE void setModuleIndexUse(int index);
    //! Minka and Rusko operations (ModelOperation); MinkaSetUpgradeMode only stores the mode the
    //! Minka upgrade uses. MinkaGetCorrection writes the calibration data to `path` (0, or -1).
    Q_INVOKABLE void MinkaSetStandby(int standby);
    Q_INVOKABLE void MinkaSetSpinRate(int spin_rate);
    Q_INVOKABLE void MinkaSetReturnMode(int return_mode);
    Q_INVOKABLE int MinkaGetCorrection(const QString& path);
    Q_INVOKABLE QVariantList MinkaGetLidarFunctionSafety();
    Q_INVOKABLE QString MinkaGetBaudRate();
    Q_INVOKABLE void MinkaSetBaudRateFromUI(const QString& baudRateStr);
    Q_INVOKABLE QVariantList MinkaGetDestinationConfig(bool silent = false);
    Q_INVOKABLE bool MinkaSetDestinationIPandPort(const QString& ip, int port);
    Q_INVOKABLE void MinkaSetUpgradeMode(int mode);
    Q_INVOKABLE void RuskoSetIMURange(int angularRangeIndex, int accelRangeIndex);
    //! The module name fixed by SetModuleName (empty when none).
    Q_INVOKABLE QString getLMNowName();
    //! `timer_update` of element [i][j][k]; false for bad indices, no table or a serial model.
    Q_INVOKABLE bool isTimerUpdate(int i, int j, int k);
    //! Parameter snapshots (network models). ExportSnapshot writes every readable variable to
    //! the file: 0, or -1 with errorMessage. LoadSnapshotDiff reads the file and the sensor and
    //! returns what differs, one map per variable {name, device, file, writable, kept}; empty
    //! with errorMessage when the file cannot be used (unreadable, another model, not
    //! connected), or with successMessage when nothing differs. WriteSnapshot writes the
    //! writable differences of the last loaded file as Save does (the sensor's own address is
    //! kept): 0 done (the link then closes, as after a Save), -2 refused by the range check
    //! with nothing written (`force` writes anyway), -1 failed (errorMessage lists what was
    //! written, what failed and what was not sent).
    Q_INVOKABLE int ExportSnapshot(const QUrl& fileUrl);
    Q_INVOKABLE QVariantList LoadSnapshotDiff(const QUrl& fileUrl);
    Q_INVOKABLE int WriteSnapshot(bool force);

private:
    void ReadSettings();
    void WriteSettings();
    void RunConnectionAttempt(int kind, const ConnectSettings& settings);
    void OnConnected(int kind, uint16_t udp_port);
    bool ReadyForRefresh() const;
    bool CheckWritePreconditions();
    //! One log line saying why `invokable` did nothing with the values it was given.
    void Refuse(const char* invokable, const std::string& why);
    //! Page `module` exists in the current table; otherwise refuses for `invokable`.
    bool PageExists(int module, const char* invokable);
    //! Element [level1][level2][level3] exists; otherwise refuses for `invokable`.
    bool ElementExists(int level1, int level2, int level3, const char* invokable);
    //! The variable found by `text` (searchVarPtr); otherwise refuses for `invokable`.
    VarInfo* FindVar(const QString& text, const QString& search_type, const char* invokable);
    //! Runs `fn` on the manager's thread: at once when already there, else queued.
    void OnOwnerThread(std::function<void()> fn);

    std::shared_ptr<DeviceSession> session_;
    std::mutex connect_thread_mutex_;  // guards connect_thread_
    std::thread connect_thread_;       // joined before the next attempt and at destruction
    bool flag_;
    std::string module_name_;
    ConnectSettings settings_;  // UI thread; an attempt works on a copy
    QVariantList send_history_;
    QString return_header_;
    QString return_payload_;

    mutable std::mutex text_mutex_;  // guards the message texts set from worker threads
    // Kept as std::string: worker threads set them, and a QString handed out by the getters
    // would share its buffer with the one a worker is replacing (Qt's reference counts are not
    // visible to ThreadSanitizer); each getter makes a fresh QString under the lock.
    std::string error_message_;
    std::string success_message_;

    // The operations, each made with (*session_, *this). Last, so that they go first: their
    // worker threads report through the members above until joined.
    std::unique_ptr<ConnectionOps> connection_;
    std::unique_ptr<VariableReader> reader_;
    std::unique_ptr<VariableWriter> writer_;
    std::unique_ptr<RangeCheck> range_check_;
    std::unique_ptr<PageModel> page_model_;
    std::unique_ptr<ConsoleOperation> console_;
    std::unique_ptr<MaintenanceOperation> maintenance_;
    std::unique_ptr<ModelOperation> model_;
    std::unique_ptr<SnapshotOperation> snapshots_;
    std::vector<SnapshotChange> snapshot_writes_;  // of the last LoadSnapshotDiff (UI thread)
    std::unique_ptr<UpgradeOperation> upgrade_;  // borrows maintenance_ (restart after a stream)
    std::unique_ptr<RefreshThread> refresh_;
    std::unique_ptr<MinkaInfoLoop> info_loop_;  // borrows model_
};
