#include "module/engine/nvidia/det_algorithm_selector.h"

namespace krell::det {

int32_t DetAlgorithmSelector::selectAlgorithms(const nvinfer1::IAlgorithmContext& /*context*/,
                                               const nvinfer1::IAlgorithm* const* /*choices*/,
                                               int32_t nbChoices, int32_t* selection) noexcept {
    if (selection == nullptr || nbChoices <= 0) {
        return 0;
    }
    for (int32_t i = 0; i < nbChoices; ++i) {
        selection[i] = i;
    }
    return nbChoices;
}

void DetAlgorithmSelector::reportAlgorithms(
    const nvinfer1::IAlgorithmContext* const* /*algoContexts*/,
    const nvinfer1::IAlgorithm* const* /*algoChoices*/, int32_t /*nbAlgorithms*/) noexcept {}

}  // namespace krell::det
