#include "DeviceBenchCore/manager/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdint>
#include <cstring>

extern char** environ;

namespace {

constexpr size_t kOutputLimit = 64 * 1024;  // enough for any message; the rest is dropped

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads the child's output until it closes its end or the deadline passes; false on time-out.
bool Collect(int fd, int64_t deadline_ms, std::string& output) {
    char buffer[4096];
    for (;;) {
        const int64_t left = deadline_ms - NowMs();
        if (left <= 0) return false;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready == 0 ? false : true;
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;  // every writer has closed: the child is ending
        if (output.size() < kOutputLimit)
            output.append(buffer, std::min(static_cast<size_t>(n), kOutputLimit - output.size()));
    }
}

enum class Reaped { kYes, kTimedOut, kStatusLost };

// Waits for the child's end without blocking past the deadline.
Reaped Reap(pid_t pid, int64_t deadline_ms, int& status) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return Reaped::kYes;
        // Reaped by someone else (a SIGCHLD handler of the process): its status is unknown.
        if (done < 0 && errno != EINTR) return Reaped::kStatusLost;
        if (NowMs() >= deadline_ms) return Reaped::kTimedOut;
        ::usleep(1000);
    }
}

}  // namespace

ChildOutcome ChildProcess::Run(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& working_dir, int timeout_ms) {
    ChildOutcome outcome;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        outcome.error = std::string("no pipe: ") + std::strerror(errno);
        return outcome;
    }
    Fd read_end(pipe_fds[0]);
    Fd write_end(pipe_fds[1]);

    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.Get(), write_end.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.Get(), write_end.Get(), STDERR_FILENO);
    if (!working_dir.empty())
        posix_spawn_file_actions_addchdir_np(actions.Get(), working_dir.c_str());

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The child leads a process group of its own, so a time-out ends whatever it started too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    // glibc reports a failed exec (program not found, not executable) here rather than as the
    // child's exit status.
    const int spawned =
        posix_spawnp(&pid, program.c_str(), actions.Get(), &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    write_end.Reset();  // the child holds its copy; EOF comes when it ends
    if (spawned != 0) {
        outcome.error = std::strerror(spawned);
        return outcome;
    }

    const int64_t deadline = NowMs() + timeout_ms;
    int status = 0;
    const Reaped reaped =
        Collect(read_end.Get(), deadline, outcome.output) ? Reap(pid, deadline, status)
                                                          : Reaped::kTimedOut;
    if (reaped == Reaped::kTimedOut) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        outcome.state = ChildOutcome::State::kTimedOut;
        return outcome;
    }
    if (reaped == Reaped::kStatusLost) {
        outcome.state = ChildOutcome::State::kExited;  // never taken for success
        outcome.exit_code = -1;
        return outcome;
    }
    if (WIFSIGNALED(status)) {
        outcome.state = ChildOutcome::State::kSignalled;
        outcome.signal = WTERMSIG(status);
    } else {
        outcome.state = ChildOutcome::State::kExited;
        outcome.exit_code = WEXITSTATUS(status);
    }
    return outcome;
}
