// The cloud_denoiser command line: path rules, frame reading and quantisation, the pipeline run
// and the result files. Standard output carries exactly the program's specified lines; progress
// and the skip summary go to standard error.
#pragma once

namespace krell {

//! Exit codes beyond the usage error (1).
constexpr int kExitPathError = 2;
constexpr int kExitFramesSkipped = 3;
constexpr int kExitInitFailed = 4;

//! Runs the program with its arguments. 0 when every frame was written. File-system query
//! failures raise std::filesystem::filesystem_error; pipeline set-up may raise the framework's
//! exceptions. Call from the main thread.
int runCloudDenoiser(int argc, char** argv);

}  // namespace krell
