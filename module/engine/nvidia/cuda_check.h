// The CUDA return-code check: a failed call is logged with the code, CUDA's text and the call
// site, and the caller carries on.
#pragma once

#include <cuda_runtime_api.h>

namespace krell::det {

//! Returns true for cudaSuccess. Otherwise logs "Cuda Runtime Assert: cuda error code ..." at
//! level 1 with a header naming the calling function (signature as __PRETTY_FUNCTION__ gives it)
//! and returns false. Any thread.
bool checkCuda(cudaError_t code, const char* file, int line, const char* signature);

}  // namespace krell::det

//! Checks the result of one CUDA runtime call made in the current function.
#define DET_CUDA_CHECK(call) \
    ::krell::det::checkCuda((call), __FILE__, __LINE__, __PRETTY_FUNCTION__)
