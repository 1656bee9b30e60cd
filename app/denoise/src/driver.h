// The cloud_denoiser command line: path rules, frame reading and quantisation, the pipeline run
// and the result files. Standard output carries the program's per-file lines; progress and the
// closing summary go to standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace krell {

//! Exit codes beyond the usage error (1).
constexpr int kExitPathError = 2;
//! Some frame produced no result file: unreadable or short input, a failed inference, or a
//! result that could not be written. The frames that did run are still written.
constexpr int kExitFramesSkipped = 3;
constexpr int kExitInitFailed = 4;

//! Runs one quantised frame (frame::kQuantizedFrameBytes) into a prediction
//! (frame::kResultBytes); 0 on success, anything else leaves the prediction unusable. In the
//! program this is Denoise::Run.
using FrameInference = std::function<int32_t(const int8_t* quantized, uint8_t* prediction)>;

//! Runs the program with its arguments. 0 when every frame was written. File-system query
//! failures raise std::filesystem::filesystem_error; pipeline set-up may raise the framework's
//! exceptions. Call from the main thread.
int runCloudDenoiser(int argc, char** argv);

//! The path rules and the frame loop of the program over input (a frame file or a folder of
//! them) into output, each frame through infer, which is called from the calling thread only.
//! Returns the program's exit code (0, kExitPathError or kExitFramesSkipped).
int processPaths(const FrameInference& infer, const std::string& input, const std::string& output);

}  // namespace krell
