#include "module/engine/nvidia/cuda_check.h"

#include "module/common/log.h"

namespace krell::det {

bool checkCuda(cudaError_t code, const char* file, int line, const char* signature) {
    if (code == cudaSuccess) {
        return true;  // the common case formats nothing
    }
    LogLine(kLogError, sourceNameOf(file), line, qualifiedFunctionName(signature)).stream()
        << "Cuda Runtime Assert: cuda error code " << static_cast<int>(code) << ", "
        << cudaGetErrorString(code) << " " << file << ":" << line << kLogReset;
    return false;
}

}  // namespace krell::det
