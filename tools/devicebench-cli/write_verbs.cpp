// set and raw: writing values the way Save does, and the raw command console.
#include <QJsonArray>

#include <algorithm>

#include "DeviceBenchCore/parsers/make_str_parser.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tools/devicebench-cli/apply_report.h"
#include "tools/devicebench-cli/exit_code.h"
#include "tools/devicebench-cli/verbs.h"

namespace cli {
namespace {

constexpr size_t kAnyCount = 100000;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

//! The change `assignment` ("NAME=VALUE") asks for, its value checked for format.
SnapshotChange ChangeOf(SensorSession& sensor, const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw CliFailure(ExitCode::kUsage, "\"" + assignment + "\" is not NAME=VALUE");
    }
    const VarInfo* var = RequireVar(sensor, assignment.substr(0, equals));
    const std::string value = assignment.substr(equals + 1);
    if (!SnapshotOperation::Writable(*var)) {
        throw CliFailure(ExitCode::kUsage, var->var_name + " is read-only");
    }
    std::unique_ptr<StrParser> parser = MakeStrParser(var->var_type);
    if (!parser) {
        throw CliFailure(ExitCode::kUsage, var->var_name + " has the type \"" + var->var_type +
                                               "\", which cannot be written");
    }
    SnapshotChange change;
    change.var_id = var->var_id;
    change.name = var->var_name;
    change.file_text = value;
    change.writable = true;
    try {
        change.file_bytes = parser->Parse(value, var->set_coefficient);
    } catch (const std::exception& e) {
        throw CliFailure(ExitCode::kUsage, "\"" + value + "\" is not a value for " + var->var_name +
                                               " (" + var->var_type + "): " + e.what());
    }
    return change;
}

//! Names of `changes` whose value is none of their variable's options.
std::vector<std::string> OutsideOptions(SensorSession& sensor,
                                        const std::vector<SnapshotChange>& changes) {
    std::vector<std::string> names;
    for (const SnapshotChange& change : changes) {
        const VarInfo* var = sensor.Session().table.FindVar(change.var_id, "id");
        if (var == nullptr || var->options.empty()) continue;
        const bool listed =
            std::any_of(var->options.begin(), var->options.end(),
                        [&](int32_t option) { return std::to_string(option) == change.file_text; });
        if (!listed) names.push_back(change.name);
    }
    return names;
}

//! The readable variables of every page a change is on: the page range checks compare them all.
std::vector<VarInfo*> PagesOf(SensorSession& sensor, const std::vector<SnapshotChange>& changes) {
    std::vector<VarInfo*> vars;
    for (const SnapshotChange& change : changes) {
        const VarInfo* var = sensor.Session().table.FindVar(change.var_id, "id");
        for (const auto& position : var->positions) {
            for (VarInfo* member : sensor.Session().table.PageVars(position.first.first)) {
                if (SnapshotOperation::Snapshotted(*member) &&
                    std::find(vars.begin(), vars.end(), member) == vars.end()) {
                    vars.push_back(member);
                }
            }
        }
    }
    return vars;
}

//! "Max Range must lie in 1~300, Return Mode must be one of 0|1|2" for `names`.
std::string Limits(SensorSession& sensor, const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        const VarInfo* var = sensor.Session().table.FindVar(name, "var_name");
        if (var == nullptr) continue;
        text += (text.empty() ? "" : ", ") + name;
        if (!var->options.empty()) {
            std::string options;
            for (int32_t option : var->options)
                options += (options.empty() ? "" : "|") + std::to_string(option);
            text += " must be one of " + options;
        } else if (var->var_type == "IP" || var->var_type == "MAC") {
            text += " must be a valid " + var->var_type + " address";
        } else if (var->var_type == "string") {
            text += " must be at most " + std::to_string(var->offset) + " characters";
        } else {
            text += " must lie in " + std::to_string(var->range_min) + "~" +
                    std::to_string(var->range_max);
        }
    }
    return text;
}

}  // namespace

int Set(CliContext& context) {
    RequireArgs(context, 1, kAnyCount);
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, false);
    RequireNetworkModel(*sensor, "set");
    std::vector<SnapshotChange> changes;
    for (const std::string& assignment : context.options.args)
        changes.push_back(ChangeOf(*sensor, assignment));
    sensor->Connect(TargetOf(context.options));
    std::vector<std::string> unread;
    sensor->Snapshots().Read(PagesOf(*sensor, changes), unread);
    if (!unread.empty()) {
        throw CliFailure(ExitCode::kRefused, "nothing was written: the sensor gave no value for " +
                                                 unread.front() +
                                                 ", which the range check of its page needs");
    }
    std::vector<std::string> outside = sensor->Snapshots().Stage(changes);
    for (const std::string& name : OutsideOptions(*sensor, changes))
        outside.push_back(name);
    if (!outside.empty() && !context.options.force) {
        sensor->Snapshots().Discard();
        throw CliFailure(ExitCode::kUsage, "nothing was written: " + Limits(*sensor, outside) +
                                               " (add --force to write anyway)");
    }
    const ApplyReport report = sensor->Snapshots().Apply(changes);
    const ExitCode code = ExitCodeOf(report, !sensor->Session().link.ReadyForExchange());
    if (context.options.json) {
        PrintJson(context.out, ReportJson(report));
    } else {
        PrintReport(context.out, report);
    }
    return static_cast<int>(code);
}

int Raw(CliContext& context) {
    RequireArgs(context, 1, kAnyCount);
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, true);
    const std::vector<std::string>& args = context.options.args;
    std::string payload;
    for (size_t i = 1; i < args.size(); ++i)
        payload += (i > 1 ? " " : "") + args[i];
    ConsoleOperation& console = sensor->Console();
    const int errors = reporter->ErrorCount();
    const ConsoleOutcome outcome = console.Send(Q(args[0]), Q(payload));
    if (outcome == ConsoleOutcome::kRefused) {
        throw CliFailure(ExitCode::kConnection, "the link is not ready for a command");
    }
    if (outcome == ConsoleOutcome::kFailed) {
        const std::string why = reporter->LastError();
        const bool typed_wrong = why.find("Parsing failed") != std::string::npos;
        throw CliFailure(typed_wrong ? ExitCode::kUsage : ExitCode::kRefused, why);
    }
    const auto client = sensor->Session().link.Cmx();
    const int32_t code = client ? client->GetLastRetCode() : 0;
    if (context.options.json) {
        PrintJson(context.out, QJsonObject{{"header", console.ReturnHeader()},
                                           {"payload", console.ReturnPayload()},
                                           {"return_code", code}});
    } else {
        context.out << "header:  " << console.ReturnHeader().toStdString() << "\n"
                    << "payload: " << console.ReturnPayload().toStdString() << "\n";
    }
    if (reporter->ErrorCount() > errors) context.err << reporter->LastError() << "\n";
    return static_cast<int>(code > 0 ? ExitCode::kRefused : ExitCode::kDone);
}

}  // namespace cli
