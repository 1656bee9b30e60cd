// Host stand-in for the TensorRT builder subset cloud_denoiser uses: a network definition of
// convolution-style layers, a builder configuration and a builder that compiles the network into
// an engine blob which the runtime of NvInferRuntime.h executes on the CPU.
#pragma once

#include <cstdint>

#include "NvInferAlgorithm.h"
#include "NvInferRuntime.h"
#include "NvInferRuntimeBase.h"

namespace nvinfer1 {

//! Kinds of network layers. The stand-in builds convolution, deconvolution, activation, pooling,
//! concatenation, element-wise, softmax, resize and shuffle layers.
enum class LayerType : int32_t {
    kCONVOLUTION = 0,
    kFULLY_CONNECTED = 1,
    kACTIVATION = 2,
    kPOOLING = 3,
    kLRN = 4,
    kSCALE = 5,
    kSOFTMAX = 6,
    kDECONVOLUTION = 7,
    kCONCATENATION = 8,
    kELEMENTWISE = 9,
    kPLUGIN = 10,
    kUNARY = 11,
    kPADDING = 12,
    kSHUFFLE = 13,
    kREDUCE = 14,
    kTOPK = 15,
    kGATHER = 16,
    kMATRIX_MULTIPLY = 17,
    kRAGGED_SOFTMAX = 18,
    kCONSTANT = 19,
    kRNN_V2 = 20,
    kIDENTITY = 21,
    kPLUGIN_V2 = 22,
    kSLICE = 23,
    kSHAPE = 24,
    kPARAMETRIC_RELU = 25,
    kRESIZE = 26,
};

//! Activation functions; alpha and beta are the layer's two parameters (both 0 by default).
enum class ActivationType : int32_t {
    kRELU = 0,        //!< max(x, 0)
    kSIGMOID = 1,     //!< 1 / (1 + exp(-x))
    kTANH = 2,        //!< tanh(x)
    kLEAKY_RELU = 3,  //!< x >= 0 ? x : alpha * x
    kELU = 4,         //!< x >= 0 ? x : alpha * (exp(x) - 1)
    kSELU = 5,
    kSOFTSIGN = 6,
    kSOFTPLUS = 7,
    kCLIP = 8,  //!< min(max(x, alpha), beta)
    kHARD_SIGMOID = 9,
    kSCALED_TANH = 10,
    kTHRESHOLDED_RELU = 11,
};

//! Pooling kinds.
enum class PoolingType : int32_t {
    kMAX = 0,
    kAVERAGE = 1,
    kMAX_AVERAGE_BLEND = 2,
};

//! Binary element-wise operations; the second input may broadcast over extents of 1.
enum class ElementWiseOperation : int32_t {
    kSUM = 0,
    kPROD = 1,
    kMAX = 2,
    kMIN = 3,
    kSUB = 4,  //!< first - second
    kDIV = 5,  //!< first / second
    kPOW = 6,
    kFLOOR_DIV = 7,
    kAND = 8,
    kOR = 9,
    kXOR = 10,
    kEQUAL = 11,
    kGREATER = 12,
    kLESS = 13,
};

//! Interpolation of a resize layer. Nearest picks source index floor(out / scale).
enum class InterpolationMode : int32_t {
    kNEAREST = 0,
    kLINEAR = 1,
    kCUBIC = 2,
};
using ResizeMode = InterpolationMode;

//! Builder switches. How kINT8 and kFP16 engines store the tensors between layers, whichever
//! kernels compute them:
//!  - kINT8: every tensor with a dynamic range [min, max] is stored as int8 where it is produced:
//!    q = x / s with s = max(|min|, |max|) / 127 (in float), rounded half away from zero,
//!    saturated to -128..127, NaN to 0; the next layer reads q * s. A float network input with a
//!    range is read that way too. Tensors without a range stay float. An INT8 network input or
//!    output without a usable range fails the build ("Error Code 4").
//!  - kFP16: every other tensor that is neither a network input nor a network output is stored
//!    as IEEE half (round to nearest even); the layers compute in float on those values.
//!  - An activation fused into the convolution before it skips storing the convolution's output,
//!    as a GPU does; that happens only where storing it would change nothing (ReLU at the same
//!    int8 scale), so every range set still takes effect.
//! Weights stay float in either mode except in the kHOST_INT8_COMPUTE kernels.
enum class BuilderFlag : int32_t {
    kFP16 = 0,
    kINT8 = 1,
    kDEBUG = 2,
    kGPU_FALLBACK = 3,
    kSTRICT_TYPES = 4,
    kREFIT = 5,
    kDISABLE_TIMING_CACHE = 6,
    kTF32 = 7,
    kSPARSE_WEIGHTS = 8,
    kSAFETY_SCOPE = 9,
    kOBEY_PRECISION_CONSTRAINTS = 10,
    kPREFER_PRECISION_CONSTRAINTS = 11,
    kDIRECT_IO = 12,
    kREJECT_EMPTY_ALGORITHMS = 13,
    //! Stand-in only (never needed outside platform/): with kINT8 also set, convolutions of one
    //! group whose input has a dynamic range compute in int8 (input at its range, weights per
    //! output channel, float accumulation). Off, they compute in float on the stored values.
    kHOST_INT8_COMPUTE = 30,
};
using BuilderFlags = uint32_t;

//! Where a layer runs by default. The stand-in runs everything on the CPU.
enum class DeviceType : int32_t {
    kGPU = 0,
    kDLA = 1,
};

//! Memory pools whose limits a configuration records.
enum class MemoryPoolType : int32_t {
    kWORKSPACE = 0,
    kDLA_MANAGED_SRAM = 1,
    kDLA_LOCAL_DRAM = 2,
    kDLA_GLOBAL_DRAM = 3,
};

//! Network creation switches (a mask of 1 << flag).
enum class NetworkDefinitionCreationFlag : int32_t {
    kEXPLICIT_BATCH = 0,
    kEXPLICIT_PRECISION = 1,
};
using NetworkDefinitionCreationFlags = uint32_t;

//! Axis order of a transpose: output axis i takes input axis order[i].
class Permutation {
public:
    int32_t order[Dims::MAX_DIMS];
};

class ILayer;

//! A tensor of a network definition, owned by the network.
class ITensor {
public:
    virtual void setName(char const* name) noexcept = 0;
    //! Name owned by the tensor.
    virtual char const* getName() const noexcept = 0;
    //! Only network inputs accept new dimensions.
    virtual void setDimensions(Dims dimensions) noexcept = 0;
    //! Shape, inferred from the producing layer; nbDims -1 when the network is inconsistent there.
    virtual Dims getDimensions() const noexcept = 0;
    virtual void setType(DataType type) noexcept = 0;
    virtual DataType getType() const noexcept = 0;
    //! Sets the range used to quantise the tensor to INT8; false (unchanged) when min > max.
    virtual bool setDynamicRange(float min, float max) noexcept = 0;
    virtual bool dynamicRangeIsSet() const noexcept = 0;
    virtual void resetDynamicRange() noexcept = 0;
    virtual float getDynamicRangeMin() const noexcept = 0;
    virtual float getDynamicRangeMax() const noexcept = 0;
    virtual bool isNetworkInput() const noexcept = 0;
    virtual bool isNetworkOutput() const noexcept = 0;
    //! Formats allowed for a network I/O tensor (mask of 1 << TensorFormat).
    virtual void setAllowedFormats(TensorFormats formats) noexcept = 0;
    virtual TensorFormats getAllowedFormats() const noexcept = 0;
    //! True for tensors that carry data at run time (all tensors of the stand-in).
    virtual bool isExecutionTensor() const noexcept = 0;
    virtual bool isShapeTensor() const noexcept = 0;

protected:
    virtual ~ITensor() noexcept = default;
};

//! A layer of a network definition, owned by the network.
class ILayer {
public:
    virtual LayerType getType() const noexcept = 0;
    virtual void setName(char const* name) noexcept = 0;
    virtual char const* getName() const noexcept = 0;
    virtual int32_t getNbInputs() const noexcept = 0;
    //! Input index, or null for an invalid index.
    virtual ITensor* getInput(int32_t index) const noexcept = 0;
    virtual int32_t getNbOutputs() const noexcept = 0;
    //! Output index, or null for an invalid index.
    virtual ITensor* getOutput(int32_t index) const noexcept = 0;
    //! Replaces input index (ignored for an invalid index).
    virtual void setInput(int32_t index, ITensor& tensor) noexcept = 0;
    //! Preferred compute precision; recorded (storage follows the builder flags, see BuilderFlag).
    virtual void setPrecision(DataType dataType) noexcept = 0;
    virtual DataType getPrecision() const noexcept = 0;
    virtual bool precisionIsSet() const noexcept = 0;
    virtual void resetPrecision() noexcept = 0;
    //! Preferred type of output index; recorded.
    virtual void setOutputType(int32_t index, DataType dataType) noexcept = 0;
    virtual DataType getOutputType(int32_t index) const noexcept = 0;
    virtual bool outputTypeIsSet(int32_t index) const noexcept = 0;
    virtual void resetOutputType(int32_t index) noexcept = 0;

protected:
    virtual ~ILayer() noexcept = default;
};

//! N-D convolution. Kernel weights are laid out [out maps][in channels / groups][spatial...].
class IConvolutionLayer : public ILayer {
public:
    virtual void setNbOutputMaps(int32_t nbOutputMaps) noexcept = 0;
    virtual int32_t getNbOutputMaps() const noexcept = 0;
    virtual void setNbGroups(int32_t nbGroups) noexcept = 0;
    virtual int32_t getNbGroups() const noexcept = 0;
    virtual void setKernelWeights(Weights weights) noexcept = 0;
    virtual Weights getKernelWeights() const noexcept = 0;
    //! Empty weights (count 0) mean no bias.
    virtual void setBiasWeights(Weights weights) noexcept = 0;
    virtual Weights getBiasWeights() const noexcept = 0;
    virtual void setKernelSizeNd(Dims kernelSize) noexcept = 0;
    virtual Dims getKernelSizeNd() const noexcept = 0;
    virtual void setStrideNd(Dims stride) noexcept = 0;
    virtual Dims getStrideNd() const noexcept = 0;
    //! Same padding before and after each spatial axis.
    virtual void setPaddingNd(Dims padding) noexcept = 0;
    virtual Dims getPaddingNd() const noexcept = 0;
    virtual void setPrePadding(Dims padding) noexcept = 0;
    virtual Dims getPrePadding() const noexcept = 0;
    virtual void setPostPadding(Dims padding) noexcept = 0;
    virtual Dims getPostPadding() const noexcept = 0;
    virtual void setDilationNd(Dims dilation) noexcept = 0;
    virtual Dims getDilationNd() const noexcept = 0;

protected:
    ~IConvolutionLayer() noexcept override = default;
};

//! N-D transposed convolution. Kernel weights are laid out [in channels][out maps / groups][spatial...].
class IDeconvolutionLayer : public ILayer {
public:
    virtual void setNbOutputMaps(int32_t nbOutputMaps) noexcept = 0;
    virtual int32_t getNbOutputMaps() const noexcept = 0;
    virtual void setNbGroups(int32_t nbGroups) noexcept = 0;
    virtual int32_t getNbGroups() const noexcept = 0;
    virtual void setKernelWeights(Weights weights) noexcept = 0;
    virtual Weights getKernelWeights() const noexcept = 0;
    virtual void setBiasWeights(Weights weights) noexcept = 0;
    virtual Weights getBiasWeights() const noexcept = 0;
    virtual void setKernelSizeNd(Dims kernelSize) noexcept = 0;
    virtual Dims getKernelSizeNd() const noexcept = 0;
    virtual void setStrideNd(Dims stride) noexcept = 0;
    virtual Dims getStrideNd() const noexcept = 0;
    virtual void setPaddingNd(Dims padding) noexcept = 0;
    virtual Dims getPaddingNd() const noexcept = 0;
    virtual void setPrePadding(Dims padding) noexcept = 0;
    virtual Dims getPrePadding() const noexcept = 0;
    virtual void setPostPadding(Dims padding) noexcept = 0;
    virtual Dims getPostPadding() const noexcept = 0;
    virtual void setDilationNd(Dims dilation) noexcept = 0;
    virtual Dims getDilationNd() const noexcept = 0;

protected:
    ~IDeconvolutionLayer() noexcept override = default;
};

//! Element-wise activation.
class IActivationLayer : public ILayer {
public:
    virtual void setActivationType(ActivationType type) noexcept = 0;
    virtual ActivationType getActivationType() const noexcept = 0;
    virtual void setAlpha(float alpha) noexcept = 0;
    virtual float getAlpha() const noexcept = 0;
    virtual void setBeta(float beta) noexcept = 0;
    virtual float getBeta() const noexcept = 0;

protected:
    ~IActivationLayer() noexcept override = default;
};

//! N-D pooling over the spatial axes. Averages exclude padding unless told otherwise.
class IPoolingLayer : public ILayer {
public:
    virtual void setPoolingType(PoolingType type) noexcept = 0;
    virtual PoolingType getPoolingType() const noexcept = 0;
    virtual void setWindowSizeNd(Dims windowSize) noexcept = 0;
    virtual Dims getWindowSizeNd() const noexcept = 0;
    //! Defaults to the window size.
    virtual void setStrideNd(Dims stride) noexcept = 0;
    virtual Dims getStrideNd() const noexcept = 0;
    virtual void setPaddingNd(Dims padding) noexcept = 0;
    virtual Dims getPaddingNd() const noexcept = 0;
    virtual void setAverageCountExcludesPadding(bool exclusive) noexcept = 0;
    virtual bool getAverageCountExcludesPadding() const noexcept = 0;

protected:
    ~IPoolingLayer() noexcept override = default;
};

//! Concatenation along one axis (by default the channel axis, 1 for N-C-spatial tensors).
class IConcatenationLayer : public ILayer {
public:
    virtual void setAxis(int32_t axis) noexcept = 0;
    virtual int32_t getAxis() const noexcept = 0;

protected:
    ~IConcatenationLayer() noexcept override = default;
};

//! Binary element-wise operation.
class IElementWiseLayer : public ILayer {
public:
    virtual void setOperation(ElementWiseOperation op) noexcept = 0;
    virtual ElementWiseOperation getOperation() const noexcept = 0;

protected:
    ~IElementWiseLayer() noexcept override = default;
};

//! Softmax over exactly one axis, given as the bit mask 1 << axis (default: the channel axis).
class ISoftMaxLayer : public ILayer {
public:
    virtual void setAxes(uint32_t axes) noexcept = 0;
    virtual uint32_t getAxes() const noexcept = 0;

protected:
    ~ISoftMaxLayer() noexcept override = default;
};

//! Resize by per-axis scales or to fixed output dimensions.
class IResizeLayer : public ILayer {
public:
    virtual void setOutputDimensions(Dims dimensions) noexcept = 0;
    virtual Dims getOutputDimensions() const noexcept = 0;
    //! One scale per axis (output extent = floor(input extent * scale)).
    virtual void setScales(float const* scales, int32_t nbScales) noexcept = 0;
    //! Copies up to size scales into scales and returns how many there are (-1 when unset).
    virtual int32_t getScales(int32_t size, float* scales) const noexcept = 0;
    virtual void setResizeMode(InterpolationMode mode) noexcept = 0;
    virtual InterpolationMode getResizeMode() const noexcept = 0;

protected:
    ~IResizeLayer() noexcept override = default;
};

//! Transpose, then reshape. A reshape extent of 0 copies the input extent, -1 takes the rest.
class IShuffleLayer : public ILayer {
public:
    virtual void setFirstTranspose(Permutation permutation) noexcept = 0;
    virtual Permutation getFirstTranspose() const noexcept = 0;
    virtual void setReshapeDimensions(Dims dimensions) noexcept = 0;
    virtual Dims getReshapeDimensions() const noexcept = 0;

protected:
    ~IShuffleLayer() noexcept override = default;
};

//! A network being defined. Layers and tensors are owned by it and live as long as it does.
//! Every add* returns null, after a logger message, on invalid arguments.
class INetworkDefinition {
public:
    virtual ~INetworkDefinition() noexcept = default;
    virtual ITensor* addInput(char const* name, DataType type, Dims dimensions) noexcept = 0;
    virtual void markOutput(ITensor& tensor) noexcept = 0;
    virtual void unmarkOutput(ITensor& tensor) noexcept = 0;
    virtual IConvolutionLayer* addConvolutionNd(ITensor& input, int32_t nbOutputMaps,
                                                Dims kernelSize, Weights kernelWeights,
                                                Weights biasWeights) noexcept = 0;
    virtual IDeconvolutionLayer* addDeconvolutionNd(ITensor& input, int32_t nbOutputMaps,
                                                    Dims kernelSize, Weights kernelWeights,
                                                    Weights biasWeights) noexcept = 0;
    virtual IActivationLayer* addActivation(ITensor& input, ActivationType type) noexcept = 0;
    virtual IPoolingLayer* addPoolingNd(ITensor& input, PoolingType type,
                                        Dims windowSize) noexcept = 0;
    virtual IConcatenationLayer* addConcatenation(ITensor* const* inputs,
                                                  int32_t nbInputs) noexcept = 0;
    virtual IElementWiseLayer* addElementWise(ITensor& input1, ITensor& input2,
                                              ElementWiseOperation op) noexcept = 0;
    virtual ISoftMaxLayer* addSoftMax(ITensor& input) noexcept = 0;
    virtual IResizeLayer* addResize(ITensor& input) noexcept = 0;
    virtual IShuffleLayer* addShuffle(ITensor& input) noexcept = 0;
    virtual int32_t getNbLayers() const noexcept = 0;
    virtual ILayer* getLayer(int32_t index) const noexcept = 0;
    virtual int32_t getNbInputs() const noexcept = 0;
    virtual ITensor* getInput(int32_t index) const noexcept = 0;
    virtual int32_t getNbOutputs() const noexcept = 0;
    virtual ITensor* getOutput(int32_t index) const noexcept = 0;
    virtual bool hasImplicitBatchDimension() const noexcept = 0;
    virtual void setName(char const* name) noexcept = 0;
    virtual char const* getName() const noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

//! Build options. The algorithm selector is borrowed and must outlive the build.
class IBuilderConfig {
public:
    virtual ~IBuilderConfig() noexcept = default;
    virtual void setFlags(BuilderFlags flags) noexcept = 0;
    virtual BuilderFlags getFlags() const noexcept = 0;
    virtual void setFlag(BuilderFlag flag) noexcept = 0;
    virtual void clearFlag(BuilderFlag flag) noexcept = 0;
    virtual bool getFlag(BuilderFlag flag) const noexcept = 0;
    virtual void setAlgorithmSelector(IAlgorithmSelector* selector) noexcept = 0;
    virtual IAlgorithmSelector* getAlgorithmSelector() const noexcept = 0;
    //! Recorded; the stand-in runs everything on the CPU.
    virtual void setDLACore(int32_t dlaCore) noexcept = 0;
    virtual int32_t getDLACore() const noexcept = 0;
    virtual void setDefaultDeviceType(DeviceType deviceType) noexcept = 0;
    virtual DeviceType getDefaultDeviceType() const noexcept = 0;
    virtual void setMaxWorkspaceSize(std::size_t workspaceSize) noexcept = 0;
    virtual std::size_t getMaxWorkspaceSize() const noexcept = 0;
    //! Recorded only: the CPU runtime plans its own memory.
    virtual void setMemoryPoolLimit(MemoryPoolType pool, std::size_t poolSize) noexcept = 0;
    virtual std::size_t getMemoryPoolLimit(MemoryPoolType pool) const noexcept = 0;
    virtual void reset() noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

//! Creates networks and configurations and compiles networks into engine blobs.
class IBuilder {
public:
    virtual ~IBuilder() noexcept = default;
    virtual void setMaxBatchSize(int32_t batchSize) noexcept = 0;
    virtual int32_t getMaxBatchSize() const noexcept = 0;
    //! True: INT8 engines are supported on every CPU.
    virtual bool platformHasFastInt8() const noexcept = 0;
    //! True: FP16 engines are supported on every CPU.
    virtual bool platformHasFastFp16() const noexcept = 0;
    virtual int32_t getNbDLACores() const noexcept = 0;
    //! A new configuration; the caller owns it.
    virtual IBuilderConfig* createBuilderConfig() noexcept = 0;
    //! A new network; flags must contain kEXPLICIT_BATCH. The caller owns it; null on failure.
    virtual INetworkDefinition* createNetworkV2(NetworkDefinitionCreationFlags flags) noexcept = 0;
    //! Checks the network, infers its shapes, consults the algorithm selector and serialises the
    //! engine. The caller owns the result; null, after logger messages, for an inconsistent network.
    virtual IHostMemory* buildSerializedNetwork(INetworkDefinition& network,
                                                IBuilderConfig& config) noexcept = 0;
    //! buildSerializedNetwork, then deserialisation; the caller owns the engine. Null on failure.
    virtual ICudaEngine* buildEngineWithConfig(INetworkDefinition& network,
                                               IBuilderConfig& config) noexcept = 0;
    virtual ILogger* getLogger() const noexcept = 0;
    virtual void reset() noexcept = 0;
    //! Older spelling of delete.
    void destroy() noexcept { delete this; }
};

}  // namespace nvinfer1

//! Creates a builder reporting to logger (an nvinfer1::ILogger*, borrowed, must outlive the
//! builder and what it creates). Null, after a message, when version's major number is not ours.
extern "C" void* createInferBuilder_INTERNAL(void* logger, int32_t version) noexcept;

namespace nvinfer1 {

//! Creates a builder for this header's version; the caller owns it. Null on failure.
inline IBuilder* createInferBuilder(ILogger& logger) noexcept {
    return static_cast<IBuilder*>(createInferBuilder_INTERNAL(&logger, NV_TENSORRT_VERSION));
}

}  // namespace nvinfer1
