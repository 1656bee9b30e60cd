// Serial link throughput.
// (a) BM_Framing: the receive thread's framing alone, in memory, over a mixed stream of command
//     replies and point packets of every size, fed in 80-byte reads. Reported as a multiple of the
//     3,125,000-baud line rate ("x_line_rate"), next to BM_CopyBaseline (plain copies of the same
//     reads) measured in the same run.
// (b) BM_PtyLine: point packets written into a pseudo-terminal at the pace of a 3,125,000-baud line
//     and taken out through SerialSource::Receive; counts packets sent, delivered, lost and
//     sequence breaks (a packet lost or misframed). Runs KRELL_BENCH_SERIAL_SECONDS seconds
//     (default 30).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "libkrell/Source/packet_queue.h"
#include "libkrell/Frame/serial_frame.h"
#include "libkrell/Source/serial_source.h"
#include "libkrell/Source/serial_stream_parser.h"

namespace {

using krell::lidar::PacketQueue;
using krell::lidar::SerialFrame;
using krell::lidar::SerialSource;
using krell::lidar::SerialStreamParser;
using krell::lidar::UdpPacket;
using Bytes = std::vector<uint8_t>;

constexpr double kLineBaud = 3125000.0;
constexpr double kLineBytesPerSecond = kLineBaud / 10.0;  // 8N1: ten bit times per byte
constexpr int kDefaultPtySeconds = 30;

// Point packet of 34, 80 or 132 bytes carrying a sequence number at bytes 8-11.
Bytes PointPacket(size_t size, uint32_t sequence) {
    Bytes packet(size, 0x5A);
    packet[0] = 0xEE;
    packet[1] = 0xFF;
    packet[2] = 0x01;
    packet[3] = size == 132 ? 12 : 8;
    packet[4] = 0;
    packet[5] = size == 34 ? 1 : 0;
    std::memcpy(packet.data() + 8, &sequence, sizeof(sequence));
    return packet;
}

Bytes MixedStream(size_t target_bytes) {
    Bytes stream;
    const size_t sizes[] = {80, 80, 132, 34, 80};
    const Bytes reply_data = {0x0F, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0};
    SerialFrame::Layout reply_layout;
    reply_layout.length_bias = 0;
    for (uint32_t i = 0; stream.size() < target_bytes; ++i) {
        const Bytes packet = PointPacket(sizes[i % 5], i);
        stream.insert(stream.end(), packet.begin(), packet.end());
        if (i % 50 == 0) {
            const Bytes reply = SerialFrame::Encode("$LDACK,", 2, reply_data.data(),
                                                    reply_data.size(), reply_layout);
            stream.insert(stream.end(), reply.begin(), reply.end());
        }
    }
    return stream;
}

void BM_Framing(benchmark::State& state) {
    const Bytes stream = MixedStream(4 << 20);
    PacketQueue replies(SerialSource::kReplyQueuePackets);
    PacketQueue points(SerialSource::kPointQueuePackets);
    SerialStreamParser parser(replies, points);
    for (auto _ : state) {
        parser.Feed(stream.data(), stream.size());
        benchmark::DoNotOptimize(points.Size());
    }
    const double bytes =
        static_cast<double>(stream.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["x_line_rate"] =
        benchmark::Counter(bytes / kLineBytesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Framing)->Unit(benchmark::kMillisecond);

void BM_CopyBaseline(benchmark::State& state) {
    const Bytes stream = MixedStream(4 << 20);
    Bytes work(SerialStreamParser::kWorkBufferBytes);
    for (auto _ : state) {
        size_t fill = 0;
        for (size_t at = 0; at < stream.size(); at += SerialStreamParser::kReadChunkBytes) {
            const size_t step =
                std::min<size_t>(SerialStreamParser::kReadChunkBytes, stream.size() - at);
            if (fill + step > work.size()) fill = 0;
            std::memcpy(work.data() + fill, stream.data() + at, step);
            fill += step;
        }
        benchmark::DoNotOptimize(work.data());
    }
    const double bytes =
        static_cast<double>(stream.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["x_line_rate"] =
        benchmark::Counter(bytes / kLineBytesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);

int PtySeconds() {
    const char* text = std::getenv("KRELL_BENCH_SERIAL_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : kDefaultPtySeconds;
    return seconds > 0 ? seconds : kDefaultPtySeconds;
}

// Writes packets paced to the line rate for `seconds`; returns how many were written whole.
uint64_t WritePaced(int master, int seconds) {
    const size_t sizes[] = {80, 80, 132, 34, 80};
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    double written = 0;
    uint32_t sequence = 0;
    while (std::chrono::steady_clock::now() < end) {
        const double due =
            kLineBytesPerSecond *
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        while (written < due) {
            const Bytes packet = PointPacket(sizes[sequence % 5], sequence);
            size_t done = 0;
            while (done < packet.size()) {
                const ssize_t n = ::write(master, packet.data() + done, packet.size() - done);
                if (n > 0) {
                    done += static_cast<size_t>(n);
                } else {
                    struct pollfd entry = {master, POLLOUT, 0};
                    ::poll(&entry, 1, 5);
                }
            }
            written += static_cast<double>(packet.size());
            ++sequence;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return sequence;
}

void BM_PtyLine(benchmark::State& state) {
    const int seconds = PtySeconds();
    for (auto _ : state) {
        int master = -1;
        int slave = -1;
        char name[128] = {0};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            state.SkipWithError("openpty failed");
            return;
        }
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        SerialSource source(name, 115200, static_cast<uint32_t>(kLineBaud));
        if (!source.Open()) {
            state.SkipWithError("serial open failed");
            return;
        }
        std::atomic<bool> writing{true};
        uint64_t delivered = 0;
        uint64_t sequence_breaks = 0;
        std::thread reader([&] {
            UdpPacket packet{};
            uint32_t expected = 0;
            for (;;) {
                const bool writer_done = !writing.load();
                if (source.Receive(packet, 0, 0, 100) <= 0) {
                    if (writer_done) break;
                    continue;
                }
                uint32_t sequence = 0;
                std::memcpy(&sequence, packet.data + 8, sizeof(sequence));
                if (sequence != expected || packet.data[0] != 0xEE) ++sequence_breaks;
                expected = sequence + 1;
                ++delivered;
            }
        });
        const uint64_t sent = WritePaced(master, seconds);
        writing.store(false);
        reader.join();
        source.Close();
        ::close(master);
        ::close(slave);
        state.counters["sent"] = static_cast<double>(sent);
        state.counters["delivered"] = static_cast<double>(delivered);
        state.counters["lost"] = static_cast<double>(sent - delivered);
        state.counters["sequence_breaks"] = static_cast<double>(sequence_breaks);
    }
}
BENCHMARK(BM_PtyLine)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
