// cloud_denoiser-batch: denoises the sequences of a manifest, one Slurm array task each.
#include <cstdio>
#include <exception>
#include <string>

#include "app/batch/src/batch_commands.h"
#include "app/batch/src/batch_options.h"

namespace {

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
