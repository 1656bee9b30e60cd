#include "tools/devicebench-cli/snapshot_apply.h"

#include "tools/devicebench-cli/apply_report.h"

namespace cli {
namespace {

void Write(SensorSession& sensor, const std::vector<SnapshotChange>& writes,
           const CliOptions& options, SensorApply& result) {
    const std::vector<std::string> outside = sensor.Snapshots().Stage(writes);
    if (!outside.empty() && !options.force) {
        sensor.Snapshots().Discard();
        result.code = ExitCode::kUsage;
        result.outcome = "out of range";
        for (const std::string& name : outside)
            result.message += (result.message.empty() ? "" : ", ") + name;
        result.message = "nothing was written: the Save's range check refuses " + result.message +
                         " (add --force to write anyway)";
        return;
    }
    result.report = sensor.Snapshots().Apply(writes);
    result.code = ExitCodeOf(result.report, !sensor.Session().link.ReadyForExchange());
    result.outcome = result.code == ExitCode::kDone         ? "applied"
                     : result.code == ExitCode::kPartial    ? "partial"
                     : result.code == ExitCode::kConnection ? "unreachable"
                                                            : "refused";
    result.message = result.report.reason;
}

}  // namespace

ParameterSnapshot LoadSnapshotArg(const CliContext& context) {
    ParameterSnapshot file;
    std::string error;
    if (!ParameterSnapshot::Load(context.options.args.at(0), file, error)) {
        throw CliFailure(ExitCode::kUsage, error + "; nothing was sent to a sensor");
    }
    return file;
}

SensorTarget TargetForSnapshot(const CliContext& context, const ParameterSnapshot& file) {
    SensorTarget target = TargetOf(context.options);
    if (target.model != file.model && !context.options.force) {
        throw CliFailure(ExitCode::kUsage,
                         context.options.args.at(0) + " is a snapshot of a " + file.model +
                             ", not of a " + target.model +
                             " (--model); nothing was sent (add --force to use it anyway)");
    }
    return target;
}

SensorApply ApplySnapshot(const ParameterSnapshot& file, const SensorTarget& target,
                          const CliOptions& options, CliReporter& reporter) {
    SensorApply result;
    try {
        SensorSession sensor(reporter);
        sensor.SelectModel(target);
        RequireNetworkModel(sensor, "apply");
        sensor.Connect(target);
        std::vector<std::string> unread;
        const ParameterSnapshot now = sensor.Snapshots().Take(unread);
        result.changes = sensor.Snapshots().Compare(file, now);
        const std::vector<SnapshotChange> writes =
            sensor.Snapshots().Writes(result.changes, options.with_address, result.kept);
        if (writes.empty()) {
            result.outcome = "unchanged";
        } else if (options.dry_run) {
            result.outcome = "would change";
        } else {
            Write(sensor, writes, options, result);
        }
    } catch (const CliFailure& e) {
        result.code = e.code;
        result.outcome = e.code == ExitCode::kConnection ? "unreachable" : "refused";
        result.message = e.what();
    }
    return result;
}

}  // namespace cli
