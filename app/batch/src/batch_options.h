// The command line of cloud_denoiser-batch: a sub-command, the manifest and the options of that
// sub-command.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace krell::batch {

struct BatchOptions {
    std::string command;              //!< plan, run, engine, submit, report or help
    std::filesystem::path manifest;   //!< absolute; empty for engine and help
    std::optional<size_t> task;       //!< run: the sequence, from 0
    bool all = false;                 //!< run: every sequence, one after another
    std::string partition;            //!< submit
    size_t max_parallel = 0;          //!< submit: 0 for no throttle
    std::vector<std::string> sbatch_args;  //!< submit: passed to both sbatch calls
};

//! Parses argv. False with a message in error on a usage error. The task of run falls back to
//! SLURM_ARRAY_TASK_ID, then to JOB_COMPLETION_INDEX (a Kubernetes Indexed Job).
bool parseOptions(int argc, char** argv, BatchOptions& options, std::string& error);

//! The --help text.
const char* helpText();

}  // namespace krell::batch
