// CMX 1.0 exchanges per second: CmxClient against the in-process virtual sensor, next to a bare
// socket ping-pong that moves the same bytes (header + payload each way) with no protocol work.
// Compare the items_per_second of BM_CmxQuery/N with BM_BarePingPong/N from the same run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/loopback_socket.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"

namespace {

using bench_support::ConnectToLoopback;
using bench_support::LoopbackServer;
using bench_support::ReadExact;
using bench_support::WriteAll;

constexpr uint8_t kEchoCmd = 0x41;
constexpr size_t kHeaderBytes = 8;
constexpr uint32_t kTimeoutMs = 2000;

// One-connection echo server: reads header + `payload` bytes, writes as many back.
class BareEchoServer {
public:
    explicit BareEchoServer(size_t payload)
        : frame_(kHeaderBytes + payload), server_([this](int fd) { Serve(fd); }, false) {}
    uint16_t Port() const { return server_.Port(); }

private:
    void Serve(int fd) {
        std::vector<uint8_t> buffer(frame_);
        while (ReadExact(fd, buffer.data(), frame_) && WriteAll(fd, buffer.data(), frame_)) {}
    }

    size_t frame_;
    LoopbackServer server_;  // last: its thread uses the members above
};

void BM_BarePingPong(benchmark::State& state) {
    const size_t payload = static_cast<size_t>(state.range(0));
    BareEchoServer server(payload);
    const int fd = ConnectToLoopback(server.Port());
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<uint8_t> frame(kHeaderBytes + payload, 0x5A);
    for (auto _ : state) {
        if (!WriteAll(fd, frame.data(), frame.size()) ||
            !ReadExact(fd, frame.data(), frame.size())) {
            state.SkipWithError("echo failed");
            break;
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}

void BM_CmxQuery(benchmark::State& state) {
    const size_t payload = static_cast<size_t>(state.range(0));
    auto device = std::make_shared<krell::lidar::sim::SimDevice>();
    krell::lidar::sim::RegisterBuiltinHandlers(*device, "Corvel");
    krell::lidar::sim::SimServer server(device);
    if (!server.Start(krell::lidar::sim::SimServerOptions{})) {
        state.SkipWithError("simulator did not start");
        return;
    }
    krell::lidar::CmxClient client("127.0.0.1", server.Port(), false, 0, 1, "", "", "", kTimeoutMs,
                                   kTimeoutMs, 3.0f);
    for (int i = 0; i < 300 && !client.IsOpen(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::vector<uint8_t> request(payload, 0x5A);
    std::vector<uint8_t> reply;
    // With an empty request the store-and-return command answers with what is stored: prime it.
    if (payload == 0) device->Store(kEchoCmd, {});
    for (auto _ : state) {
        if (client.QueryCommand(request, reply, kEchoCmd) != 0 || reply.size() != payload) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_BarePingPong)->Arg(0)->Arg(1024)->UseRealTime();
BENCHMARK(BM_CmxQuery)->Arg(0)->Arg(1024)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ::setenv("SCRIBE_CONSOLE", "0", 0);
    ::setenv("SCRIBE_LOG_FILE", "", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
