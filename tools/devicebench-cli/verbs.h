#pragma once
// The verbs of devicebench-cli. Each returns the exit code (as int) or throws CliFailure; the
// dispatcher (devicebench_cli.cpp) prints the failure's text. Grouped by file:
// table_verbs.cpp (pages, get), write_verbs.cpp (set, raw), snapshot_verbs.cpp (snapshot, diff,
// apply), maintenance_verbs.cpp (restart, reset, log, operation-log, upgrade), model_verbs.cpp
// (the Minka and Rusko operations, the calibration download included).

#include "tools/devicebench-cli/cli_context.h"

namespace cli {

int Pages(CliContext& context);
int Get(CliContext& context);
int Set(CliContext& context);
int Raw(CliContext& context);
int Snapshot(CliContext& context);
int Diff(CliContext& context);
int Apply(CliContext& context);
int Restart(CliContext& context);
int Reset(CliContext& context);
int Log(CliContext& context);
int OperationLog(CliContext& context);
int Upgrade(CliContext& context);
int Standby(CliContext& context);
int SpinRate(CliContext& context);
int ReturnMode(CliContext& context);
int FunctionSafety(CliContext& context);
int BaudRate(CliContext& context);
int Destination(CliContext& context);
int ImuRange(CliContext& context);
int Versions(CliContext& context);
int SerialNumber(CliContext& context);
int Calibration(CliContext& context);

}  // namespace cli
