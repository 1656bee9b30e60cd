#include <gtest/gtest.h>

#include <string>

#include "module/engine/nvidia/stream.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

int priorityOf(cudaStream_t stream) {
    int priority = 1234;
    EXPECT_EQ(cudaStreamGetPriority(stream, &priority), cudaSuccess);
    return priority;
}

}  // namespace

TEST(CUDAStreams, PriorityFraction_SpansTheDeviceRangeAndOutOfRangeUsesZero) {
    int least = 0;
    int greatest = 0;
    ASSERT_EQ(cudaDeviceGetStreamPriorityRange(&least, &greatest), cudaSuccess);
    CUDAStreams streams;
    captureStdout([&] { streams.resize(2, cudaStreamNonBlocking, 1.0F); });
    ASSERT_EQ(streams.size(), 2U);
    EXPECT_NE(streams[0], streams[1]);
    EXPECT_EQ(priorityOf(streams[1]), greatest);
    captureStdout([&] { streams.resize(1, cudaStreamNonBlocking, 0.0F); });
    EXPECT_EQ(priorityOf(streams[0]), least);
    const std::string log = captureStdout([&] { streams.resize(1, cudaStreamNonBlocking, 1.5F); });
    EXPECT_NE(log.find("Priority is out of range, set to 0"), std::string::npos) << log;
    EXPECT_NE(log.find("cudaSteam Idx: 0 Priority: " + std::to_string(least)), std::string::npos)
        << log;
    EXPECT_EQ(messageOf(captureStdout([&] { EXPECT_EQ(streams[1], nullptr); })),
              "[CUDAStreams] the idx 1 exceeds the total number of stream 1\x1b[0m\n");
}

}  // namespace krell::det::test
