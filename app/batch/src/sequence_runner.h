// Runs one sequence of the manifest through the denoise pipeline, exactly as cloud_denoiser
// would run its input folder, and records the outcome as the sequence's summary.
#pragma once

#include <cstddef>

#include "app/batch/src/manifest.h"

namespace krell::batch {

//! Lock file in a sequence's output folder, held while a process runs the sequence.
constexpr const char* kRunLockFileName = "denoise_run.lock";

//! Removes the sequence's old summary and result files, runs the pipeline over its frames with
//! a fresh recurrent state, and writes the summary last (also for a failed run). Returns the
//! exit code of the task: 0, kExitManifest for a path error, kExitIncomplete when frames were
//! skipped, kExitModel when the pipeline could not be set up, kExitSummary when the summary (or
//! the output folder) could not be written, kExitBusy (nothing touched) when another process is
//! running the same sequence. Reads config/test.json from the current folder.
int runSequence(const ManifestEntry& entry, size_t index);

}  // namespace krell::batch
