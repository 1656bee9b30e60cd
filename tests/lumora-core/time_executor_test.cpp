// Time conversions in a non-UTC zone with daylight saving (main() sets America/New_York), and the
// executor's worker count from the settings file. One-time creation means each worker-count case
// needs a fresh process: those run as death tests that exit with the worker count.
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
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

TEST(TimeConversion, FarDates_SaturateInsteadOfOverflowing) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    const QDateTime epoch(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(krell::lumora::toTime(QDateTime(QDate(40000, 1, 1), QTime(0, 0), Qt::UTC))
                  .time_since_epoch()
                  .count(),
              kMax);
    EXPECT_EQ(krell::lumora::toTime(QDateTime(QDate(-40000, 1, 1), QTime(0, 0), Qt::UTC))
                  .time_since_epoch()
                  .count(),
              kMin);
    // The last whole milliseconds that fit stay exact; one more pins.
    const qint64 last_ms = kMax / kTicksPerMs;
    EXPECT_EQ(krell::lumora::toTime(epoch.addMSecs(last_ms)).time_since_epoch().count(),
              last_ms * kTicksPerMs);
    EXPECT_EQ(krell::lumora::toTime(epoch.addMSecs(last_ms + 1)).time_since_epoch().count(), kMax);
    EXPECT_EQ(krell::lumora::toTime(epoch.addMSecs(-last_ms)).time_since_epoch().count(),
              -last_ms * kTicksPerMs);
    EXPECT_EQ(krell::lumora::toTime(epoch.addMSecs(-last_ms - 1)).time_since_epoch().count(), kMin);
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

// An inotify descriptor watching one file for opens and reads.
class FileWatch {
public:
    explicit FileWatch(const QString& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0 && ::inotify_add_watch(fd_, QFile::encodeName(path).constData(),
                                            IN_OPEN | IN_ACCESS) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    bool ok() const { return fd_ >= 0; }
    //! Events since the last call. The kernel queues them inside the open or read call itself, so
    //! nothing is still on its way when this is called after those calls.
    int takeEvents() {
        int events = 0;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof(buffer));
            if (got <= 0) return events;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                ++events;
            }
        }
    }

private:
    int fd_;
};

TEST(GlobalExecutor, LaterCalls_DoNotReadTheSettingsFileAgain) {
    writeWorkerSetting("3");
    tf::Executor& executor = krell::lumora::global_executor();
    // A changed file (another size): Qt would read it again, where it only compares the size and
    // time of an unchanged one.
    writeWorkerSetting("12");
    FileWatch watch(settingsPath());
    if (!watch.ok()) GTEST_SKIP() << "inotify unavailable: " << std::strerror(errno);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(&krell::lumora::global_executor(), &executor);
    const int opened_by_calls = watch.takeEvents();
    {
        // Proves the watch: an open and read here must be seen.
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        file.readAll();
    }
    EXPECT_GT(watch.takeEvents(), 0) << "the watch sees nothing, so the check below proves nothing";
    EXPECT_EQ(opened_by_calls, 0) << "global_executor() read the settings file again";
    EXPECT_EQ(executor.num_workers(), 3u);
    QFile::remove(settingsPath());
}

}  // namespace
