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

private:
    struct Private;
    std::shared_ptr<Private> d_;
};

}  // namespace krell
