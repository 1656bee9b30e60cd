// UDP packet source throughput: packets per second that SocketSource::Receive hands out, next to a
// bare recvfrom loop (the baseline) draining the same socket, in the same run. Each iteration
// queues a batch of 80-byte datagrams on 127.0.0.1 (not timed) and then drains it (timed).
// Prints the SocketSource rate as a ratio to the baseline's.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "libkrell/Source/socket_source.h"

namespace {

using krell::lidar::SocketSource;
using krell::lidar::UdpPacket;
using Clock = std::chrono::steady_clock;

constexpr int kBatch = 500;
constexpr size_t kPacketBytes = 80;
constexpr char kBaseline[] = "BM_BareRecvfrom";

// A source bound to a free loopback port and a sender aimed at it.
struct Rig {
    SocketSource source{0, "127.0.0.1", ""};
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    std::vector<uint8_t> packet = std::vector<uint8_t>(kPacketBytes, 0xA5);

    bool Ready() {
        if (!source.Open() || sender < 0) return false;
        to.sin_family = AF_INET;
        to.sin_port = htons(source.LocalPort());
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        return true;
    }
    ~Rig() { ::close(sender); }

    void Fill() {
        for (int i = 0; i < kBatch; ++i) {
            ::sendto(sender, packet.data(), packet.size(), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        }
    }
};

// Drains one batch with `receive_one` (true per datagram); false when the batch did not arrive
// within a second.
template <typename ReceiveOne>
bool DrainTimed(benchmark::State& state, ReceiveOne receive_one) {
    const Clock::time_point start = Clock::now();
    int got = 0;
    while (got < kBatch) {
        if (receive_one()) {
            ++got;
        } else if (Clock::now() - start > std::chrono::seconds(1)) {
            return false;
        }
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    return true;
}

void BM_BareRecvfrom(benchmark::State& state) {
    Rig rig;
    if (!rig.Ready()) return state.SkipWithError("no loopback socket");
    const int fd = rig.source.Handle();
    UdpPacket packet{};
    for (auto _ : state) {
        rig.Fill();
        const bool ok = DrainTimed(state, [&] {
            sockaddr_in from{};
            socklen_t from_len = sizeof(from);
            const ssize_t n = ::recvfrom(fd, packet.data, sizeof(packet.data), 0,
                                         reinterpret_cast<sockaddr*>(&from), &from_len);
            packet.ip = from.sin_addr.s_addr;
            packet.port = ntohs(from.sin_port);
            return n > 0;
        });
        if (!ok) return state.SkipWithError("datagrams lost on loopback");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BareRecvfrom)->UseManualTime()->MinTime(1.0);

void BM_SocketSourceReceive(benchmark::State& state) {
    Rig rig;
    if (!rig.Ready()) return state.SkipWithError("no loopback socket");
    UdpPacket packet{};
    for (auto _ : state) {
        rig.Fill();
        const bool ok = DrainTimed(state, [&] {
            return rig.source.Receive(packet, UdpPacket::kDataBytes, 0, 1000) > 0;
        });
        if (!ok) return state.SkipWithError("datagrams lost on loopback");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SocketSourceReceive)->UseManualTime()->MinTime(1.0);

// Console output as usual, plus each benchmark's time per batch for the ratio line.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                times_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        const auto baseline = times_.find(kBaseline);
        if (baseline == times_.end() || baseline->second <= 0.0) return;
        std::printf("\nPackets per second as a ratio to %s (same run, same socket):\n", kBaseline);
        for (const auto& [name, time] : times_) {
            if (time > 0.0) std::printf("  %-28s %.3f\n", name.c_str(), baseline->second / time);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
