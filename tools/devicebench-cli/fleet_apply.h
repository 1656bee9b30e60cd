#pragma once
// The parallel apply: one snapshot to many sensors of a test rig, one connection per sensor,
// at most --jobs at a time. Each sensor gets its own session on its own thread; the results are
// printed at the end, one line per sensor in the order given, so that no sensor is left half
// written without a line that says what it got.

#include "DeviceBenchCore/snapshot/parameter_snapshot.h"
#include "tools/devicebench-cli/cli_context.h"

namespace cli {

//! Applies `file` to every sensor of --sensors ("HOST[:PORT]", the port of `base` when left
//! out). The exit code is the worst of the sensors': 4 when any is partial, then 2 for an
//! unreachable one, then 3, then 1.
int FleetApply(CliContext& context, const ParameterSnapshot& file, const SensorTarget& base);

}  // namespace cli
