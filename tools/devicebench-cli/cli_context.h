#pragma once
// CliContext: what every verb of devicebench-cli works with: the parsed options, the two output
// streams and whether standard output is a terminal (progress bars) or a file or pipe (plain
// progress lines). Helpers shared by the verbs come with it.

#include <QJsonObject>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tools/devicebench-cli/cli_options.h"
#include "tools/devicebench-cli/cli_reporter.h"
#include "tools/devicebench-cli/sensor_session.h"

struct VarInfo;

struct CliContext {
    const CliOptions& options;
    std::ostream& out;
    std::ostream& err;
    bool terminal = false;
};

namespace cli {

//! The sensor the options name: given options first, then the settings file, then the window's
//! defaults. Tables come from --tables, else from beside the program, else ./Config/varID.
SensorTarget TargetOf(const CliOptions& options);
//! A reporter that echoes log lines to the error stream in verbose mode.
std::unique_ptr<CliReporter> MakeReporter(const CliContext& context);
//! A session on the target's table, connected when `connect`.
std::unique_ptr<SensorSession> OpenSensor(const CliContext& context, CliReporter& reporter,
                                          bool connect);
//! Throws CliFailure(kUsage) unless the verb got `min`..`max` arguments.
void RequireArgs(const CliContext& context, size_t min, size_t max);
//! The variable named `name` (exact, then ignoring case); throws CliFailure(kUsage) naming the
//! model and, when one exists, the variable meant.
VarInfo* RequireVar(SensorSession& sensor, const std::string& name);
//! Page index of `text` (its number or its name, ignoring case), or -1.
int FindPage(SensorSession& sensor, const std::string& text);
//! Writes `object` as indented JSON followed by a new line.
void PrintJson(std::ostream& out, const QJsonObject& object);
//! Throws CliFailure(kUsage) for the Minka/Rusko operations on a network model.
void RequireSerialModel(SensorSession& sensor, const char* verb);
//! Throws CliFailure(kUsage) for the table verbs on a serial model, whose values the window
//! reads with the model's own operations, not through the table pages.
void RequireNetworkModel(SensorSession& sensor, const std::string& verb);

}  // namespace cli
