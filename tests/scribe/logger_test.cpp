// The logger is a process-wide singleton configured from the environment on first use, so this
// program sets the environment before anything logs and checks the file the writer produces.
#include "scribe/logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string LogPath() {
    static const std::string path = [] {
        std::string p = ::testing::TempDir() + "scribe_test_" + std::to_string(::getpid()) + ".log";
        ::setenv("SCRIBE_LOG_FILE", p.c_str(), 1);
        ::setenv("SCRIBE_CONSOLE", "0", 1);
        ::setenv("SCRIBE_LEVEL", "info", 1);
        return p;
    }();
    return path;
}

std::string ReadLog() {
    Logger::GetInstance().Flush();
    std::ifstream in(LogPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountOccurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace

TEST(ScribeLogger, FormatsArgumentsAndNamesCaller) {
    LogPath();
    SLOG_INFO("u32RecvTimeoutMs %u", 3000u);
    SLOG_ERROR("Open inet_pton error:%s", "bad-address");
    const std::string log = ReadLog();
    EXPECT_NE(log.find("u32RecvTimeoutMs 3000"), std::string::npos);
    EXPECT_NE(log.find("Open inet_pton error:bad-address"), std::string::npos);
    EXPECT_NE(log.find("logger_test.cpp:"), std::string::npos);
    EXPECT_NE(log.find("TestBody"), std::string::npos) << "function signature must be passed";
}

TEST(ScribeLogger, LevelBelowThresholdIsDropped) {
    LogPath();
    SLOG_DEBUG("exec time: %fms", 1.5);
    EXPECT_FALSE(Logger::GetInstance().IsEnabled(LOG_DEBUG));
    EXPECT_EQ(ReadLog().find("exec time:"), std::string::npos);
}

TEST(ScribeLogger, LongLinesAreNotTruncated) {
    LogPath();
    const std::string payload(5000, 'x');
    SLOG_WARNING("long %s end", payload.c_str());
    EXPECT_NE(ReadLog().find("long " + payload + " end"), std::string::npos);
}

TEST(ScribeLogger, ConcurrentCallersLoseNoLineBelowQueueSize) {
    LogPath();
    constexpr int kThreads = 4;
    constexpr int kLinesPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesPerThread; ++i)
                SLOG_INFO("concurrent-line thread=%d i=%d", t, i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(CountOccurrences(ReadLog(), "concurrent-line thread="), kThreads * kLinesPerThread);
}

TEST(ScribeLogger, NullTextsAreTolerated) {
    LogPath();
    Logger::GetInstance().AddToQueue(LOG_INFO, nullptr, 7, nullptr, "null-caller %d", 1);
    EXPECT_NE(ReadLog().find("?:7 ? | null-caller 1"), std::string::npos);
}
