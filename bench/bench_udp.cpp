// UDP packet source throughput: packets per second that SocketSource::Receive hands out, next to a
// bare recvfrom loop (the baseline) draining the same socket, in the same run. Each iteration
// queues a batch of 80-byte datagrams on 127.0.0.1 (not timed) and then drains it (timed).
// Prints the SocketSource rate as a ratio to the baseline's.
//
// With --zero-loss-seconds=N (and optionally --zero-loss-rate=PPS, default kSensorRate) it then
// runs a soak: the virtual sensor's information sender paces 80-byte packets to a SocketSource
// for N seconds while a reader takes them the way the Minka information loop does, and reports
// sent against received. Exits 1 when a packet was lost. `make bench` does not pass the flag.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/Source/socket_source.h"
#include "tools/lidar-sim/point_stream.h"
#include "tools/lidar-sim/udp_info_sender.h"

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

// ---- Zero-loss soak ----

//! Point packets a second of a spinning sensor's stream, the rate the soak runs at by default.
constexpr uint32_t kSensorRate = 10000;
//! How long the reader keeps taking packets after the sender stopped (the kernel's backlog).
constexpr auto kDrainQuiet = std::chrono::milliseconds(300);

struct SoakOptions {
    double seconds = 0.0;  // 0: no soak
    uint32_t rate = kSensorRate;
};

//! Takes the soak's options out of argv (Google Benchmark refuses flags it does not know).
SoakOptions TakeSoakOptions(int& argc, char** argv) {
    SoakOptions options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--zero-loss-seconds=", 20) == 0) {
            options.seconds = std::atof(arg + 20);
        } else if (std::strncmp(arg, "--zero-loss-rate=", 17) == 0) {
            options.rate = static_cast<uint32_t>(std::strtoul(arg + 17, nullptr, 10));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return options;
}

//! Sent and received counts of one soak; 1 when a packet was lost or the rig did not stand.
int RunSoak(const SoakOptions& options) {
    SocketSource source(0, "127.0.0.1", "");
    if (!source.Open() || options.rate == 0) {
        std::printf("zero-loss run: no loopback socket (or rate 0)\n");
        return 1;
    }
    std::vector<std::vector<uint8_t>> packets;
    for (uint32_t i = 0; i < 64; ++i)
        packets.push_back(krell::lidar::sim::PointStream::Packet(i * 4));  // the 80-byte kind
    std::atomic<bool> reading{true};
    std::atomic<uint64_t> received{0};
    std::atomic<Clock::rep> last_packet{Clock::now().time_since_epoch().count()};
    std::thread reader([&] {
        UdpPacket packet{};
        while (reading.load()) {
            if (source.Receive(packet, UdpPacket::kDataBytes, 0, 1000) == int32_t(kPacketBytes)) {
                received.fetch_add(1, std::memory_order_relaxed);
                last_packet.store(Clock::now().time_since_epoch().count(),
                                  std::memory_order_relaxed);
            }
        }
    });
    krell::lidar::sim::UdpInfoSender sender;
    krell::lidar::sim::UdpInfoOptions sender_options;
    sender_options.ip = "127.0.0.1";
    sender_options.port = source.LocalPort();
    sender_options.packets_per_second = options.rate;
    const bool started = sender.Start(sender_options, packets);
    const Clock::time_point start = Clock::now();
    if (started) std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    sender.Stop();
    const double sent_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Until the reader has been idle for a while: what is still queued is not lost.
    while (Clock::now() - Clock::time_point(Clock::duration(last_packet.load())) < kDrainQuiet)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reading = false;
    reader.join();
    const uint64_t sent = sender.SentCount();
    const uint64_t got = received.load();
    const uint64_t lost = sent > got ? sent - got : 0;
    std::printf("\nZero-loss run: %.1f s at %u packets/s (80 bytes, SocketSource on 127.0.0.1)\n",
                sent_seconds, options.rate);
    std::printf("  sent %llu, received %llu, lost %llu (%.4f%%): %s\n",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(got),
                static_cast<unsigned long long>(lost), sent ? 100.0 * lost / sent : 0.0,
                started && sent > 0 && lost == 0 ? "zero loss" : "LOSS");
    return started && sent > 0 && lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const SoakOptions soak = TakeSoakOptions(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return soak.seconds > 0.0 ? RunSoak(soak) : 0;
}
