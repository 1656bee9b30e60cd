// The checks a batch makes before any task runs: every manifest line names folders a task can
// use, and the model that every task loads is there.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/src/manifest.h"

namespace krell::batch {

//! The parameter file every task reads, from its working directory (as cloud_denoiser does).
constexpr const char* kConfigPath = "config/test.json";

//! Problems of the entries on disk, one per line at most: the input is not a folder, the output
//! is not a folder or cannot be written (or created), input and output are the same folder, or
//! two lines share an output folder (their results would overwrite each other).
std::vector<ManifestProblem> checkEntries(const std::vector<ManifestEntry>& entries);

//! The model files named by the parameter file of the current directory.
struct ModelFiles {
    std::filesystem::path net;     //!< network file, as written in the parameter file
    std::filesystem::path engine;  //!< engine file, as written in the parameter file
    bool engine_present = false;
    std::vector<std::string> problems;  //!< empty when a task can start

    bool ok() const { return problems.empty(); }
};

//! Reads kConfigPath from the current directory: it must parse, and name a network file that
//! exists unless the engine file is already there.
ModelFiles checkModel();

//! Loads the manifest and prints each of its problems to standard error (with onDisk, the
//! problems of checkEntries too). Nothing when there was any problem.
std::optional<Manifest> loadCheckedManifest(const std::filesystem::path& path, bool onDisk);

//! What plan and submit both need before anything else: the manifest with its folders checked
//! and a usable model. Prints every problem of either to standard error; the exit code for the
//! first kind found (kExitManifest, then kExitModel) or 0.
int checkManifestAndModel(const std::filesystem::path& manifestPath,
                          std::optional<Manifest>& manifest, ModelFiles& model);

}  // namespace krell::batch
