#include "tools/devicebench-cli/fleet_apply.h"

#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tools/devicebench-cli/apply_report.h"
#include "tools/devicebench-cli/snapshot_apply.h"

namespace cli {
namespace {

SensorTarget TargetAt(const SensorTarget& base, const std::string& sensor) {
    SensorTarget target = base;
    const size_t colon = sensor.rfind(':');
    target.settings.ip_address = sensor.substr(0, colon);
    if (colon != std::string::npos) target.settings.port = sensor.substr(colon + 1);
    return target;
}

//! Severity of an exit code among the sensors' results.
int Rank(ExitCode code) {
    switch (code) {
        case ExitCode::kPartial:
            return 4;
        case ExitCode::kConnection:
            return 3;
        case ExitCode::kRefused:
            return 2;
        case ExitCode::kUsage:
            return 1;
        case ExitCode::kDone:
            break;
    }
    return 0;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : "; ") + item;
    return text;
}

std::string Line(const SensorApply& result) {
    std::string line = result.outcome;
    const ApplyReport& report = result.report;
    if (result.outcome == "applied") return line + ": " + Joined(report.written);
    if (result.outcome == "would change") {
        std::vector<std::string> names;
        for (const SnapshotChange& change : SnapshotDiff::Writable(result.changes))
            names.push_back(change.name);
        return line + ": " + Joined(names);
    }
    if (!report.written.empty()) line += ": written " + Joined(report.written);
    if (!report.failed.empty()) line += "; FAILED " + report.failed;
    if (!result.message.empty()) line += (line == result.outcome ? ": " : "; ") + result.message;
    if (!report.not_sent.empty()) line += "; not sent " + Joined(report.not_sent);
    return line;
}

}  // namespace

int FleetApply(CliContext& context, const ParameterSnapshot& file, const SensorTarget& base) {
    const std::vector<std::string>& sensors = context.options.sensors;
    std::vector<SensorApply> results(sensors.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < sensors.size(); i = next++) {
            CliReporter reporter;
            results[i] = ApplySnapshot(file, TargetAt(base, sensors[i]), context.options, reporter);
        }
    };
    std::vector<std::thread> workers;
    const size_t jobs = std::min(sensors.size(), static_cast<size_t>(context.options.jobs));
    for (size_t j = 0; j < jobs; ++j)
        workers.emplace_back(work);
    for (std::thread& worker : workers)
        worker.join();

    ExitCode worst = ExitCode::kDone;
    QJsonArray list;
    for (size_t i = 0; i < sensors.size(); ++i) {
        if (Rank(results[i].code) > Rank(worst)) worst = results[i].code;
        if (!context.options.json) {
            context.out << sensors[i] << "  " << Line(results[i]) << "\n";
            continue;
        }
        QJsonObject object = ReportJson(results[i].report);
        object["sensor"] = QString::fromStdString(sensors[i]);
        object["outcome"] = QString::fromStdString(results[i].outcome);
        object["message"] = QString::fromStdString(results[i].message);
        list.append(object);
    }
    if (context.options.json) PrintJson(context.out, QJsonObject{{"sensors", list}});
    return static_cast<int>(worst);
}

}  // namespace cli
