#include "lumora-core/global_executor.h"

#include <QSettings>
#include <QStandardPaths>

#include "scribe/logger.h"

namespace krell {
namespace lumora {

namespace {

constexpr int kDefaultWorkers = 8;
// A typo such as 80000 would otherwise ask the system for tens of thousands of threads.
constexpr int kMaxWorkers = 1024;

QString settingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QStringLiteral("/LumoraDataFiles/Settings.ini");
}

int configuredWorkers() {
    QSettings settings(settingsPath(), QSettings::IniFormat);
    const QString key = QStringLiteral("taskflow_core_num");
    if (!settings.contains(key)) return kDefaultWorkers;
    const int value = settings.value(key).toInt();
    if (value < 0) {
        SLOG_WARNING("taskflow_core_num %d is negative; the executor gets no workers", value);
        return 0;
    }
    if (value > kMaxWorkers) {
        SLOG_WARNING("taskflow_core_num %d is above %d; using %d workers", value, kMaxWorkers,
                     kMaxWorkers);
        return kMaxWorkers;
    }
    return value;
}

}  // namespace

tf::Executor& global_executor() {
    // The settings are read once, inside the one-time initialisation: only the first call's value
    // could size the executor, and reading the file costs every later call far more than the rest.
    static tf::Executor executor(static_cast<size_t>(configuredWorkers()));
    return executor;
}

}  // namespace lumora
}  // namespace krell
