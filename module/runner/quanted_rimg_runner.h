// QuantedRimgRunner: the denoise runner; a run is one inference of the engine named "rimg".
#pragma once

#include "module/runner/nv_runner.h"

namespace krell::det {

class QuantedRimgRunner : public NvRunner {
public:
    using NvRunner::NvRunner;

    //! Queues the inference of engine "rimg" on the runner's stream. 0 when queued; 1 when the
    //! engine is missing or fails (nothing is thrown).
    int32_t run() override;

    //! True once the class is registered with RunnerFactory (set during static initialisation).
    static bool registered() { return registered_; }

private:
    static const bool registered_;
};

}  // namespace krell::det
