// Flush() and process exit with a console nobody reads. Each case runs in a child process that
// configures the logger afresh (standard error on a pipe) before its first line; this program
// itself never logs, so forking is safe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scribe/logger.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLines = 40000;
constexpr int kChildLimitMs = 10000;

struct ChildReport {
    uint64_t unflushed = 0;
    int64_t flush_ms = 0;
};

// In the child: error lines into a console pipe nobody reads yet, tell the parent, then wait for
// its go-ahead before Flush(); report what Flush() returned and how long it took, then exit.
[[noreturn]] void RunChild(int console_fd, int report_fd, int go_fd) {
    ::setenv("SCRIBE_CONSOLE", "1", 1);
    ::setenv("SCRIBE_LOG_FILE", "", 1);
    ::setenv("SCRIBE_LEVEL", "info", 1);
    ::dup2(console_fd, STDERR_FILENO);
    for (int i = 0; i < kLines; ++i)
        SLOG_ERROR("flood line %d of %d", i, kLines);
    const char ready = 'r';
    (void)!::write(report_fd, &ready, 1);
    char go = 0;
    (void)!::read(go_fd, &go, 1);
    const auto start = Clock::now();
    ChildReport report;
    report.unflushed = Logger::GetInstance().Flush();
    report.flush_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    (void)!::write(report_fd, &report, sizeof(report));
    std::exit(0);  // runs the logger's exit handler
}

class LoggerFlushTest : public ::testing::Test {
protected:
    // Starts the child; the parent keeps the read ends of the console and report pipes.
    void Start() {
        int console[2], report[2], go[2];
        ASSERT_EQ(::pipe(console), 0);
        ASSERT_EQ(::pipe(report), 0);
        ASSERT_EQ(::pipe(go), 0);
        child_ = ::fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            ::close(console[0]);
            ::close(report[0]);
            ::close(go[1]);
            RunChild(console[1], report[1], go[0]);
        }
        ::close(console[1]);
        ::close(report[1]);
        ::close(go[0]);
        console_ = console[0];
        report_ = report[0];
        go_ = go[1];
        ::fcntl(console_, F_SETFL, O_NONBLOCK);
    }

    void TearDown() override {
        if (child_ > 0 && !reaped_) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        for (int fd : {console_, report_, go_})
            if (fd >= 0) ::close(fd);
    }

    // Reads `size` bytes of report, draining the console meanwhile when asked; false on time-out.
    bool ReadReport(void* out, size_t size, bool drain, Clock::time_point deadline) {
        size_t got = 0;
        while (got < size && Clock::now() < deadline) {
            pollfd entries[2] = {{report_, POLLIN, 0}, {drain ? console_ : -1, POLLIN, 0}};
            if (::poll(entries, 2, 50) <= 0) continue;
            if (entries[1].revents & POLLIN) DrainConsole();
            if (entries[0].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(report_, static_cast<char*>(out) + got, size - got);
                if (n <= 0) return false;
                got += static_cast<size_t>(n);
            }
        }
        return got == size;
    }

    void DrainConsole() {
        char chunk[65536];
        while (::read(console_, chunk, sizeof(chunk)) > 0) {}
    }

    // Waits for the child's exit until `deadline`; true when it exited with status 0.
    bool ChildExited(Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(child_, &status, WNOHANG) == child_) {
                reaped_ = true;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            ::usleep(10000);
        }
        return false;
    }

    pid_t child_ = -1;
    bool reaped_ = false;
    int console_ = -1;
    int report_ = -1;
    int go_ = -1;
};

TEST_F(LoggerFlushTest, OverflowedQueueThenDrainedConsole_FlushReturnsAndLosesNoCount) {
    Start();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kChildLimitMs);
    char ready = 0;
    ASSERT_TRUE(ReadReport(&ready, 1, false, deadline)) << "the child never finished logging";
    const char go = 'g';
    ASSERT_EQ(::write(go_, &go, 1), 1);
    ChildReport report;
    ASSERT_TRUE(ReadReport(&report, sizeof(report), true, deadline))
        << "Flush() still blocked after " << kChildLimitMs << " ms with the console drained";
    EXPECT_EQ(report.unflushed, 0u) << "every line was written or dropped once the console drained";
    EXPECT_TRUE(ChildExited(deadline));
}

TEST_F(LoggerFlushTest, ConsoleNeverRead_FlushGivesUpWithACountAndExitDoesNotHang) {
    Start();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kChildLimitMs);
    char ready = 0;
    ASSERT_TRUE(ReadReport(&ready, 1, false, deadline));
    const char go = 'g';
    ASSERT_EQ(::write(go_, &go, 1), 1);
    ChildReport report;
    ASSERT_TRUE(ReadReport(&report, sizeof(report), false, deadline))
        << "Flush() must be bounded when the console never drains";
    EXPECT_GT(report.unflushed, 0u);
    EXPECT_GE(report.flush_ms, 900);
    EXPECT_LT(report.flush_ms, 3000);
    EXPECT_TRUE(ChildExited(deadline)) << "exit hung in the logger's exit handler";
}

}  // namespace
