#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <vector>

namespace {

constexpr auto kWaitLimit = std::chrono::seconds(5);

// A host function that holds its stream until released (or until the wait limit passes, so a
// failing test cannot hang).
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    static void hold(void* self) { static_cast<Gate*>(self)->opened.wait_for(kWaitLimit); }
};

struct Order {
    std::mutex mutex;
    std::vector<int> seen;
};

struct Step {
    Order* order;
    int value;
    static void run(void* self) {
        auto* step = static_cast<Step*>(self);
        std::lock_guard<std::mutex> lock(step->order->mutex);
        step->order->seen.push_back(step->value);
    }
};

class Stream {
public:
    explicit Stream(unsigned int flags = cudaStreamDefault) {
        EXPECT_EQ(cudaStreamCreateWithFlags(&handle, flags), cudaSuccess);
    }
    ~Stream() { cudaStreamDestroy(handle); }
    cudaStream_t handle = nullptr;
};

}  // namespace

TEST(CudaErrors, TextsAndNames_FollowCuda) {
    EXPECT_STREQ(cudaGetErrorString(cudaSuccess), "no error");
    EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidValue), "invalid argument");
    EXPECT_STREQ(cudaGetErrorString(cudaErrorMemoryAllocation), "out of memory");
    EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidDevice), "invalid device ordinal");
    EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidResourceHandle), "invalid resource handle");
    EXPECT_STREQ(cudaGetErrorString(static_cast<cudaError_t>(12345)), "unrecognized error code");
    EXPECT_STREQ(cudaGetErrorName(cudaErrorNotReady), "cudaErrorNotReady");
    EXPECT_EQ(static_cast<int>(cudaErrorInvalidDevice), 101);
}

TEST(CudaErrors, FailedCalls_SetLastErrorUntilRead) {
    cudaGetLastError();
    EXPECT_EQ(cudaSetDevice(1), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
    EXPECT_EQ(cudaSetDevice(0), cudaSuccess);
    int dummy = 0;
    EXPECT_EQ(cudaFree(&dummy), cudaErrorInvalidValue);  // not from cudaMalloc
    EXPECT_EQ(cudaMemcpy(&dummy, &dummy, 1, static_cast<cudaMemcpyKind>(9)),
              cudaErrorInvalidMemcpyDirection);
    EXPECT_EQ(cudaMemcpy(nullptr, &dummy, 1, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    cudaGetLastError();
}

TEST(CudaMemory, MallocCopySetFree_RoundTrip) {
    unsigned char* device = nullptr;
    ASSERT_EQ(cudaMalloc(&device, 100), cudaSuccess);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(device) % 256, 0U);
    ASSERT_EQ(cudaMemset(device, 0xAB, 100), cudaSuccess);
    std::vector<unsigned char> host(100, 0);
    ASSERT_EQ(cudaMemcpy(host.data(), device, 100, cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(host, std::vector<unsigned char>(100, 0xAB));
    EXPECT_EQ(cudaFree(device), cudaSuccess);
    EXPECT_EQ(cudaFree(device), cudaErrorInvalidValue);  // double free is reported, not performed
    void* empty = reinterpret_cast<void*>(1);
    EXPECT_EQ(cudaMalloc(&empty, 0), cudaSuccess);
    EXPECT_EQ(empty, nullptr);
    cudaGetLastError();
}

TEST(CudaStreams, WorkOnOneStream_RunsAsynchronouslyInEnqueueOrder) {
    Stream stream;
    Gate gate;
    Order order;
    std::vector<Step> steps;
    steps.reserve(50);
    ASSERT_EQ(cudaLaunchHostFunc(stream.handle, &Gate::hold, &gate), cudaSuccess);
    int source = 42;
    int target = 0;
    ASSERT_EQ(cudaMemcpyAsync(&target, &source, sizeof(int), cudaMemcpyHostToHost, stream.handle),
              cudaSuccess);
    for (int i = 0; i < 50; ++i) {
        steps.push_back({&order, i});
        ASSERT_EQ(cudaLaunchHostFunc(stream.handle, &Step::run, &steps.back()), cudaSuccess);
    }
    EXPECT_EQ(cudaStreamQuery(stream.handle), cudaErrorNotReady);
    EXPECT_EQ(target, 0);  // queued behind the gate, not done at enqueue
    gate.open.set_value();
    ASSERT_EQ(cudaStreamSynchronize(stream.handle), cudaSuccess);
    EXPECT_EQ(target, 42);
    EXPECT_EQ(cudaStreamQuery(stream.handle), cudaSuccess);
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) {
        expected[static_cast<size_t>(i)] = i;
    }
    EXPECT_EQ(order.seen, expected);
}

TEST(CudaStreams, DefaultStream_WaitsForBlockingStreamsButNotNonBlocking) {
    Stream blocking;
    Stream non_blocking(cudaStreamNonBlocking);
    Gate gate;
    int value = 0;
    int one = 1;
    ASSERT_EQ(cudaLaunchHostFunc(non_blocking.handle, &Gate::hold, &gate), cudaSuccess);
    ASSERT_EQ(cudaMemcpyAsync(&value, &one, sizeof(int), cudaMemcpyHostToHost, blocking.handle),
              cudaSuccess);
    int seen = -1;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(cudaMemcpy(&seen, &value, sizeof(int), cudaMemcpyHostToHost), cudaSuccess);
    EXPECT_EQ(seen, 1);  // ordered after the blocking stream's copy
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              kWaitLimit / 2);  // did not wait on the gate
    EXPECT_EQ(cudaStreamQuery(non_blocking.handle), cudaErrorNotReady);
    gate.open.set_value();
    EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    EXPECT_EQ(cudaStreamQuery(non_blocking.handle), cudaSuccess);
}

TEST(CudaStreams, Priorities_ComeFromTheRangeAndAreClamped) {
    int least = 1;
    int greatest = 1;
    ASSERT_EQ(cudaDeviceGetStreamPriorityRange(&least, &greatest), cudaSuccess);
    EXPECT_EQ(least, 0);
    EXPECT_EQ(greatest, -5);
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreateWithPriority(&stream, cudaStreamNonBlocking, -10), cudaSuccess);
    int priority = 0;
    unsigned int flags = 0;
    EXPECT_EQ(cudaStreamGetPriority(stream, &priority), cudaSuccess);
    EXPECT_EQ(priority, -5);
    EXPECT_EQ(cudaStreamGetFlags(stream, &flags), cudaSuccess);
    EXPECT_EQ(flags, static_cast<unsigned int>(cudaStreamNonBlocking));
    EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess);
    EXPECT_EQ(cudaStreamGetPriority(stream, &priority), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaStreamSynchronize(stream), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaStreamDestroy(stream), cudaErrorInvalidResourceHandle);
    cudaGetLastError();
}

