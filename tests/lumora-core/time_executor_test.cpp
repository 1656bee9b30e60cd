// Time conversions in a non-UTC zone with daylight saving (main() sets America/New_York), and the
// executor's worker count from the settings file. One-time creation means each worker-count case
// needs a fresh process: those run as death tests that exit with the worker count.
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "lumora-core/global_executor.h"
#include "lumora-core/time_point.h"
#include "test_support.h"

namespace {

using krell::lumora::Time;
using krell::lumora::TimeTicks;

constexpr int64_t kTicksPerMs = 10000;

TEST(TimeConversion, MachineZone_IsNotUtc) {
    // Guards the other cases: with UTC here they would not test anything about zones.
    const QDateTime local(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::LocalTime);
    EXPECT_NE(local.offsetFromUtc(), 0);
}

TEST(TimeConversion, RoundTrip_TruncatesTowardZeroToWholeMilliseconds) {
    const Time positive(TimeTicks(17041646456789999));
    EXPECT_EQ(krell::lumora::toTime(krell::lumora::toQDateTime(positive)),
              Time(TimeTicks(17041646456780000)));
    const Time negative(TimeTicks(-15001));
    EXPECT_EQ(krell::lumora::toTime(krell::lumora::toQDateTime(negative)), Time(TimeTicks(-10000)));
    EXPECT_EQ(krell::lumora::toQDateTime(positive).timeSpec(), Qt::UTC);
}

TEST(TimeConversion, DateText_IsReadAsUtcWhateverTheLocalZone) {
    EXPECT_EQ(
        krell::lumora::dateMsTimeString2Time("2024-01-02 03:04:05.678").time_since_epoch().count(),
        1704164645678 * kTicksPerMs);
    // 02:30 on this day does not exist in New York (clocks jump from 02:00 to 03:00).
    EXPECT_EQ(
        krell::lumora::dateMsTimeString2Time("2024-03-10 02:30:00.000").time_since_epoch().count(),
        1710037800000 * kTicksPerMs);
    const QDateTime local(QDate(2024, 1, 2), QTime(3, 4, 5, 678), Qt::LocalTime);
    EXPECT_EQ(krell::lumora::toTime(local).time_since_epoch().count(),
              local.toMSecsSinceEpoch() * kTicksPerMs);
}

TEST(TimeConversion, MalformedText_GivesTheInvalidDateTimeCount) {
    QDateTime invalid_utc;
    invalid_utc.setTimeSpec(Qt::UTC);
    const int64_t invalid = invalid_utc.toMSecsSinceEpoch() * kTicksPerMs;
    for (const char* text : {"2024-01-02T03:04:05.678", "2024-13-02 03:04:05.678", "", "garbage",
                             "2024-01-02 03:04:05.678 "}) {
        EXPECT_EQ(krell::lumora::dateMsTimeString2Time(text).time_since_epoch().count(), invalid)
            << text;
    }
}

QString settingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QStringLiteral("/LumoraDataFiles/Settings.ini");
}

void writeWorkerSetting(const char* value) {
    const QString path = settingsPath();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::exit(90);
    if (value != nullptr) file.write(QByteArray("[General]\ntaskflow_core_num=") + value + "\n");
}

void exitWithWorkers(const char* value) {
    if (value == nullptr) {
        QFile::remove(settingsPath());
    } else {
        writeWorkerSetting(value);
    }
    std::exit(static_cast<int>(krell::lumora::global_executor().num_workers()));
}

// Exits 42 when the executor refuses work with the expected text.
void exitWithRefusal(const char* value) {
    writeWorkerSetting(value);
    try {
        krell::lumora::global_executor().silent_async([] {});
    } catch (const std::runtime_error& error) {
        std::exit(std::strcmp(error.what(), "no workers to execute the graph") == 0 ? 42 : 43);
    }
    std::exit(44);
}

TEST(GlobalExecutorDeathTest, WorkerCount_FollowsSettingsFile) {
    ASSERT_TRUE(settingsPath().startsWith(lumora_test::homeDir()))
        << "must not touch real documents";
    EXPECT_EXIT(exitWithWorkers(nullptr), ::testing::ExitedWithCode(8), "");
    EXPECT_EXIT(exitWithWorkers("4"), ::testing::ExitedWithCode(4), "");
    EXPECT_EXIT(exitWithRefusal("four"), ::testing::ExitedWithCode(42), "");
    EXPECT_EXIT(exitWithRefusal("-3"), ::testing::ExitedWithCode(42), "");
    QFile::remove(settingsPath());
}

TEST(GlobalExecutor, LaterSettings_DoNotResizeTheOneExecutor) {
    writeWorkerSetting("3");
    tf::Executor& executor = krell::lumora::global_executor();
    EXPECT_EQ(executor.num_workers(), 3u);
    writeWorkerSetting("5");
    EXPECT_EQ(&krell::lumora::global_executor(), &executor);
    EXPECT_EQ(krell::lumora::global_executor().num_workers(), 3u);
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i)
        executor.silent_async([&done] { done.fetch_add(1); });
    executor.wait_for_all();
    EXPECT_EQ(done.load(), 200);
    QFile::remove(settingsPath());
}

}  // namespace
