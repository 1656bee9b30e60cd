// The real DeviceBench program on a machine without OpenGL (the offscreen platform): it has to
// come up on the software renderer, keep running, and leave cleanly when asked to terminate.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

constexpr int kStayUpMs = 4000;
constexpr int kExitWaitMs = 10000;
constexpr int kPollMs = 50;

// The child's environment: ours without a display or a chosen backend, with its own home.
std::vector<std::string> ChildEnvironment(const std::string& home) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" &&
            name != "QT_QUICK_BACKEND" && name != "QMLSCENE_DEVICE" && name != "HOME" &&
            name.rfind("XDG_", 0) != 0) {
            env.push_back(text);
        }
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("SCRIBE_CONSOLE=0");
    env.push_back("HOME=" + home);
    env.push_back("XDG_CONFIG_HOME=" + home + "/.config");
    env.push_back("XDG_RUNTIME_DIR=" + home);
    return env;
}

class RunningProgram {
public:
    RunningProgram(const std::vector<std::string>& args, const std::string& home,
                   const std::string& log_path) {
        std::vector<std::string> env = ChildEnvironment(home);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(&entry[0]);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~RunningProgram() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }
    //! Polls for an exit for up to `limit_ms`; true when the program has exited.
    bool WaitExit(int limit_ms) {
        for (int waited = 0; !exited_ && waited <= limit_ms; waited += kPollMs) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                exited_ = true;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            }
        }
        return exited_;
    }
    void Signal(int signal_number) { ::kill(pid_, signal_number); }
    int Status() const { return status_; }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(ProgramStart, OffscreenWithoutOpenGl_RunsOnSoftwareRendererUntilTerminated) {
    krell::test::TempDir home;
    const std::string log_path = home.Path() + "/output.txt";
    RunningProgram program({KRELL_DEVICEBENCH_PROGRAM, "-moduleLM=Tovin"}, home.Path(), log_path);
    ASSERT_TRUE(program.Started());

    const bool ended_early = program.WaitExit(kStayUpMs);
    const std::string early_output = ReadFile(log_path);
    ASSERT_FALSE(ended_early) << "exit status " << program.Status() << "\n" << early_output;
    EXPECT_NE(early_output.find("Qt Quick software renderer"), std::string::npos) << early_output;

    program.Signal(SIGTERM);
    ASSERT_TRUE(program.WaitExit(kExitWaitMs)) << "no exit after SIGTERM";
    ASSERT_TRUE(WIFEXITED(program.Status())) << "ended by signal " << WTERMSIG(program.Status());
    EXPECT_EQ(WEXITSTATUS(program.Status()), 0);
}

}  // namespace
