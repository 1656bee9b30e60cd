#pragma once
// SensorSession: one sensor as devicebench-cli drives it: the model's variable table, the link
// and the same DeviceBenchCore operations the window uses, all on one DeviceSession and one
// CliReporter. Opening throws CliFailure with the exit code the failure deserves; the link is
// closed by Close or the destructor. One thread at a time (the parallel apply gives each
// sensor its own session).

#include <memory>
#include <string>

#include "DeviceBenchCore/manager/connection_ops.h"
#include "DeviceBenchCore/manager/console_operation.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/maintenance_operation.h"
#include "DeviceBenchCore/manager/model_operation.h"
#include "DeviceBenchCore/manager/range_check.h"
#include "DeviceBenchCore/manager/upgrade_operation.h"
#include "DeviceBenchCore/manager/variable_reader.h"
#include "DeviceBenchCore/manager/variable_writer.h"
#include "DeviceBenchCore/snapshot/snapshot_operation.h"
#include "tools/devicebench-cli/cli_reporter.h"

//! Which sensor and how to reach it.
struct SensorTarget {
    std::string model;
    std::string tables_dir;
    ConnectSettings settings;
    //! "HOST:PORT" for the network kinds, the two serial ports for Minka.
    std::string Describe() const;
};

class SensorSession {
public:
    //! `reporter` is borrowed and must outlive the session.
    explicit SensorSession(CliReporter& reporter);
    //! Closes the link; joins the operations' workers.
    ~SensorSession();
    SensorSession(const SensorSession&) = delete;
    SensorSession& operator=(const SensorSession&) = delete;

    //! Loads the table of `target.model`. Throws CliFailure(kUsage) for a model without a table
    //! or a table that does not load whole.
    void SelectModel(const SensorTarget& target);
    //! SelectModel, then opens the link of the model's kind. Throws CliFailure(kConnection)
    //! naming the sensor and why.
    void Connect(const SensorTarget& target);
    //! Connect again after the sensor dropped the link (restart), trying until `wait_ms` passed.
    bool Reconnect(const SensorTarget& target, int wait_ms);
    //! Ends the link; harmless when not connected.
    void Close();

    DeviceSession& Session() { return *session_; }
    CliReporter& Reporter() { return reporter_; }
    int Kind() const { return session_->link.kind.load(); }
    VariableReader& Reader() { return *reader_; }
    SnapshotOperation& Snapshots() { return *snapshots_; }
    ConsoleOperation& Console() { return *console_; }
    MaintenanceOperation& Maintenance() { return *maintenance_; }
    UpgradeOperation& Upgrade() { return *upgrade_; }
    ModelOperation& Model() { return *model_; }

private:
    void OpenLink(const SensorTarget& target);

    CliReporter& reporter_;
    std::unique_ptr<DeviceSession> session_;
    // Operations last, so they go first; the upgrade borrows the maintenance operation.
    std::unique_ptr<ConnectionOps> connection_;
    std::unique_ptr<VariableReader> reader_;
    std::unique_ptr<SnapshotOperation> snapshots_;
    std::unique_ptr<ConsoleOperation> console_;
    std::unique_ptr<MaintenanceOperation> maintenance_;
    std::unique_ptr<ModelOperation> model_;
    std::unique_ptr<UpgradeOperation> upgrade_;
};
