// Where a sequence of the manifest stands, judged from its folders alone, so that any task or a
// later submission reaches the same verdict: a sequence is complete when its summary reports
// success and every input frame has a result file at least as new as the frame.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/src/manifest.h"
#include "app/batch/src/sequence_summary.h"

namespace krell::batch {

enum class SequenceState {
    kNotRun,    //!< no summary: never run, still running or stopped before the end
    kComplete,  //!< summary with exit status 0 and every result newer than its frame
    kFailed,    //!< the last run ended with a non-zero exit status
    kStale,     //!< it succeeded once, but a frame changed or was added since
};

struct SequenceStatus {
    SequenceState state = SequenceState::kNotRun;
    std::optional<SequenceSummary> summary;
    std::string reason;  //!< why it is not complete, for messages; empty when complete
};

//! The frame files of an input folder in the order cloud_denoiser runs them (by path).
std::vector<std::filesystem::path> listFrames(const std::filesystem::path& input);

//! Where cloud_denoiser writes the result of frame for an output folder.
std::filesystem::path resultPathFor(const std::filesystem::path& output,
                                    const std::filesystem::path& frame);

//! Judges one sequence. File-system errors while looking count as "not complete", with the
//! error in reason.
SequenceStatus assessSequence(const ManifestEntry& entry);

//! "not run", "complete", "failed" or "stale".
const char* stateName(SequenceState state);

}  // namespace krell::batch
