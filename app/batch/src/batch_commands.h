// The sub-commands of cloud_denoiser-batch. Each returns the program's exit code (see
// helpText()) and prints its own messages: results on standard output, problems on standard
// error. Call from the main thread, in the folder that holds config/test.json.
#pragma once

#include "app/batch/src/batch_options.h"

namespace krell::batch {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitManifest = 2;
constexpr int kExitIncomplete = 3;
constexpr int kExitModel = 4;
constexpr int kExitSubmit = 5;
constexpr int kExitSummary = 6;
constexpr int kExitBusy = 7;

int planCommand(const BatchOptions& options);
int runCommand(const BatchOptions& options);
int engineCommand();
int submitCommand(const BatchOptions& options);
int reportCommand(const BatchOptions& options);

}  // namespace krell::batch
