// The CUDA runtime entry points of the host stand-in. "Device" memory is host heap memory, so
// every copy is a plain memory copy once checked; what the layer adds is CUDA's checks and error
// reporting (the allocation registry stands in for the GPU's address space) and the ordering of
// work by streams (see cuda_runtime_api.h for the stream model).
#include <cuda_runtime.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/cuda/src/allocation_registry.h"
#include "platform/cuda/src/host_event.h"
#include "platform/cuda/src/host_stream.h"

using krell::cuda_host::AllocationRegistry;
using krell::cuda_host::HostEvent;
using krell::cuda_host::HostStream;
using krell::cuda_host::RangeKind;

namespace {

constexpr int kLeastStreamPriority = 0;
constexpr int kGreatestStreamPriority = -5;
constexpr size_t kAllocationAlignmentBytes = 256;

// Live handles. Lookups hand out shared pointers so a handle destroyed by one thread stays
// valid for a wait in progress on another.
struct Registry {
    std::mutex mutex;  // guards both maps
    std::unordered_map<const void*, std::shared_ptr<HostStream>> streams;
    std::unordered_map<const void*, std::shared_ptr<HostEvent>> events;
};

Registry& registry() {
    static Registry* instance = new Registry;  // never destroyed: streams may outlive statics
    return *instance;
}

thread_local cudaError_t t_last_error = cudaSuccess;

cudaError_t record(cudaError_t error) {
    if (error != cudaSuccess) {
        t_last_error = error;
    }
    return error;
}

bool isDefaultStream(cudaStream_t stream) {
    return stream == nullptr || stream == cudaStreamLegacy;
}

std::shared_ptr<HostStream> findStream(cudaStream_t stream) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.streams.find(stream);
    return it == reg.streams.end() ? nullptr : it->second;
}

std::shared_ptr<HostEvent> findEvent(cudaEvent_t event) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.events.find(event);
    return it == reg.events.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<HostStream>> snapshotStreams(bool blocking_only) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    std::vector<std::shared_ptr<HostStream>> result;
    for (const auto& entry : reg.streams) {
        if (!blocking_only || (entry.second->flags() & cudaStreamNonBlocking) == 0) {
            result.push_back(entry.second);
        }
    }
    return result;
}

// Waits for the given streams; a stream cannot wait for itself, so the caller's own is skipped.
void drain(const std::vector<std::shared_ptr<HostStream>>& streams) {
    for (const auto& stream : streams) {
        if (!stream->isCurrentWorker()) {
            stream->synchronize();
        }
    }
}

// Runs work in stream order: queued on a created stream, inline on the default stream once the
// blocking streams have drained.
cudaError_t submit(cudaStream_t stream, std::function<void()> work) {
    if (isDefaultStream(stream)) {
        drain(snapshotStreams(true));
        work();
        return cudaSuccess;
    }
    std::shared_ptr<HostStream> target = findStream(stream);
    if (!target) {
        return record(cudaErrorInvalidResourceHandle);
    }
    target->enqueue(std::move(work));
    return cudaSuccess;
}

bool validKind(cudaMemcpyKind kind) {
    return kind >= cudaMemcpyHostToHost && kind <= cudaMemcpyDefault;
}

// What a GPU refuses: a range past its allocation, or a side whose memory contradicts the kind
// (cudaMemcpyDefault takes each side's kind from where it lies).
bool copyAllowed(void* dst, const void* src, size_t count, cudaMemcpyKind kind) {
    const RangeKind to = krell::cuda_host::classifyRange(dst, count);
    const RangeKind from = krell::cuda_host::classifyRange(src, count);
    if (to == RangeKind::kOutOfBounds || from == RangeKind::kOutOfBounds) {
        return false;
    }
    const bool to_device = to == RangeKind::kDevice;
    const bool from_device = from == RangeKind::kDevice;
    switch (kind) {
        case cudaMemcpyHostToHost:
            return !to_device && !from_device;
        case cudaMemcpyHostToDevice:
            return to_device && !from_device;
        case cudaMemcpyDeviceToHost:
            return !to_device && from_device;
        case cudaMemcpyDeviceToDevice:
            return to_device && from_device;
        case cudaMemcpyDefault:
            return true;
    }
    return false;
}

