#pragma once
// Applying a snapshot file to one sensor, the part shared by `apply` and the parallel apply:
// read the sensor, compare, keep the network address unless asked, check ranges as Save does,
// write what differs and say what happened. Each call opens and closes its own session, so
// calls for different sensors may run on different threads at once.

#include <string>
#include <vector>

#include "DeviceBenchCore/snapshot/snapshot_operation.h"
#include "tools/devicebench-cli/cli_context.h"
#include "tools/devicebench-cli/exit_code.h"

namespace cli {

//! What applying did to one sensor.
struct SensorApply {
    ExitCode code = ExitCode::kDone;
    //! "applied", "unchanged", "would change" (dry run), "partial", "refused", "out of range"
    //! or "unreachable".
    std::string outcome;
    std::string message;                  // why, for the failures
    std::vector<SnapshotChange> changes;  // every difference found
    std::vector<std::string> kept;        // address variables left as they are
    ApplyReport report;
};

//! The snapshot file named by the verb's first argument; throws CliFailure(kUsage) saying why
//! a file cannot be used.
ParameterSnapshot LoadSnapshotArg(const CliContext& context);
//! The sensor to compare with: the options' target. A file of another model than the one the
//! sensor is taken for (--model) is refused (kUsage) unless --force.
SensorTarget TargetForSnapshot(const CliContext& context, const ParameterSnapshot& file);
//! Applies `file` to `target` as the options say (--dry-run, --force, --with-address). Never
//! throws; `reporter` collects the operations' lines.
SensorApply ApplySnapshot(const ParameterSnapshot& file, const SensorTarget& target,
                          const CliOptions& options, CliReporter& reporter);

}  // namespace cli
