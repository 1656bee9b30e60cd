// cloud_denoiser-batch: denoises the sequences of a manifest, one Slurm array task each.
#include <cstdio>
#include <exception>
#include <string>

#include "app/batch/src/batch_commands.h"
#include "app/batch/src/batch_options.h"
#include "module/common/log.h"

namespace {

// Standard output carries only what scripts read (the job id of submit, the tables of plan and
// report); the framework's lines, the first of which its classes write while they register at
// start-up, go to standard error. Hence a constructor that runs before every other one.
struct FrameworkLogToStandardError {
    FrameworkLogToStandardError() {
        krell::det::setLogSink([](uint8_t, const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
        });
    }
};
__attribute__((init_priority(101))) FrameworkLogToStandardError frameworkLogToStandardError;

int dispatch(const krell::batch::BatchOptions& options) {
    using namespace krell::batch;
    if (options.command == "help") {
        std::fputs(helpText(), stdout);
        return kExitOk;
    }
    if (options.command == "plan") {
        return planCommand(options);
    }
    if (options.command == "run") {
        return runCommand(options);
    }
    if (options.command == "engine") {
        return engineCommand();
    }
    if (options.command == "submit") {
        return submitCommand(options);
    }
    return reportCommand(options);
}

}  // namespace

int main(int argc, char** argv) {
    krell::batch::BatchOptions options;
    std::string error;
    if (!krell::batch::parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "cloud_denoiser-batch: %s (--help lists the sub-commands)\n",
                     error.c_str());
        return krell::batch::kExitUsage;
    }
    try {
        return dispatch(options);
    } catch (const std::exception& failure) {
        // File-system and framework failures that escape a sub-command end it with their text.
        std::fprintf(stderr, "cloud_denoiser-batch: %s\n", failure.what());
        return krell::batch::kExitModel;
    }
}
