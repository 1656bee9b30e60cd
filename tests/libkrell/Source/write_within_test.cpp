#include "libkrell/Source/write_within.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using krell::lidar::WriteWithin;
using Clock = std::chrono::steady_clock;

// Far more than a pipe holds, so the writer has to wait for the reader.
constexpr size_t kLargeWriteBytes = 1u << 20;

// A pipe whose write end does not block; both ends closed on destruction.
struct NonBlockingPipe {
    int read_fd = -1;
    int write_fd = -1;
    NonBlockingPipe() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        read_fd = fds[0];
        write_fd = fds[1];
        ::fcntl(write_fd, F_SETFL, ::fcntl(write_fd, F_GETFL) | O_NONBLOCK);
    }
    ~NonBlockingPipe() {
        if (read_fd >= 0) ::close(read_fd);
        if (write_fd >= 0) ::close(write_fd);
    }
};

TEST(WriteWithin, ReaderKeepsUp_WritesEverythingAndTheBytesArriveInOrder) {
    NonBlockingPipe pipe;
    ASSERT_GE(pipe.write_fd, 0);
    std::vector<uint8_t> sent(kLargeWriteBytes);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::vector<uint8_t> received;
    std::thread reader([&] {
        uint8_t chunk[4096];
        const auto give_up = Clock::now() + std::chrono::seconds(10);
        while (received.size() < kLargeWriteBytes && Clock::now() < give_up) {
            const long got = ::read(pipe.read_fd, chunk, sizeof(chunk));
            if (got <= 0) break;
            received.insert(received.end(), chunk, chunk + got);
        }
    });
    EXPECT_EQ(WriteWithin(pipe.write_fd, sent.data(), sent.size(), 5000),
              static_cast<int32_t>(kLargeWriteBytes));
    reader.join();
    EXPECT_EQ(received, sent);
}

TEST(WriteWithin, NobodyReadsOrBadDescriptor_GivesUpWithPartialCountOrMinusOne) {
    NonBlockingPipe pipe;
    ASSERT_GE(pipe.write_fd, 0);
    const std::vector<uint8_t> sent(kLargeWriteBytes, 0x5A);
    const auto start = Clock::now();
    const int32_t written = WriteWithin(pipe.write_fd, sent.data(), sent.size(), 200);
    const auto elapsed = Clock::now() - start;
    // What the pipe took before it filled, and no more; the wait ends at the time-out.
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int32_t>(kLargeWriteBytes));
    EXPECT_GE(elapsed, std::chrono::milliseconds(150));
    EXPECT_LT(elapsed, std::chrono::seconds(3));

    EXPECT_EQ(WriteWithin(-1, sent.data(), 16, 200), -1);
    EXPECT_EQ(WriteWithin(pipe.write_fd, sent.data(), 0, 200), 0);
}

}  // namespace
