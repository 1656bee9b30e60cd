#pragma once
// How a write (set, apply) is told: which set commands were written, which one failed and why,
// which were never sent, and the exit code that outcome deserves. Shared by set, apply and the
// parallel apply so that all three say it the same way.

#include <QJsonObject>

#include <ostream>

#include "DeviceBenchCore/snapshot/snapshot_operation.h"
#include "tools/devicebench-cli/exit_code.h"

namespace cli {

//! kDone when complete; kPartial when something was written before the stop; otherwise
//! kConnection when the link was lost, else kRefused.
ExitCode ExitCodeOf(const ApplyReport& report, bool link_lost);
//! "written [0x2d] Return Mode" lines, then the failure and the commands not sent.
void PrintReport(std::ostream& out, const ApplyReport& report);
QJsonObject ReportJson(const ApplyReport& report);

}  // namespace cli