size_t reservedBytes(size_t size) {
    return (size + kAllocationAlignmentBytes - 1) / kAllocationAlignmentBytes *
           kAllocationAlignmentBytes;
}

cudaError_t allocate(void** ptr, size_t size, bool device) {
    if (ptr == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    *ptr = nullptr;
    if (size == 0) {
        return cudaSuccess;
    }
    const size_t rounded = reservedBytes(size);
    if (rounded < size) {
        return record(cudaErrorMemoryAllocation);
    }
    void* memory = std::aligned_alloc(kAllocationAlignmentBytes, rounded);
    if (memory == nullptr) {
        return record(cudaErrorMemoryAllocation);
    }
    AllocationRegistry::instance().add(memory, size, rounded, device);
    *ptr = memory;
    return cudaSuccess;
}

cudaError_t release(void* ptr, bool device) {
    if (ptr == nullptr) {
        return cudaSuccess;
    }
    // Queued copies may still name this memory; CUDA's free waits for the device likewise.
    drain(snapshotStreams(false));
    if (!AllocationRegistry::instance().remove(ptr, device)) {
        return record(cudaErrorInvalidValue);
    }
    std::free(ptr);
    return cudaSuccess;
}

struct ErrorText {
    cudaError_t code;
    const char* name;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {cudaSuccess, "cudaSuccess", "no error"},
    {cudaErrorInvalidValue, "cudaErrorInvalidValue", "invalid argument"},
    {cudaErrorMemoryAllocation, "cudaErrorMemoryAllocation", "out of memory"},
    {cudaErrorInitializationError, "cudaErrorInitializationError", "initialization error"},
    {cudaErrorCudartUnloading, "cudaErrorCudartUnloading", "driver shutting down"},
    {cudaErrorInvalidDevicePointer, "cudaErrorInvalidDevicePointer", "invalid device pointer"},
    {cudaErrorInvalidMemcpyDirection, "cudaErrorInvalidMemcpyDirection",
     "invalid copy direction for memcpy"},
    {cudaErrorNoDevice, "cudaErrorNoDevice", "no CUDA-capable device is detected"},
    {cudaErrorInvalidDevice, "cudaErrorInvalidDevice", "invalid device ordinal"},
    {cudaErrorInvalidResourceHandle, "cudaErrorInvalidResourceHandle", "invalid resource handle"},
    {cudaErrorNotReady, "cudaErrorNotReady", "device not ready"},
    {cudaErrorIllegalAddress, "cudaErrorIllegalAddress",
     "an illegal memory access was encountered"},
    {cudaErrorNotSupported, "cudaErrorNotSupported", "operation not supported"},
    {cudaErrorUnknown, "cudaErrorUnknown", "unknown error"},
};

const ErrorText* findErrorText(cudaError_t error) {
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == error) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

const char* cudaGetErrorString(cudaError_t error) {
    const ErrorText* entry = findErrorText(error);
    return entry ? entry->text : "unrecognized error code";
}

const char* cudaGetErrorName(cudaError_t error) {
    const ErrorText* entry = findErrorText(error);
    return entry ? entry->name : "unrecognized error code";
}

cudaError_t cudaGetLastError(void) {
    cudaError_t error = t_last_error;
    t_last_error = cudaSuccess;
    return error;
}

cudaError_t cudaPeekAtLastError(void) {
    return t_last_error;
}

cudaError_t cudaSetDevice(int device) {
    return device == 0 ? cudaSuccess : record(cudaErrorInvalidDevice);
}

cudaError_t cudaGetDevice(int* device) {
    if (device == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    *device = 0;
    return cudaSuccess;
}

cudaError_t cudaGetDeviceCount(int* count) {
    if (count == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    *count = 1;
    return cudaSuccess;
}

cudaError_t cudaDeviceSynchronize(void) {
    drain(snapshotStreams(false));
    return cudaSuccess;
}

cudaError_t cudaDeviceGetStreamPriorityRange(int* leastPriority, int* greatestPriority) {
    if (leastPriority != nullptr) {
        *leastPriority = kLeastStreamPriority;
    }
    if (greatestPriority != nullptr) {
        *greatestPriority = kGreatestStreamPriority;
    }
    return cudaSuccess;
}

cudaError_t cudaMalloc(void** devPtr, size_t size) {
    return allocate(devPtr, size, true);
}

cudaError_t cudaFree(void* devPtr) {
    return release(devPtr, true);
}

cudaError_t cudaMallocHost(void** ptr, size_t size) {
    return allocate(ptr, size, false);
}

cudaError_t cudaFreeHost(void* ptr) {
    return release(ptr, false);
}

cudaError_t cudaMemcpyAsync(void* dst, const void* src, size_t count, cudaMemcpyKind kind,
                            cudaStream_t stream) {
    if (!validKind(kind)) {
        return record(cudaErrorInvalidMemcpyDirection);
    }
    if (count == 0) {
        return cudaSuccess;
    }
    if (dst == nullptr || src == nullptr || !copyAllowed(dst, src, count, kind)) {
        return record(cudaErrorInvalidValue);
    }
    return submit(stream, [dst, src, count] { std::memmove(dst, src, count); });
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind) {
    return cudaMemcpyAsync(dst, src, count, kind, nullptr);
}

cudaError_t cudaMemsetAsync(void* devPtr, int value, size_t count, cudaStream_t stream) {
    if (count == 0) {
        return cudaSuccess;
    }
    if (devPtr == nullptr || krell::cuda_host::classifyRange(devPtr, count) != RangeKind::kDevice) {
        return record(cudaErrorInvalidValue);
    }
    return submit(stream, [devPtr, value, count] { std::memset(devPtr, value, count); });
}

cudaError_t cudaMemset(void* devPtr, int value, size_t count) {
    return cudaMemsetAsync(devPtr, value, count, nullptr);
}

cudaError_t cudaStreamCreateWithPriority(cudaStream_t* pStream, unsigned int flags, int priority) {
    if (pStream == nullptr || (flags & ~static_cast<unsigned int>(cudaStreamNonBlocking)) != 0) {
        return record(cudaErrorInvalidValue);
    }
    const int clamped = std::min(kLeastStreamPriority, std::max(kGreatestStreamPriority, priority));
    auto stream = std::make_shared<HostStream>(flags, clamped);
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.streams[stream.get()] = stream;
    *pStream = reinterpret_cast<cudaStream_t>(stream.get());
    return cudaSuccess;
}

cudaError_t cudaStreamCreateWithFlags(cudaStream_t* pStream, unsigned int flags) {
    return cudaStreamCreateWithPriority(pStream, flags, kLeastStreamPriority);
}

cudaError_t cudaStreamCreate(cudaStream_t* pStream) {
    return cudaStreamCreateWithPriority(pStream, cudaStreamDefault, kLeastStreamPriority);
}

cudaError_t cudaStreamGetPriority(cudaStream_t hStream, int* priority) {
    if (priority == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    if (isDefaultStream(hStream)) {
        *priority = kLeastStreamPriority;
        return cudaSuccess;
    }
    std::shared_ptr<HostStream> stream = findStream(hStream);
    if (!stream) {
        return record(cudaErrorInvalidResourceHandle);
    }
    *priority = stream->priority();
    return cudaSuccess;
}

cudaError_t cudaStreamGetFlags(cudaStream_t hStream, unsigned int* flags) {
    if (flags == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    if (isDefaultStream(hStream)) {
        *flags = cudaStreamDefault;
        return cudaSuccess;
    }
    std::shared_ptr<HostStream> stream = findStream(hStream);
    if (!stream) {
        return record(cudaErrorInvalidResourceHandle);
    }
    *flags = stream->flags();
    return cudaSuccess;
}

cudaError_t cudaStreamDestroy(cudaStream_t stream) {
    std::shared_ptr<HostStream> removed;
    {
        Registry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.streams.find(stream);
        if (it == reg.streams.end()) {
            return record(cudaErrorInvalidResourceHandle);
        }
        removed = std::move(it->second);
        reg.streams.erase(it);
    }
    return cudaSuccess;  // `removed` drains and joins here, outside the registry lock
}

cudaError_t cudaStreamSynchronize(cudaStream_t stream) {
    if (isDefaultStream(stream)) {
        drain(snapshotStreams(true));
        return cudaSuccess;
    }
    std::shared_ptr<HostStream> target = findStream(stream);
    if (!target) {
        return record(cudaErrorInvalidResourceHandle);
    }
    return target->synchronize() ? cudaSuccess : record(cudaErrorNotSupported);
}

cudaError_t cudaStreamQuery(cudaStream_t stream) {
    if (isDefaultStream(stream)) {
        for (const auto& s : snapshotStreams(true)) {
            if (!s->idle()) {
                return cudaErrorNotReady;
            }
        }
        return cudaSuccess;
    }
    std::shared_ptr<HostStream> target = findStream(stream);
    if (!target) {
        return record(cudaErrorInvalidResourceHandle);
    }
    return target->idle() ? cudaSuccess : cudaErrorNotReady;
}

cudaError_t cudaLaunchHostFunc(cudaStream_t stream, cudaHostFn_t fn, void* userData) {
    if (fn == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    return submit(stream, [fn, userData] { fn(userData); });
}

cudaError_t cudaStreamWaitEvent(cudaStream_t stream, cudaEvent_t event, unsigned int flags) {
    std::shared_ptr<HostEvent> target = findEvent(event);
    if (!target || flags != 0) {
        return record(target ? cudaErrorInvalidValue : cudaErrorInvalidResourceHandle);
    }
    const uint64_t number = target->latest();
    return submit(stream, [target, number] { target->waitFor(number); });
}

cudaError_t cudaEventCreateWithFlags(cudaEvent_t* event, unsigned int flags) {
    if (event == nullptr || flags > (cudaEventBlockingSync | cudaEventDisableTiming)) {
        return record(cudaErrorInvalidValue);
    }
    auto created = std::make_shared<HostEvent>((flags & cudaEventDisableTiming) == 0);
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.events[created.get()] = created;
    *event = reinterpret_cast<cudaEvent_t>(created.get());
    return cudaSuccess;
}

cudaError_t cudaEventCreate(cudaEvent_t* event) {
    return cudaEventCreateWithFlags(event, cudaEventDefault);
}

cudaError_t cudaEventDestroy(cudaEvent_t event) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.events.erase(event) == 1 ? cudaSuccess : record(cudaErrorInvalidResourceHandle);
}

cudaError_t cudaEventRecord(cudaEvent_t event, cudaStream_t stream) {
    std::shared_ptr<HostEvent> target = findEvent(event);
    if (!target) {
        return record(cudaErrorInvalidResourceHandle);
    }
    const uint64_t number = target->beginRecord();
    return submit(stream, [target, number] { target->complete(number); });
}

cudaError_t cudaEventSynchronize(cudaEvent_t event) {
    std::shared_ptr<HostEvent> target = findEvent(event);
    if (!target) {
        return record(cudaErrorInvalidResourceHandle);
    }
    target->wait();
    return cudaSuccess;
}

cudaError_t cudaEventQuery(cudaEvent_t event) {
    std::shared_ptr<HostEvent> target = findEvent(event);
    if (!target) {
        return record(cudaErrorInvalidResourceHandle);
    }
    return target->reached() ? cudaSuccess : cudaErrorNotReady;
}

cudaError_t cudaEventElapsedTime(float* ms, cudaEvent_t start, cudaEvent_t end) {
    std::shared_ptr<HostEvent> first = findEvent(start);
    std::shared_ptr<HostEvent> second = findEvent(end);
    if (ms == nullptr) {
        return record(cudaErrorInvalidValue);
    }
    if (!first || !second || !first->timing() || !second->timing() || !first->hasTime() ||
        !second->hasTime()) {
        return record(cudaErrorInvalidResourceHandle);
    }
    if (!first->reached() || !second->reached()) {
        return record(cudaErrorNotReady);
    }
    *ms = std::chrono::duration<float, std::milli>(second->time() - first->time()).count();
    return cudaSuccess;
}

}  // extern "C"
