// SlurmSubmission: the job scripts of one manifest and their submission with sbatch. The
// scripts live in "<manifest>.slurm/" (engine.sh, array.sh, logs/), so a user can read them and
// resubmit by hand; the options that change from one submission to the next (the task list,
// the dependency on the engine job) go on sbatch's command line instead.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace krell::batch {

struct SubmitSettings {
    std::filesystem::path manifest;  //!< absolute
    std::filesystem::path workdir;   //!< folder holding config/test.json; tasks start there
    std::filesystem::path program;   //!< this program, absolute
    std::string partition;           //!< empty: the cluster's default
    size_t max_parallel = 0;         //!< 0: no throttle
    std::vector<std::string> sbatch_args;
    std::vector<size_t> tasks;       //!< sequences to run, ascending
    bool build_engine = false;       //!< submit an engine job first and make the array wait
};

class SlurmSubmission {
public:
    explicit SlurmSubmission(SubmitSettings settings);

    //! Writes engine.sh and array.sh and creates logs/. False with a message in error.
    bool writeScripts(std::string& error) const;
    //! Submits the engine job (when asked for) and the array; the array's job id, or nothing
    //! with a message in error when sbatch cannot be run or refuses. An engine job that was
    //! submitted before the array failed is cancelled again.
    std::optional<std::string> submit(std::string& error) const;

    const std::filesystem::path& jobFolder() const { return folder_; }
    //! The --array value: "0,2-5%K" style list of the tasks with the throttle.
    std::string arraySpec() const;

private:
    //! A job script: sbatch directives, then command run in the model's folder.
    std::string scriptText(const std::string& jobName, const std::string& logName,
                           const std::string& command) const;
    std::vector<std::string> commonArgs() const;
    std::optional<std::string> sbatch(std::vector<std::string> args, std::string& error) const;

    SubmitSettings settings_;
    std::filesystem::path folder_;
};

}  // namespace krell::batch
