#include "app/batch/src/slurm_submission.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

extern char** environ;

namespace krell::batch {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSbatch = "sbatch";

// Single-quoted for the shell: every character stands for itself.
std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool writeScript(const fs::path& path, const std::string& text, std::string& error) {
    {
        std::ofstream out(path, std::ios::trunc);
        out << text;
        if (!out) {
            error = "cannot write " + path.string();
            return false;
        }
    }
    std::error_code fsError;
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add,
                    fsError);
    return true;
}

// Runs argv (looked up in PATH) with standard output captured; standard error passes through.
// The exit status, or -1 with errno's text in error when it could not be started.
int runCaptured(const std::vector<std::string>& args, std::string& output, std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawnError = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawnError != 0) {
        ::close(pipeFds[0]);
        error = args[0] + ": " + std::strerror(spawnError);
        return -1;
    }
    char buffer[512];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], buffer, sizeof(buffer))) != 0) {
        if (got > 0) {
            output.append(buffer, static_cast<size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// "3" from sbatch --parsable's "3" or "3;cluster" and its newline.
std::string jobIdOf(const std::string& parsable) {
    const size_t end = parsable.find_first_of(";\n");
    return parsable.substr(0, end);
}

}  // namespace

SlurmSubmission::SlurmSubmission(SubmitSettings settings)
    : settings_(std::move(settings)), folder_(settings_.manifest.string() + ".slurm") {}

bool SlurmSubmission::writeScripts(std::string& error) const {
    std::error_code fsError;
    fs::create_directories(folder_ / "logs", fsError);
    if (fsError) {
        error = (folder_ / "logs").string() + ": " + fsError.message();
        return false;
    }
    const std::string program = shellQuoted(settings_.program.string());
    return writeScript(folder_ / "engine.sh",
                       scriptText("denoise-engine", "engine-%j.log", program + " engine"), error) &&
           writeScript(folder_ / "array.sh",
                       scriptText("denoise", "task-%a-%A.log",
                                  program + " run " + shellQuoted(settings_.manifest.string()) +
                                      " --task \"$SLURM_ARRAY_TASK_ID\""),
                       error);
}

std::string SlurmSubmission::scriptText(const std::string& jobName, const std::string& logName,
                                        const std::string& command) const {
    return "#!/bin/sh\n"
           "# Written by cloud_denoiser-batch submit; the task starts in the model's folder.\n"
           "#SBATCH --job-name=" + jobName + "\n" +
           "#SBATCH --output=" + (folder_ / "logs" / logName).string() + "\n" +
           "#SBATCH --ntasks=1\n"
           "#SBATCH --cpus-per-task=1\n"
           "# oneDNN's OpenMP threads: as many as the task's CPUs, also where Slurm does not\n"
           "# bind tasks to their CPUs (without binding OpenMP would start one per CPU of the node).\n"
           "export OMP_NUM_THREADS=\"${SLURM_CPUS_PER_TASK:-1}\"\n"
           "cd " + shellQuoted(settings_.workdir.string()) + " || exit 4\n" +
           "exec " + command + "\n";
}

std::string SlurmSubmission::arraySpec() const {
    std::string spec;
    const std::vector<size_t>& tasks = settings_.tasks;
    for (size_t i = 0; i < tasks.size();) {
        size_t last = i;
        while (last + 1 < tasks.size() && tasks[last + 1] == tasks[last] + 1) {
            ++last;
        }
        spec += (spec.empty() ? "" : ",") + std::to_string(tasks[i]);
        if (last > i) {
            spec += "-" + std::to_string(tasks[last]);
        }
        i = last + 1;
    }
    if (settings_.max_parallel > 0) {
        spec += "%" + std::to_string(settings_.max_parallel);
    }
    return spec;
}

std::vector<std::string> SlurmSubmission::commonArgs() const {
    std::vector<std::string> args = {kSbatch, "--parsable"};
    if (!settings_.partition.empty()) {
        args.push_back("--partition=" + settings_.partition);
    }
    args.insert(args.end(), settings_.sbatch_args.begin(), settings_.sbatch_args.end());
    return args;
}

std::optional<std::string> SlurmSubmission::sbatch(std::vector<std::string> args,
                                                   std::string& error) const {
    std::string output;
    const int status = runCaptured(args, output, error);
    const std::string id = jobIdOf(output);
    if (status != 0 || id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        if (error.empty()) {
            error = "sbatch " + args.back() + " failed (exit status " + std::to_string(status) +
                    ")";
        }
        return std::nullopt;
    }
    return id;
}

std::optional<std::string> SlurmSubmission::submit(std::string& error) const {
    std::vector<std::string> arrayArgs = commonArgs();
    arrayArgs.push_back("--array=" + arraySpec());
    std::optional<std::string> engineJob;
    if (settings_.build_engine) {
        std::vector<std::string> engineArgs = commonArgs();
        engineArgs.push_back((folder_ / "engine.sh").string());
        engineJob = sbatch(engineArgs, error);
        if (!engineJob) {
            return std::nullopt;
        }
        // A failed engine build fails the array at once instead of leaving it pending forever.
        arrayArgs.push_back("--dependency=afterok:" + *engineJob);
        arrayArgs.push_back("--kill-on-invalid-dep=yes");
    }
    arrayArgs.push_back((folder_ / "array.sh").string());
    std::optional<std::string> arrayJob = sbatch(arrayArgs, error);
    if (!arrayJob && engineJob) {
        std::string ignored;
        std::string cancelError;
        runCaptured({"scancel", *engineJob}, ignored, cancelError);
    }
    return arrayJob;
}

}  // namespace krell::batch
