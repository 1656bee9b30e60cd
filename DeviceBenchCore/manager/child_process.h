#pragma once
// ChildProcess: runs an external program to its end with a time bound and collects what it
// printed (standard output and error together).
//
// Started with posix_spawn rather than QProcess: QProcess forks, and a fork of a process as large
// as the window (or one holding multi-MiB replies) copies its page tables and leaves every page
// copy-on-write, so the next writes of the download fault page by page. A spawn shares the memory
// until the child has exec'd. Any thread may call Run.

#include <string>
#include <vector>

struct ChildOutcome {
    enum class State { kNotStarted, kTimedOut, kSignalled, kExited };
    State state = State::kNotStarted;
    int exit_code = -1;  // kExited: the program's exit status
    int signal = 0;      // kSignalled: the signal that ended it
    std::string error;   // kNotStarted: why
    std::string output;  // standard output and error, interleaved as written
};

class ChildProcess {
public:
    //! Runs `program` (looked up on the search path) with `arguments` in `working_dir`, standard
    //! input from /dev/null. A child still running after `timeout_ms` is killed.
    static ChildOutcome Run(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& working_dir, int timeout_ms);
};
