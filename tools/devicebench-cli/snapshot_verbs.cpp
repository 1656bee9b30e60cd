// snapshot, diff and apply: a sensor's parameters to a file, compared with it, written back.
#include <QJsonArray>

#include "tools/devicebench-cli/apply_report.h"
#include "tools/devicebench-cli/fleet_apply.h"
#include "tools/devicebench-cli/snapshot_apply.h"
#include "tools/devicebench-cli/verbs.h"

namespace cli {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonArray ChangesJson(const std::vector<SnapshotChange>& changes) {
    QJsonArray list;
    for (const SnapshotChange& change : changes) {
        QJsonObject object{{"name", Q(change.name)},
                           {"id", Q(change.var_id)},
                           {"file", Q(change.file_text)},
                           {"device", Q(change.device_text)},
                           {"file_bytes", Q(SnapshotHex(change.file_bytes))},
                           {"device_bytes", Q(SnapshotHex(change.device_bytes))},
                           {"writable", change.writable}};
        if (!change.in_file) object["file"] = QJsonValue::Null;
        if (!change.on_device) object["device"] = QJsonValue::Null;
        list.append(object);
    }
    return list;
}

QJsonArray Names(const std::vector<std::string>& names) {
    QJsonArray list;
    for (const std::string& name : names)
        list.append(Q(name));
    return list;
}

void PrintChanges(std::ostream& out, const std::vector<SnapshotChange>& changes) {
    if (changes.empty()) out << "no differences\n";
    for (const SnapshotChange& change : changes)
        out << "  " << SnapshotDiff::Describe(change) << "\n";
}

}  // namespace

int Snapshot(CliContext& context) {
    RequireArgs(context, 0, 0);
    if (context.options.out.empty()) {
        throw CliFailure(ExitCode::kUsage, "snapshot needs --out FILE.json");
    }
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, false);
    RequireNetworkModel(*sensor, "snapshot");
    sensor->Connect(TargetOf(context.options));
    std::vector<std::string> unread;
    const ParameterSnapshot snapshot = sensor->Snapshots().Take(unread);
    if (!unread.empty() && !context.options.force) {
        std::string names;
        for (const std::string& name : unread)
            names += (names.empty() ? "" : ", ") + name;
        throw CliFailure(ExitCode::kRefused, "the sensor gave no value for " + names +
                                                 "; no snapshot was written (--force writes "
                                                 "the values that were read)");
    }
    std::string error;
    if (!snapshot.Save(context.options.out, error)) throw CliFailure(ExitCode::kUsage, error);
    if (context.options.json) {
        PrintJson(context.out, QJsonObject{{"file", Q(context.options.out)},
                                           {"model", Q(snapshot.model)},
                                           {"pn", Q(snapshot.pn)},
                                           {"sn", Q(snapshot.sn)},
                                           {"taken_at", Q(snapshot.taken_at)},
                                           {"variables", static_cast<int>(snapshot.entries.size())},
                                           {"unread", Names(unread)}});
    } else {
        context.out << "snapshot of the " << snapshot.model << " SN " << snapshot.sn << " ("
                    << snapshot.entries.size() << " variables) written to " << context.options.out
                    << "\n";
    }
    return static_cast<int>(unread.empty() ? ExitCode::kDone : ExitCode::kRefused);
}

int Diff(CliContext& context) {
    RequireArgs(context, 1, 1);
    const ParameterSnapshot file = LoadSnapshotArg(context);
    const SensorTarget target = TargetForSnapshot(context, file);
    auto reporter = MakeReporter(context);
    SensorSession sensor(*reporter);
    sensor.SelectModel(target);
    RequireNetworkModel(sensor, "diff");
    sensor.Connect(target);
    std::vector<std::string> unread;
    const ParameterSnapshot now = sensor.Snapshots().Take(unread);
    const std::vector<SnapshotChange> changes = sensor.Snapshots().Compare(file, now);
    if (context.options.json) {
        PrintJson(context.out, QJsonObject{{"file", Q(context.options.args[0])},
                                           {"model", Q(file.model)},
                                           {"file_sn", Q(file.sn)},
                                           {"sensor_sn", Q(now.sn)},
                                           {"differences", ChangesJson(changes)},
                                           {"unread", Names(unread)}});
    } else {
        context.out << "sensor " << target.Describe() << " (SN " << now.sn << ") -> file "
                    << context.options.args[0] << " (SN " << file.sn << ", " << file.taken_at
                    << "):\n";
        PrintChanges(context.out, changes);
    }
    // Values the sensor did not give are listed as differences; the comparison is incomplete.
    return static_cast<int>(unread.empty() ? ExitCode::kDone : ExitCode::kRefused);
}

int Apply(CliContext& context) {
    RequireArgs(context, 1, 1);
    const ParameterSnapshot file = LoadSnapshotArg(context);
    const SensorTarget target = TargetForSnapshot(context, file);
    if (!context.options.sensors.empty()) return FleetApply(context, file, target);
    auto reporter = MakeReporter(context);
    const SensorApply result = ApplySnapshot(file, target, context.options, *reporter);
    if (context.options.json) {
        QJsonObject object = ReportJson(result.report);
        object["outcome"] = Q(result.outcome);
        object["message"] = Q(result.message);
        object["differences"] = ChangesJson(result.changes);
        object["kept"] = Names(result.kept);
        PrintJson(context.out, object);
        return static_cast<int>(result.code);
    }
    if (result.outcome == "unreachable" && result.changes.empty()) {
        throw CliFailure(result.code, result.message);
    }
    PrintChanges(context.out, result.changes);
    for (const std::string& name : result.kept)
        context.out << "kept " << name << " (the sensor's address; --with-address writes it)\n";
    PrintReport(context.out, result.report);
    context.out << result.outcome << (result.outcome == "would change" ? " (dry run)" : "") << "\n";
    if (!result.message.empty() && result.report.reason.empty())
        context.err << "devicebench-cli: " << result.message << "\n";
    return static_cast<int>(result.code);
}

}  // namespace cli
