// Denoise: the denoise pipeline of cloud_denoiser. Init loads the parameter file, builds the
// engine file when it is missing and wires a quantised point-cloud holder to the network's
// buffers; Run pushes one quantised frame through the network and carries the recurrent state
// to the next frame on the GPU. One thread drives a pipeline; frames run one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "app/denoise/src/frame_quantizer.h"

namespace krell {

class Denoise {
public:
    //! How the recurrent state of one frame becomes the next frame's input. kSwap exchanges
    //! the memory of the two state bindings (no data moves); kCopy copies "hidden_update" into
    //! "hidden_features" on the stream. kSwap copies instead where an exchange is not safe (the
    //! state buffers are shared with another engine, or held in place of the engine's own).
    enum class StateHandoff { kSwap, kCopy };

    //! The host areas a caller hands to Run: one quantised frame in, one prediction out.
    struct HostAreas {
        size_t input_bytes = frame::kQuantizedFrameBytes;
        size_t output_bytes = frame::kResultBytes;
    };

    //! Loads configPath (e.g. "config/test.json") and prepares the runner with a stream of the
    //! given priority fraction. A missing engine file is built under a FileLock beside it, so
    //! processes started together build it once. False, after a level-1 line, when the file
    //! cannot be opened, the engine file can neither be found nor built, or the network's input
    //! or prediction binding differs in size from the matching host area (Run copies whole
    //! bindings, so a float16 engine would read and write past the caller's areas). Unknown
    //! classes or malformed parameters raise the framework's exceptions (std::out_of_range, the
    //! JSON library's errors; a missing "runner" is a JSON type error).
    bool Init(const std::string& configPath, int32_t priority, const HostAreas& areas);
    //! Init for the frame layout of cloud_denoiser (HostAreas' defaults).
    bool Init(const std::string& configPath, int32_t priority) {
        return Init(configPath, priority, HostAreas());
    }

    //! Runs one frame: input is a host frame of areas.input_bytes, output a host area of
    //! areas.output_bytes (the sizes Init checked). Returns the runner's status (0 on success,
    //! and -1 before a successful Init): a run the runner could not queue, or one that failed
    //! on the stream, is not 0. Output is unspecified unless it is 0, and a failed frame's
    //! recurrent state is not carried to the next frame. The prediction is in output when Run
    //! returns.
    int32_t Run(const void* input, void* output);

    //! True when the model carries a recurrent state ("hidden_features").
    bool recurrent() const;

    //! Seconds the last Init spent building the missing engine file, waiting for another
    //! process that was building it included; 0 when the file was there.
    double engineBuildSeconds() const { return engine_build_seconds_; }

    //! Chooses the state handoff of later Runs (kSwap by default); any time, same thread.
    void setStateHandoff(StateHandoff handoff) { handoff_ = handoff; }

private:
    struct Private;
    std::shared_ptr<Private> d_;
    StateHandoff handoff_ = StateHandoff::kSwap;
    double engine_build_seconds_ = 0.0;
};

}  // namespace krell
