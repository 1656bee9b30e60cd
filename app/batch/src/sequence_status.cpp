#include "app/batch/src/sequence_status.h"

#include <algorithm>
#include <system_error>

namespace krell::batch {
namespace {

namespace fs = std::filesystem;

// The first frame whose result is missing or older than the frame; empty when there is none.
std::string firstOutdatedFrame(const ManifestEntry& entry, std::error_code& error) {
    for (const fs::path& frame : listFrames(entry.input)) {
        const fs::path result = resultPathFor(entry.output, frame);
        const fs::file_time_type frameTime = fs::last_write_time(frame, error);
        if (error) {
            return frame.filename().string();
        }
        const fs::file_time_type resultTime = fs::last_write_time(result, error);
        if (error || resultTime < frameTime) {
            error.clear();
            return frame.filename().string();
        }
    }
    return {};
}

}  // namespace

std::vector<fs::path> listFrames(const fs::path& input) {
    std::vector<fs::path> frames;
    std::error_code error;
    for (fs::directory_iterator it(input, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file()) {
            frames.push_back(it->path());
        }
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

fs::path resultPathFor(const fs::path& output, const fs::path& frame) {
    return output / (frame.stem().string() + "_result.bin");
}

SequenceStatus assessSequence(const ManifestEntry& entry) {
    SequenceStatus status;
    std::string error;
    status.summary = readSummary(entry.output, error);
    if (!status.summary) {
        status.reason = error.empty() ? "no summary" : error;
        return status;
    }
    if (status.summary->exit_status != 0) {
        status.state = SequenceState::kFailed;
        status.reason = "last run ended with exit status " +
                        std::to_string(status.summary->exit_status);
        return status;
    }
    if (fs::path(status.summary->input) != entry.input) {
        status.state = SequenceState::kStale;
        status.reason = "the summary belongs to input " + status.summary->input;
        return status;
    }
    std::error_code fsError;
    const std::string outdated = firstOutdatedFrame(entry, fsError);
    if (!outdated.empty()) {
        status.state = SequenceState::kStale;
        status.reason = fsError ? outdated + ": " + fsError.message()
                                : "frame " + outdated + " has no result as new as itself";
        return status;
    }
    status.state = SequenceState::kComplete;
    return status;
}

const char* stateName(SequenceState state) {
    switch (state) {
        case SequenceState::kNotRun:
            return "not run";
        case SequenceState::kComplete:
            return "complete";
        case SequenceState::kFailed:
            return "failed";
        case SequenceState::kStale:
            return "stale";
    }
    return "unknown";
}

}  // namespace krell::batch
