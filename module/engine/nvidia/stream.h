// CUDAStreams: the CUDA streams of one runner. Streams it created are destroyed by it; streams
// marked borrowed belong to someone else. One thread uses the object.
#pragma once

#include <cuda_runtime_api.h>

#include <cstdint>
#include <vector>

namespace krell::det {

class CUDAStreams {
public:
    CUDAStreams() = default;
    //! Destroys the streams this object created.
    ~CUDAStreams();
    CUDAStreams(const CUDAStreams&) = delete;
    CUDAStreams& operator=(const CUDAStreams&) = delete;

    //! Destroys the current own streams and creates count new ones with flags, at priority
    //! least + fraction x (greatest - least) of the device's range. A fraction outside [0, 1]
    //! logs and uses 0. CUDA failures are logged by the CUDA check.
    void resize(uint32_t count, unsigned int flags, float priorityFraction);
    //! The stream at index; an index past the end logs and yields the null (default) stream.
    cudaStream_t operator[](uint32_t index) const;
    uint32_t size() const { return static_cast<uint32_t>(streams_.size()); }

private:
    void destroyOwn();

    std::vector<cudaStream_t> streams_;
    std::vector<bool> borrowed_;
};

}  // namespace krell::det
