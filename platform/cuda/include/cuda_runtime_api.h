// Host stand-in for the CUDA runtime subset cloud_denoiser calls. "Device" memory is host heap
// memory; every stream is a worker thread that runs its work in enqueue order.
//
// Stream model:
//  - A created stream owns one worker thread; asynchronous calls enqueue and return at once.
//    A thread that synchronizes a stream runs queued items itself while the worker is idle
//    (still one at a time, in order), which saves the hand-over between threads.
//  - The default stream (0 or cudaStreamLegacy) runs work on the calling thread, after waiting
//    for every blocking stream (created without cudaStreamNonBlocking) to drain, as CUDA's
//    legacy default stream does. Synchronous calls (cudaMemcpy, cudaMemset) use it.
//  - cudaFree and cudaDeviceSynchronize wait for every stream, so no queued copy can touch
//    freed memory.
// All functions may be called from any thread. Errors are also kept as the "last error".
#pragma once

#include "driver_types.h"

#ifdef __cplusplus
extern "C" {
#endif

//! Fixed English text of an error code; "unrecognized error code" for unknown values.
const char* cudaGetErrorString(cudaError_t error);
//! Enumerator name of an error code ("cudaErrorInvalidValue").
const char* cudaGetErrorName(cudaError_t error);
//! Returns and clears the last error recorded on this thread.
cudaError_t cudaGetLastError(void);
//! Returns the last error recorded on this thread without clearing it.
cudaError_t cudaPeekAtLastError(void);

//! One device (ordinal 0) exists; any other ordinal gives cudaErrorInvalidDevice.
cudaError_t cudaSetDevice(int device);
cudaError_t cudaGetDevice(int* device);
cudaError_t cudaGetDeviceCount(int* count);
//! Waits until every stream has drained.
cudaError_t cudaDeviceSynchronize(void);
//! Least (0) and greatest (-5) stream priority; lower numbers are more urgent.
cudaError_t cudaDeviceGetStreamPriorityRange(int* leastPriority, int* greatestPriority);

//! Allocates size bytes of device memory; *devPtr is null for size 0. Out of memory gives
//! cudaErrorMemoryAllocation.
cudaError_t cudaMalloc(void** devPtr, size_t size);
//! Waits for every stream, then frees memory from cudaMalloc; null is accepted. Anything else
//! (a pinned host block, an interior pointer, a freed block) gives cudaErrorInvalidValue.
cudaError_t cudaFree(void* devPtr);
//! Allocates pinned host memory: host memory to every check, freed only by cudaFreeHost.
cudaError_t cudaMallocHost(void** ptr, size_t size);
cudaError_t cudaFreeHost(void* ptr);

//! Copies on the default stream and returns when done. Checked as cudaMemcpyAsync.
cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, enum cudaMemcpyKind kind);
//! Queues a copy on stream; returns before it runs. Checked first, nothing queued on failure:
//! a device side must lie wholly inside one live cudaMalloc block, a host side outside every
//! such block, each as kind says (cudaMemcpyDefault infers both); otherwise, or for a null
//! pointer with count > 0, cudaErrorInvalidValue. An unknown kind gives
//! cudaErrorInvalidMemcpyDirection.
cudaError_t cudaMemcpyAsync(void* dst, const void* src, size_t count, enum cudaMemcpyKind kind,
                            cudaStream_t stream);
//! Sets count bytes of device memory; checked as cudaMemsetAsync.
cudaError_t cudaMemset(void* devPtr, int value, size_t count);
//! Queues a set on stream; [devPtr, devPtr + count) must lie inside one live cudaMalloc block,
//! otherwise cudaErrorInvalidValue and nothing queued.
cudaError_t cudaMemsetAsync(void* devPtr, int value, size_t count, cudaStream_t stream);

cudaError_t cudaStreamCreate(cudaStream_t* pStream);
cudaError_t cudaStreamCreateWithFlags(cudaStream_t* pStream, unsigned int flags);
//! A priority outside the range is clamped into it, as CUDA does.
cudaError_t cudaStreamCreateWithPriority(cudaStream_t* pStream, unsigned int flags, int priority);
cudaError_t cudaStreamGetPriority(cudaStream_t hStream, int* priority);
cudaError_t cudaStreamGetFlags(cudaStream_t hStream, unsigned int* flags);
//! Lets queued work finish, then releases the stream. Unknown handles give
//! cudaErrorInvalidResourceHandle.
cudaError_t cudaStreamDestroy(cudaStream_t stream);
//! Blocks until all work queued on stream so far has run.
cudaError_t cudaStreamSynchronize(cudaStream_t stream);
//! cudaSuccess when the stream is idle, cudaErrorNotReady while work is queued.
cudaError_t cudaStreamQuery(cudaStream_t stream);
//! Queues fn(userData) on stream, ordered with the stream's other work. fn runs on the stream's
//! worker or on a thread waiting for the stream; it must not destroy its own stream, and a wait
//! for its own stream from inside fn fails with cudaErrorNotSupported.
cudaError_t cudaLaunchHostFunc(cudaStream_t stream, cudaHostFn_t fn, void* userData);
//! Makes later work on stream wait until event's recorded point has been reached.
cudaError_t cudaStreamWaitEvent(cudaStream_t stream, cudaEvent_t event, unsigned int flags);

cudaError_t cudaEventCreate(cudaEvent_t* event);
cudaError_t cudaEventCreateWithFlags(cudaEvent_t* event, unsigned int flags);
cudaError_t cudaEventDestroy(cudaEvent_t event);
//! Marks the point in stream reached once all work queued before it has run.
cudaError_t cudaEventRecord(cudaEvent_t event, cudaStream_t stream);
cudaError_t cudaEventSynchronize(cudaEvent_t event);
cudaError_t cudaEventQuery(cudaEvent_t event);
//! Milliseconds between two completed events.
cudaError_t cudaEventElapsedTime(float* ms, cudaEvent_t start, cudaEvent_t end);

#ifdef __cplusplus
}
#endif
