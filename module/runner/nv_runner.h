// NvRunner: a runner on CUDA device 0 with one non-blocking stream, at the model's stream
// priority, shared by all its engines and processors.
#pragma once

#include "module/runner/runner.h"

namespace krell::det {

class NvRunner : public Runner {
public:
    //! Selects device 0 and creates the stream (CUDA failures are logged by the CUDA check).
    explicit NvRunner(const ModelParameter& parameter);

    //! Hands the first stream to every engine and processor.
    void setStreams() override;
};

}  // namespace krell::det
