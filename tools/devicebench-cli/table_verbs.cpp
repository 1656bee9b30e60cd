// pages and get: the variable table and the values the sensor holds.
#include <QJsonArray>

#include <algorithm>

#include "DeviceBenchCore/table/config_parser.h"
#include "tools/devicebench-cli/exit_code.h"
#include "tools/devicebench-cli/verbs.h"

namespace cli {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Access(const VarInfo& var) {
    if (SnapshotOperation::Writable(var)) return var.get_cmd.empty() ? "w" : "rw";
    return var.get_cmd.empty() ? "-" : "r";
}

QJsonObject VarObject(const VarInfo& var) {
    QJsonObject object;
    object["name"] = Q(var.var_name);
    object["id"] = Q(var.var_id);
    object["type"] = Q(var.var_type);
    object["access"] = Q(Access(var));
    object["unit"] = Q(var.unit);
    if (var.range_min != 0 || var.range_max != 0) {
        object["range_min"] = var.range_min;
        object["range_max"] = var.range_max;
    }
    QJsonArray options;
    for (int32_t option : var.options)
        options.append(option);
    if (!options.isEmpty()) object["options"] = options;
    return object;
}

std::string VarLine(const VarInfo& var) {
    std::string line = "    " + var.var_name + var.unit + " [" + var.var_type + ", " + Access(var);
    if (var.range_min != 0 || var.range_max != 0)
        line += ", " + std::to_string(var.range_min) + "~" + std::to_string(var.range_max);
    return line + "]";
}

//! The variables `args` name (pages expand to their readable variables), in table order of
//! each argument; all readable ones when there are no arguments.
std::vector<VarInfo*> Wanted(SensorSession& sensor, const std::vector<std::string>& args) {
    std::vector<VarInfo*> vars;
    const auto add = [&vars](VarInfo* var) {
        if (std::find(vars.begin(), vars.end(), var) == vars.end()) vars.push_back(var);
    };
    if (args.empty()) {
        sensor.Session().table.ReadPages([&](const ConfigParser* table) {
            for (VarInfo* var : table->all_vars())
                if (SnapshotOperation::Snapshotted(*var)) add(var);
        });
        return vars;
    }
    for (const std::string& arg : args) {
        const int page = FindPage(sensor, arg);
        if (page >= 0) {
            for (VarInfo* var : sensor.Session().table.PageVars(page))
                if (SnapshotOperation::Snapshotted(*var)) add(var);
            continue;
        }
        VarInfo* var = RequireVar(sensor, arg);
        if (!SnapshotOperation::Snapshotted(*var)) {
            throw CliFailure(ExitCode::kUsage,
                             var->var_name + " cannot be read as a value" +
                                 (var->get_cmd.empty() ? " (it has no get command)"
                                                       : " (it is a log: use the log verb)"));
        }
        add(var);
    }
    return vars;
}

}  // namespace

int Pages(CliContext& context) {
    RequireArgs(context, 0, 0);
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, false);
    QJsonArray pages;
    sensor->Session().table.ReadPages([&](const ConfigParser* table) {
        const auto& names = table->page_names();
        for (size_t i = 0; i < table->pages().size(); ++i) {
            const std::string page = i < names.size() && !names[i].empty() ? names[i][0] : "";
            if (!context.options.json) context.out << i << " " << page << "\n";
            QJsonArray sections;
            for (size_t j = 0; j < table->pages()[i].size(); ++j) {
                const std::string section = j + 1 < names[i].size() ? names[i][j + 1] : "";
                if (!context.options.json) context.out << "  " << section << "\n";
                QJsonArray vars;
                for (const VarInfo* var : table->pages()[i][j]) {
                    if (!context.options.json) context.out << VarLine(*var) << "\n";
                    vars.append(VarObject(*var));
                }
                sections.append(QJsonObject{{"name", Q(section)}, {"variables", vars}});
            }
            pages.append(QJsonObject{
                {"index", static_cast<int>(i)}, {"name", Q(page)}, {"sections", sections}});
        }
    });
    if (context.options.json) {
        PrintJson(context.out,
                  QJsonObject{{"model", Q(sensor->Session().table.Model())}, {"pages", pages}});
    }
    return static_cast<int>(ExitCode::kDone);
}

int Get(CliContext& context) {
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, false);
    RequireNetworkModel(*sensor, "get");
    const std::vector<VarInfo*> vars = Wanted(*sensor, context.options.args);
    sensor->Connect(TargetOf(context.options));
    std::vector<std::string> unread;
    const RawBytesMap bytes = sensor->Snapshots().Read(vars, unread);
    QJsonArray values;
    for (const VarInfo* var : vars) {
        const auto found = bytes.find(var);
        if (found == bytes.end()) continue;
        const std::string text = sensor->Session().table.CurrentValue(*var);
        if (!context.options.json)
            context.out << var->var_name << " = " << text << var->unit << "\n";
        values.append(QJsonObject{{"name", Q(var->var_name)},
                                  {"id", Q(var->var_id)},
                                  {"text", Q(text)},
                                  {"unit", Q(var->unit)},
                                  {"bytes", Q(SnapshotHex(found->second))}});
    }
    QJsonArray missing;
    for (const std::string& name : unread)
        missing.append(Q(name));
    if (context.options.json) {
        PrintJson(context.out, QJsonObject{{"model", Q(sensor->Session().table.Model())},
                                           {"values", values},
                                           {"unread", missing}});
    }
    if (unread.empty()) return static_cast<int>(ExitCode::kDone);
    std::string names;
    for (const std::string& name : unread)
        names += (names.empty() ? "" : ", ") + name;
    const bool link_lost = !sensor->Session().link.ReadyForExchange();
    context.err << "devicebench-cli: the sensor gave no value for " << names
                << (link_lost ? " (the link was lost)" : "") << "\n";
    return static_cast<int>(link_lost ? ExitCode::kConnection : ExitCode::kRefused);
}

}  // namespace cli
