// Denoise: the denoise pipeline of cloud_denoiser. Init loads the parameter file, builds the
// engine file when it is missing and wires a quantised point-cloud holder to the network's
// buffers; Run pushes one quantised frame through the network and carries the recurrent state
// to the next frame on the GPU. One thread drives a pipeline; frames run one at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace krell {

class Denoise {
public:
    //! How the recurrent state of one frame becomes the next frame's input. kSwap exchanges
    //! the memory of the two state bindings (no data moves); kCopy copies "hidden_update" into
    //! "hidden_features" on the stream. kSwap copies instead where an exchange is not safe (the
    //! state buffers are shared with another engine, or held in place of the engine's own).
    enum class StateHandoff { kSwap, kCopy };

    //! Loads configPath (e.g. "config/test.json") and prepares the runner with a stream of the
    //! given priority fraction. False, after a level-1 line, when the file cannot be opened or
    //! the engine file can neither be found nor built. Unknown classes or malformed parameters
    //! raise the framework's exceptions (std::out_of_range, the JSON library's errors).
    bool Init(const std::string& configPath, int32_t priority);

    //! Runs one frame: input is a host frame of the input binding's size (655360 bytes),
    //! output a host area of at least the prediction's size (163840 bytes). Returns the
    //! runner's status (0 on success, and -1 before a successful Init). The prediction is in
    //! output when Run returns.
    int32_t Run(const void* input, void* output);

    //! True when the model carries a recurrent state ("hidden_features").
    bool recurrent() const;

    //! Chooses the state handoff of later Runs (kSwap by default); any time, same thread.
    void setStateHandoff(StateHandoff handoff) { handoff_ = handoff; }

private:
    struct Private;
    std::shared_ptr<Private> d_;
    StateHandoff handoff_ = StateHandoff::kSwap;
};

}  // namespace krell
