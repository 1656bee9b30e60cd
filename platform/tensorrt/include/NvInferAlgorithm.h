// Host stand-in for the algorithm-selection interfaces of the TensorRT builder. The builder
// offers a list of candidate implementations per layer; a selector picks which ones it may use.
#pragma once

#include "NvInferRuntimeBase.h"

namespace nvinfer1 {

//! Format, type and strides of one input or output of a candidate implementation.
class IAlgorithmIOInfo {
public:
    virtual ~IAlgorithmIOInfo() noexcept = default;
    //! Memory layout the implementation expects.
    virtual TensorFormat getTensorFormat() const noexcept = 0;
    //! Element type the implementation expects.
    virtual DataType getDataType() const noexcept = 0;
    //! Strides in elements, outermost first.
    virtual Dims getStrides() const noexcept = 0;
};

//! Identifies one implementation: a kernel family and a tactic within it.
class IAlgorithmVariant {
public:
    virtual ~IAlgorithmVariant() noexcept = default;
    virtual int64_t getImplementation() const noexcept = 0;
    virtual int64_t getTactic() const noexcept = 0;
};

//! The layer an algorithm choice is made for.
class IAlgorithmContext {
public:
    virtual ~IAlgorithmContext() noexcept = default;
    //! Name of the layer; owned by the builder.
    virtual char const* getName() const noexcept = 0;
    //! Shape of input (0..getNbInputs-1) or output (after the inputs) index for the profile
    //! point select; an invalid index gives nbDims -1.
    virtual Dims getDimensions(int32_t index, OptProfileSelector select) const noexcept = 0;
    virtual int32_t getNbInputs() const noexcept = 0;
    virtual int32_t getNbOutputs() const noexcept = 0;
};

//! One candidate implementation of a layer.
class IAlgorithm {
public:
    virtual ~IAlgorithm() noexcept = default;
    virtual IAlgorithmVariant const& getAlgorithmVariant() const noexcept = 0;
    //! Measured run time; -1 when it was not timed.
    virtual float getTimingMSec() const noexcept = 0;
    //! Scratch memory the implementation needs, in bytes.
    virtual size_t getWorkspaceSize() const noexcept = 0;
    //! I/O description of input or output index (inputs first); null for an invalid index.
    virtual IAlgorithmIOInfo const* getAlgorithmIOInfoByIndex(int32_t index) const noexcept = 0;
};

//! Chooses among the builder's candidate implementations; installed in the builder config.
class IAlgorithmSelector {
public:
    virtual ~IAlgorithmSelector() noexcept = default;
    //! Writes the indices (into choices) of the allowed candidates into selection, which has
    //! room for nbChoices entries, and returns how many were written. 0 lets the builder choose.
    virtual int32_t selectAlgorithms(IAlgorithmContext const& context,
                                     IAlgorithm const* const* choices, int32_t nbChoices,
                                     int32_t* selection) noexcept = 0;
    //! Tells the selector which candidate was finally used for each of nbAlgorithms layers.
    virtual void reportAlgorithms(IAlgorithmContext const* const* algoContexts,
                                  IAlgorithm const* const* algoChoices,
                                  int32_t nbAlgorithms) noexcept = 0;
};

}  // namespace nvinfer1
