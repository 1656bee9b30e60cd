// The algorithm selector the network builder installs: it allows every offered algorithm.
#pragma once

#include <cstdint>

#include "NvInferAlgorithm.h"

namespace krell::det {

class DetAlgorithmSelector : public nvinfer1::IAlgorithmSelector {
public:
    //! Writes 0 .. nbChoices-1 into selection and returns nbChoices (0 for a negative count or a
    //! null selection). Stateless, so any thread may call it.
    int32_t selectAlgorithms(const nvinfer1::IAlgorithmContext& context,
                             const nvinfer1::IAlgorithm* const* choices, int32_t nbChoices,
                             int32_t* selection) noexcept override;
    //! Ignores the report.
    void reportAlgorithms(const nvinfer1::IAlgorithmContext* const* algoContexts,
                          const nvinfer1::IAlgorithm* const* algoChoices,
                          int32_t nbAlgorithms) noexcept override;
};

}  // namespace krell::det
