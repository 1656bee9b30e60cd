// Host stand-in: the C++ layer over cuda_runtime_api.h (typed allocation helpers).
#pragma once

#include "cuda_runtime_api.h"

#ifdef __cplusplus
//! Typed form of cudaMalloc.
template <class T>
inline cudaError_t cudaMalloc(T** devPtr, size_t size) {
    return ::cudaMalloc(reinterpret_cast<void**>(devPtr), size);
}
//! Typed form of cudaMallocHost.
template <class T>
inline cudaError_t cudaMallocHost(T** ptr, size_t size) {
    return ::cudaMallocHost(reinterpret_cast<void**>(ptr), size);
}
#endif
