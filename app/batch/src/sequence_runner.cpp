#include "app/batch/src/sequence_runner.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/batch/src/batch_checks.h"
#include "app/batch/src/batch_commands.h"
#include "app/batch/src/sequence_status.h"
#include "app/batch/src/sequence_summary.h"
#include "app/denoise/src/denoise.h"
#include "app/denoise/src/driver.h"
#include "app/denoise/src/file_lock.h"

namespace krell::batch {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double unixSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string hostName() {
    char name[256] = {};
    return ::gethostname(name, sizeof(name) - 1) == 0 ? name : "";
}

std::string slurmJob() {
    const char* array = std::getenv("SLURM_ARRAY_JOB_ID");
    const char* task = std::getenv("SLURM_ARRAY_TASK_ID");
    if (array != nullptr && task != nullptr) {
        return std::string(array) + "_" + task;
    }
    const char* job = std::getenv("SLURM_JOB_ID");
    return job != nullptr ? job : "";
}

// A rerun starts from the first frame (the recurrent state needs every frame before), so what
// an earlier run left must not be mistaken for this run's work.
// The temporaries of a killed writer ("<result>.part") go too.
bool clearPreviousRun(const ManifestEntry& entry, std::string& error) {
    std::error_code fsError;
    fs::remove(summaryPath(entry.output), fsError);
    for (const fs::path& frame : listFrames(entry.input)) {
        const fs::path result = resultPathFor(entry.output, frame);
        if (!fsError) {
            fs::remove(result, fsError);
        }
        if (!fsError) {
            fs::remove(result.string() + ".part", fsError);
        }
    }
    if (fsError) {
        error = entry.output.string() + ": " + fsError.message();
        return false;
    }
    return true;
}

// Counts the frames and which of them got a result (the earlier results are gone by now).
void tallyResults(const ManifestEntry& entry, SequenceSummary& summary) {
    const std::vector<fs::path> frames = listFrames(entry.input);
    summary.frames = frames.size();
    for (const fs::path& frame : frames) {
        std::error_code error;
        if (fs::is_regular_file(resultPathFor(entry.output, frame), error)) {
            ++summary.written;
        } else {
            summary.skipped.push_back(frame.filename().string());
        }
    }
    summary.frames_per_second = summary.seconds > 0.0 ? summary.written / summary.seconds : 0.0;
}

int exitCodeOf(int denoiserExit) {
    switch (denoiserExit) {
        case 0:
            return kExitOk;
        case kExitPathError:
            return kExitManifest;
        default:
            return kExitIncomplete;
    }
}

// Runs the frames; the pipeline is set up here so that a failure still gets its summary.
int denoiseFrames(const ManifestEntry& entry, SequenceSummary& summary) {
    Denoise denoise;
    const bool ready = denoise.Init(kConfigPath, 0);
    summary.engine_build_seconds = denoise.engineBuildSeconds();
    if (!ready) {
        std::fprintf(stderr, "sequence %zu: the pipeline could not be set up from %s\n",
                     summary.sequence, kConfigPath);
        return kExitModel;
    }
    const Clock::time_point started = Clock::now();
    const int denoiserExit = processPaths(
        [&denoise](const int8_t* quantized, uint8_t* prediction) {
            return denoise.Run(quantized, prediction);
        },
        entry.input.string(), entry.output.string());
    summary.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    tallyResults(entry, summary);
    return exitCodeOf(denoiserExit);
}

}  // namespace

int runSequence(const ManifestEntry& entry, size_t index) {
    SequenceSummary summary;
    summary.sequence = index;
    summary.input = entry.input.string();
    summary.output = entry.output.string();
    summary.started_at = unixSeconds();
    summary.host = hostName();
    summary.job = slurmJob();
    std::error_code fsError;
    fs::create_directories(entry.output, fsError);
    // Two runs of one sequence (an array resubmitted while the first still runs) would remove
    // and write each other's files; the second one leaves the sequence to the first.
    const FileLock lock((entry.output / kRunLockFileName).string(), FileLock::Mode::kTry);
    if (lock.busy()) {
        std::fprintf(stderr, "sequence %zu: another process is running it (lock %s); not started\n",
                     index, lock.path().c_str());
        return kExitBusy;
    }
    std::string error;
    if (!lock.held()) {
        error = lock.path() + ": " + std::strerror(lock.error());
    }
    if (!lock.held() || !clearPreviousRun(entry, error)) {
        std::fprintf(stderr, "sequence %zu: %s\n", index, error.c_str());
        return kExitSummary;
    }
    summary.exit_status = denoiseFrames(entry, summary);
    summary.finished_at = unixSeconds();
    if (!writeSummary(summary, error)) {
        std::fprintf(stderr, "sequence %zu: summary not written: %s\n", index, error.c_str());
        return kExitSummary;
    }
    std::fprintf(stderr, "sequence %zu: %zu of %zu frames in %.2f s (%.1f frames/s), exit %d\n",
                 index, summary.written, summary.frames, summary.seconds,
                 summary.frames_per_second, summary.exit_status);
    return summary.exit_status;
}

}  // namespace krell::batch
