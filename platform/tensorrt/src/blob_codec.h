// The engine blob: how a checked Graph is stored and read back.
//
// Layout (all integers little-endian, floats as their IEEE-754 bit patterns):
//   offset  0  4 bytes  magic "KTRE"
//   offset  4  u32      format version (kFormatVersion)
//   offset  8  u64      payload size in bytes (the blob is exactly header + payload)
//   offset 16  u64      FNV-1a 64-bit checksum of the payload
//   offset 24  u32      NV_TENSORRT_VERSION of the writer (informational)
//   offset 28  u32      reserved, 0
//   offset 32  payload:
//     graph     str name, i32 max batch, u32 builder flags
//     tensors   u32 count, then per tensor: str name, dims, i32 data type, u8 has dynamic range,
//               f32 range min, f32 range max, u32 allowed formats
//     bindings  u32 count + i32 tensor index each, for the inputs, then the same for the outputs
//     layers    u32 count, then per layer: i32 kind, str name, ivec inputs, ivec outputs,
//               i32 precision, u8 precision set, i32 output type, u8 output type set,
//               i32 output maps, i32 groups, dims kernel, stride, pre-padding, post-padding,
//               dilation, fvec kernel weights, fvec bias, i32 activation, f32 alpha, f32 beta,
//               i32 pooling type, u8 average excludes padding, i32 axis, i32 element-wise op,
//               u32 softmax axes, i32 resize mode, fvec scales, dims resize dimensions,
//               u8 has transpose, 8 x i32 permutation, u8 has reshape, dims reshape
//   where str = u32 length + bytes, dims = i32 count + 8 x i32 extents, ivec/fvec = u32 count +
//   elements. Weights are float32 whatever type they were given in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tensorrt/src/graph.h"

namespace trt_host {

//! Encodes and decodes engine blobs. Stateless; any thread.
class BlobCodec {
public:
    static constexpr uint32_t kFormatVersion = 1;
    static constexpr std::size_t kHeaderBytes = 32;
    static constexpr char kMagic[4] = {'K', 'T', 'R', 'E'};

    //! The blob of a graph that passed ShapeInference::check.
    static std::vector<uint8_t> encode(const Graph& graph);

    //! Reads a blob into graph and re-checks it with ShapeInference. Returns false with a
    //! one-line reason for a truncated, corrupt, foreign or inconsistent blob; never reads past size.
    static bool decode(const void* blob, std::size_t size, Graph& graph, std::string& error);

    //! FNV-1a 64-bit hash of bytes.
    static uint64_t checksum(const uint8_t* bytes, std::size_t size);
};

}  // namespace trt_host
