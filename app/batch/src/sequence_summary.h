// SequenceSummary: what one task did with one sequence, kept as JSON in the sequence's output
// folder ("denoise_summary.json"). It is written last, after every result file, and replaced
// atomically, so its presence with exit status 0 means the results beside it are complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace krell::batch {

//! File name of the summary inside a sequence's output folder.
constexpr const char* kSummaryFileName = "denoise_summary.json";

struct SequenceSummary {
    size_t sequence = 0;                     //!< index in the manifest, from 0
    std::string input;                       //!< absolute input folder
    std::string output;                      //!< absolute output folder
    size_t frames = 0;                       //!< regular files in the input folder
    size_t written = 0;                      //!< result files written by this run
    std::vector<std::string> skipped;        //!< input files that got no result
    double seconds = 0.0;                    //!< wall time of the frame loop
    double frames_per_second = 0.0;          //!< written / seconds
    double engine_build_seconds = 0.0;       //!< building (or waiting for) the engine
    int exit_status = 0;                     //!< the task's exit code (see --help)
    double started_at = 0.0;                 //!< Unix time the task started, in seconds
    double finished_at = 0.0;                //!< Unix time the summary was written
    std::string host;                        //!< where it ran
    std::string job;                         //!< Slurm "<array job>_<task>", or empty
};

//! The summary path of an output folder.
std::filesystem::path summaryPath(const std::filesystem::path& outputFolder);

//! Writes the summary into its output folder, replacing any earlier one without ever showing a
//! partial file. False, with errno's text in error, when it cannot be written.
bool writeSummary(const SequenceSummary& summary, std::string& error);

//! Reads the summary of an output folder; nothing when it is missing or not a summary (the
//! reason goes to error, empty when the file is simply absent).
std::optional<SequenceSummary> readSummary(const std::filesystem::path& outputFolder,
                                           std::string& error);

}  // namespace krell::batch
