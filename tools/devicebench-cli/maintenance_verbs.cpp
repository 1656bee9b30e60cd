// restart, reset, log, operation-log and upgrade: the maintenance page, headless.
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "DeviceBenchCore/table/config_parser.h"
#include "tools/devicebench-cli/exit_code.h"
#include "tools/devicebench-cli/verbs.h"

namespace cli {
namespace {

constexpr int32_t kUpgradeElementType = 4;  // the page element that takes a firmware file
constexpr int kProgressPollMs = 100;
constexpr int kProgressBarWidth = 40;
constexpr int kPlainProgressStepPercent = 10;
constexpr auto kUpgradeBound = std::chrono::hours(2);

[[noreturn]] void Refused(CliReporter& reporter, const std::string& fallback) {
    const std::string why = reporter.LastError().empty() ? fallback : reporter.LastError();
    throw CliFailure(ExitCode::kRefused, why);
}

//! Restart and reset end the link; with --wait the verb waits for the sensor to answer again.
int AfterLinkEnd(CliContext& context, SensorSession& sensor, const char* what) {
    context.out << what << " accepted; the sensor dropped the link\n";
    if (context.options.wait_s == 0) return static_cast<int>(ExitCode::kDone);
    const auto start = std::chrono::steady_clock::now();
    if (!sensor.Reconnect(TargetOf(context.options), context.options.wait_s * 1000)) {
        throw CliFailure(ExitCode::kConnection, "the sensor did not answer again within " +
                                                    std::to_string(context.options.wait_s) + " s");
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[64];
    std::snprintf(line, sizeof(line), "the sensor answers again after %.1f s\n", seconds);
    context.out << line;
    return static_cast<int>(ExitCode::kDone);
}

std::string UpgradeCommand(SensorSession& sensor) {
    std::string command;
    sensor.Session().table.ReadPages([&command](const ConfigParser* table) {
        for (const VarInfo* var : table->all_vars()) {
            if (var->type == kUpgradeElementType && !var->set_cmd.empty() && command.empty())
                command = var->set_cmd;
        }
    });
    if (command.empty()) {
        throw CliFailure(ExitCode::kUsage, "the " + sensor.Session().table.Model() +
                                               " table has no firmware upgrade row");
    }
    return command;
}

void ShowProgress(CliContext& context, int done, int total, int& last_shown) {
    if (total <= 0) return;
    // The total is the image size in whole frames; the last, partial frame is counted on top.
    done = std::min(done, total);
    const int percent = static_cast<int>(100LL * done / total);
    if (context.terminal) {
        if (done == last_shown) return;
        const int filled = kProgressBarWidth * percent / 100;
        context.out << "\r[" << std::string(static_cast<size_t>(filled), '#')
                    << std::string(static_cast<size_t>(kProgressBarWidth - filled), ' ') << "] "
                    << percent << "% " << done << "/" << total << std::flush;
        last_shown = done;
        return;
    }
    const int step = percent / kPlainProgressStepPercent * kPlainProgressStepPercent;
    if (step <= last_shown && !(done == total && last_shown < 100)) return;
    context.out << "upgrade " << step << "% (" << done << "/" << total << " frames)\n"
                << std::flush;
    last_shown = step;
}

int StartUpgrade(SensorSession& sensor, const CliOptions& options, const std::string& path) {
    switch (sensor.Kind()) {
        case Link::kKindTcp:
            return sensor.Upgrade().StartNetwork(path, UpgradeCommand(sensor));
        default:
            if (sensor.Session().table.Model() == "Rusko-CMX")
                return sensor.Upgrade().StartRusko(path);
            sensor.Session().link.upgrade_mode = options.upgrade_mode.value_or(0);
            return sensor.Upgrade().StartMinka(path);
    }
}

}  // namespace

int Restart(CliContext& context) {
    RequireArgs(context, 0, 0);
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, true);
    if (sensor->Maintenance().Restart() != 0) Refused(*reporter, "the restart was refused");
    return AfterLinkEnd(context, *sensor, "restart");
}

int Reset(CliContext& context) {
    RequireArgs(context, 0, 0);
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, true);
    const int result = sensor->Maintenance().Reset();
    if (result != 0) {
        Refused(*reporter, "the reset was refused (result " + std::to_string(result) + ")");
    }
    return AfterLinkEnd(context, *sensor, "reset");
}

int Log(CliContext& context) {
    RequireArgs(context, 1, 1);
    if (context.options.out.empty()) throw CliFailure(ExitCode::kUsage, "log needs --out DIR");
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, false);
    const std::string name = RequireVar(*sensor, context.options.args[0])->var_name;
    sensor->Connect(TargetOf(context.options));
    if (sensor->Maintenance().DownloadLog(context.options.out, name) != 0)
        Refused(*reporter, name + " download failed");
    context.out << reporter->LastSuccess() << " (" << context.options.out << ")\n";
    return static_cast<int>(ExitCode::kDone);
}

int OperationLog(CliContext& context) {
    RequireArgs(context, 0, 0);
    if (context.options.out.empty()) {
        throw CliFailure(ExitCode::kUsage, "operation-log needs --out FILE.tar");
    }
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, true);
    if (sensor->Maintenance().DownloadOperationLog(context.options.out) != 0)
        Refused(*reporter, "the operation-log download failed");
    context.out << "operation log saved as "
                << MaintenanceOperation::ArchivePath(context.options.out) << "\n";
    return static_cast<int>(ExitCode::kDone);
}

int Upgrade(CliContext& context) {
    RequireArgs(context, 1, 1);
    auto reporter = MakeReporter(context);
    auto sensor = OpenSensor(context, *reporter, true);
    const int errors = reporter->ErrorCount();
    if (StartUpgrade(*sensor, context.options, context.options.args[0]) != 0) {
        throw CliFailure(ExitCode::kUsage, reporter->LastError().empty()
                                               ? "the upgrade did not start"
                                               : reporter->LastError());
    }
    const Link& link = sensor->Session().link;
    UpgradeOperation& upgrade = sensor->Upgrade();
    const auto deadline = std::chrono::steady_clock::now() + kUpgradeBound;
    int last_shown = -1;
    bool told_restart = false;
    // The file-stream route restarts the sensor some seconds after the stream, with the
    // upgrade flag already down: the worker is waited for too, or the restart never happens.
    while ((link.upgrading.load() || upgrade.Working()) &&
           std::chrono::steady_clock::now() < deadline) {
        ShowProgress(context, upgrade.Progress(), upgrade.ProgressTotal(), last_shown);
        if (sensor->Kind() == Link::kKindTcp && !link.upgrading.load() && !told_restart &&
            reporter->ErrorCount() == errors) {
            context.out << (context.terminal ? "\n" : "")
                        << "image sent; waiting for the sensor to store it and restart\n"
                        << std::flush;
            told_restart = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kProgressPollMs));
    }
    ShowProgress(context, upgrade.Progress(), upgrade.ProgressTotal(), last_shown);
    if (context.terminal && !told_restart) context.out << "\n";
    if (link.upgrading.load() || upgrade.Working())
        throw CliFailure(ExitCode::kConnection, "the upgrade did not end");
    if (reporter->ErrorCount() > errors) Refused(*reporter, "the upgrade failed");
    context.out << reporter->LastSuccess() << "\n";
    return static_cast<int>(ExitCode::kDone);
}

}  // namespace cli
