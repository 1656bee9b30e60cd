// Host stand-in for the TensorRT base types and callback interfaces that cloud_denoiser uses.
// Plain value types and abstract classes only; the builder and runtime live in NvInfer*.h.
// Layouts and enumerator values follow TensorRT 8.6 so that code written against this header
// also builds against the vendor's runtime on machines that have it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nvinfer1 {

using AsciiChar = char;

//! Element types of tensors and weights; values are the ones TensorRT stores in engines.
enum class DataType : int32_t {
    kFLOAT = 0,  //!< IEEE 754 single precision
    kHALF = 1,   //!< IEEE 754 half precision
    kINT8 = 2,   //!< signed 8-bit, quantised with a dynamic range
    kINT32 = 3,  //!< signed 32-bit integer
    kBOOL = 4,   //!< 8-bit boolean
    kUINT8 = 5,  //!< unsigned 8-bit
    kFP8 = 6,    //!< 8-bit float (not produced by this stand-in)
};

//! A tensor shape of up to MAX_DIMS extents. Unused entries are kept at 0.
class Dims32 {
public:
    static constexpr int32_t MAX_DIMS{8};
    int32_t nbDims{0};      //!< number of valid entries in d; -1 marks an invalid shape
    int32_t d[MAX_DIMS]{};  //!< extents, outermost first
};
using Dims = Dims32;

//! Two-dimensional shape.
class Dims2 : public Dims {
public:
    Dims2() { nbDims = 2; }
    Dims2(int32_t d0, int32_t d1) {
        nbDims = 2;
        d[0] = d0;
        d[1] = d1;
    }
};

//! Height and width.
class DimsHW : public Dims2 {
public:
    DimsHW() = default;
    DimsHW(int32_t height, int32_t width) : Dims2(height, width) {}
    int32_t& h() { return d[0]; }
    int32_t h() const { return d[0]; }
    int32_t& w() { return d[1]; }
    int32_t w() const { return d[1]; }
};

//! Three-dimensional shape.
class Dims3 : public Dims2 {
public:
    Dims3() { nbDims = 3; }
    Dims3(int32_t d0, int32_t d1, int32_t d2) : Dims2(d0, d1) {
        nbDims = 3;
        d[2] = d2;
    }
};

//! Four-dimensional shape (N, C, H, W in this program).
class Dims4 : public Dims3 {
public:
    Dims4() { nbDims = 4; }
    Dims4(int32_t d0, int32_t d1, int32_t d2, int32_t d3) : Dims3(d0, d1, d2) {
        nbDims = 4;
        d[3] = d3;
    }
};

//! Memory layouts of network inputs and outputs. A set of formats is a bit mask 1 << format.
enum class TensorFormat : int32_t {
    kLINEAR = 0,
    kCHW2 = 1,
    kHWC8 = 2,
    kCHW4 = 3,
    kCHW16 = 4,
    kCHW32 = 5,
    kDHWC8 = 6,
    kCDHW32 = 7,
    kHWC = 8,
    kDLA_LINEAR = 9,
    kDLA_HWC4 = 10,
    kHWC16 = 11,
    kDHWC = 12,
};
using TensorFormats = uint32_t;

//! Which shape of an optimisation profile a query refers to.
enum class OptProfileSelector : int32_t {
    kMIN = 0,
    kOPT = 1,
    kMAX = 2,
};

//! Receives the builder's and runtime's diagnostics. Implementations must be thread-safe when
//! shared between objects that run concurrently.
class ILogger {
public:
    //! Lower values are more severe.
    enum class Severity : int32_t {
        kINTERNAL_ERROR = 0,
        kERROR = 1,
        kWARNING = 2,
        kINFO = 3,
        kVERBOSE = 4,
    };

    //! Called with one finished message; msg is only valid for the duration of the call.
    virtual void log(Severity severity, AsciiChar const* msg) noexcept = 0;

    ILogger() = default;
    virtual ~ILogger() = default;
    ILogger(ILogger const&) = default;
    ILogger& operator=(ILogger const&) & = default;
};

//! Error categories reported to an IErrorRecorder.
enum class ErrorCode : int32_t {
    kSUCCESS = 0,
    kUNSPECIFIED_ERROR = 1,
    kINTERNAL_ERROR = 2,
    kINVALID_ARGUMENT = 3,
    kINVALID_CONFIG = 4,
    kFAILED_ALLOCATION = 5,
    kFAILED_INITIALIZATION = 6,
    kFAILED_EXECUTION = 7,
    kFAILED_COMPUTATION = 8,
    kINVALID_STATE = 9,
    kUNSUPPORTED_STATE = 10,
};

//! Collects errors raised inside the runtime. The runtime may call it from its own threads, so
//! implementations serialise access. Reference counting lets several objects share one recorder.
class IErrorRecorder {
public:
    using ErrorDesc = char const*;
    using RefCount = int32_t;
    static constexpr size_t kMAX_DESC_LENGTH{127U};

    IErrorRecorder() = default;
    virtual ~IErrorRecorder() noexcept = default;

    //! Number of errors recorded since the last clear.
    virtual int32_t getNbErrors() const noexcept = 0;
    //! Code of error errorIdx; an out-of-range index yields kINVALID_ARGUMENT.
    virtual ErrorCode getErrorCode(int32_t errorIdx) const noexcept = 0;
    //! Description of error errorIdx, owned by the recorder and valid until the next clear.
    virtual ErrorDesc getErrorDesc(int32_t errorIdx) const noexcept = 0;
    //! True when errors were dropped because the recorder was full.
    virtual bool hasOverflowed() const noexcept = 0;
    //! Discards every recorded error.
    virtual void clear() noexcept = 0;
    //! Records one error; desc is copied. Returns true when the error is fatal to the caller.
    virtual bool reportError(ErrorCode val, ErrorDesc desc) noexcept = 0;
    //! Adds one reference and returns the new count.
    virtual RefCount incRefCount() noexcept = 0;
    //! Drops one reference and returns the new count.
    virtual RefCount decRefCount() noexcept = 0;

protected:
    IErrorRecorder(IErrorRecorder const&) = default;
    IErrorRecorder& operator=(IErrorRecorder const&) & = default;
};

//! Receives one timing per layer per inference pass, in execution order.
class IProfiler {
public:
    //! layerName is only valid for the duration of the call; ms is the layer's run time.
    virtual void reportLayerTime(char const* layerName, float ms) noexcept = 0;
    virtual ~IProfiler() noexcept = default;
};

}  // namespace nvinfer1