TEST(CudaStreams, DestroyWithQueuedWork_RunsItFirst) {
    std::atomic<int> runs{0};
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
    for (int i = 0; i < 20; ++i) {
        cudaLaunchHostFunc(
            stream, [](void* counter) { ++*static_cast<std::atomic<int>*>(counter); }, &runs);
    }
    EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess);
    EXPECT_EQ(runs.load(), 20);
}

TEST(CudaStreams, SynchronizeFromOwnHostFunction_FailsInsteadOfHanging) {
    struct Probe {
        cudaStream_t stream;
        cudaError_t result = cudaSuccess;
    };
    Stream stream;
    Probe probe{stream.handle};
    cudaLaunchHostFunc(
        stream.handle,
        [](void* p) {
            auto* self = static_cast<Probe*>(p);
            self->result = cudaStreamSynchronize(self->stream);
        },
        &probe);
    ASSERT_EQ(cudaStreamSynchronize(stream.handle), cudaSuccess);
    EXPECT_EQ(probe.result, cudaErrorNotSupported);
    cudaGetLastError();
}

TEST(CudaEvents, RecordedEvent_OrdersAnotherStreamAndGivesElapsedTime) {
    Stream producer;
    Stream consumer(cudaStreamNonBlocking);
    Gate gate;
    cudaEvent_t start = nullptr;
    cudaEvent_t done = nullptr;
    ASSERT_EQ(cudaEventCreate(&start), cudaSuccess);
    ASSERT_EQ(cudaEventCreate(&done), cudaSuccess);
    int produced = 0;
    int consumed = 0;
    int seven = 7;
    ASSERT_EQ(cudaEventRecord(start, producer.handle), cudaSuccess);
    ASSERT_EQ(cudaLaunchHostFunc(producer.handle, &Gate::hold, &gate), cudaSuccess);
    ASSERT_EQ(
        cudaMemcpyAsync(&produced, &seven, sizeof(int), cudaMemcpyHostToHost, producer.handle),
        cudaSuccess);
    ASSERT_EQ(cudaEventRecord(done, producer.handle), cudaSuccess);
    ASSERT_EQ(cudaStreamWaitEvent(consumer.handle, done, 0), cudaSuccess);
    ASSERT_EQ(
        cudaMemcpyAsync(&consumed, &produced, sizeof(int), cudaMemcpyHostToHost, consumer.handle),
        cudaSuccess);
    EXPECT_EQ(cudaEventQuery(done), cudaErrorNotReady);
    gate.open.set_value();
    ASSERT_EQ(cudaStreamSynchronize(consumer.handle), cudaSuccess);
    EXPECT_EQ(consumed, 7);
    ASSERT_EQ(cudaEventSynchronize(done), cudaSuccess);
    float ms = -1.0F;
    EXPECT_EQ(cudaEventElapsedTime(&ms, start, done), cudaSuccess);
    EXPECT_GE(ms, 0.0F);
    cudaEvent_t untimed = nullptr;
    ASSERT_EQ(cudaEventCreateWithFlags(&untimed, cudaEventDisableTiming), cudaSuccess);
    ASSERT_EQ(cudaEventRecord(untimed, nullptr), cudaSuccess);
    EXPECT_EQ(cudaEventElapsedTime(&ms, start, untimed), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaEventDestroy(untimed), cudaSuccess);
    EXPECT_EQ(cudaEventDestroy(start), cudaSuccess);
    EXPECT_EQ(cudaEventDestroy(done), cudaSuccess);
    EXPECT_EQ(cudaEventQuery(done), cudaErrorInvalidResourceHandle);
    cudaGetLastError();
}
