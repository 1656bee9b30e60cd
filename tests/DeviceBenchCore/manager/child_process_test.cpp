// ChildProcess as the archiver run uses it: output and working directory, the exit status, a
// program that is not there, a child killed by a signal and one that outlives its time bound.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "DeviceBenchCore/manager/child_process.h"

namespace {

using State = ChildOutcome::State;

TEST(ChildProcessTest, RunsInTheFolderAndCollectsBothOutputsAndTheExitCode) {
    const ChildOutcome run =
        ChildProcess::Run("sh", {"-c", "pwd; echo oops >&2; read line; exit 3"}, "/usr", 5000);
    ASSERT_EQ(run.state, State::kExited) << run.error;
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.output, "/usr\noops\n") << "standard input is empty, so read ends at once";
}

TEST(ChildProcessTest, MissingProgramIsNotStartedAndSaysWhy) {
    const ChildOutcome run = ChildProcess::Run("no-such-program-here", {}, "", 5000);
    EXPECT_EQ(run.state, State::kNotStarted);
    EXPECT_EQ(run.error, "No such file or directory");
}

TEST(ChildProcessTest, SignalledChildIsReportedWithItsSignal) {
    const ChildOutcome run = ChildProcess::Run("sh", {"-c", "kill -9 $$"}, "", 5000);
    EXPECT_EQ(run.state, State::kSignalled);
    EXPECT_EQ(run.signal, 9);
}

TEST(ChildProcessTest, ChildPastItsBoundIsKilledInTime) {
    const auto start = std::chrono::steady_clock::now();
    // The grandchild keeps the output open too: the bound must hold all the same.
    const ChildOutcome run = ChildProcess::Run("sh", {"-c", "sleep 20 & sleep 20"}, "", 300);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.state, State::kTimedOut);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_NE(std::system("pgrep -x -f 'sleep 20' > /dev/null"), 0) << "the grandchild was left running";
}

}  // namespace
