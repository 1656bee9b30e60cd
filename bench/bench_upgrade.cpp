// Firmware upgrade throughput on the three routes, against the in-process virtual sensor with no
// reply delay.
// (a) CMX file stream: an 8 MiB image through CmxClient::FileStreamUpgrade ("0x83"), timed in turn
//     with a bare loopback ping-pong of the very same request frames (same sizes, same count), each
//     answered by a reply of the size the sensor's reply has (a CMX header). Target <= 1.5x.
// (b) CMX tunnel: the same image as OTA frames behind command 0xFF (CmxClient::TunnelUpgrade, no
//     mode-switch pause; its four set-up exchanges count too), timed in turn with a bare
//     ping-pong of its frames and reply sizes.
// (c) Serial OTA: the same image through SerialClient::SerialUpgrade over the sensor's pty lines
//     at 3,125,000 baud, the sensor already in its boot loader, sending no point packets. A pty does not pace at the baud
//     rate, so this figure is the payload throughput of the software path (client, pty, sensor)
//     compared with what a 3,125,000-baud line (8N1, ten bit times a byte) would carry: above
//     1.0 the line, not the software, bounds a real upgrade. Target: at least 0.8 of the payload
//     share of the line (data bytes per frame / OTA frame bytes).
// The InTurn benchmarks run route and baseline one after the other within each iteration, so that
// load from other processes falls on both alike; main() prints the ratios with their targets.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_socket.h"
#include "libkrell/CmxClient/cmx_1_0_parser.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_tunnel.h"
#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Source/serial_client.h"
#include "libkrell/Source/serial_source.h"
#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/serial_line_sim.h"
#include "tools/lidar-sim/serial_responder.h"
#include "tools/lidar-sim/serial_side.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"

namespace {

using bench_support::ConnectToLoopback;
using bench_support::LoopbackServer;
using bench_support::ReadExact;
using bench_support::WriteAll;
using krell::lidar::CmxClient;
using krell::lidar::OtaFrame;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr size_t kImageBytes = 8u * 1024u * 1024u;
constexpr const char* kFileStreamCommand = "0x83";
constexpr uint8_t kFileStreamCode = 0x83;
constexpr size_t kCmxHeaderBytes = krell::lidar::Cmx_1_0_parser::kHeaderBytes;
constexpr uint32_t kTimeoutMs = 4000;
constexpr int kConnectWaitMs = 5000;
constexpr double kLineBaud = 3125000.0;
constexpr double kLineBytesPerSecond = kLineBaud / 10.0;  // 8N1: ten bit times per byte
constexpr double kCmxTarget = 1.5;
constexpr double kSerialTarget = 0.8;

Bytes Image(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 31 + i / 1024 + 7);
    return image;
}

const Bytes& SharedImage() {
    static const Bytes image = Image(kImageBytes);
    return image;
}

// The request frames FileStreamUpgrade sends for the image: each file-stream frame (a CMX frame
// itself) is the payload of the CMX request that carries it.
std::vector<Bytes> FileStreamFrames(const Bytes& image) {
    krell::lidar::Cmx_1_0_parser parser;
    std::vector<Bytes> frames;
    parser.CmxFilestreamSend(image, kFileStreamCode, frames);
    for (Bytes& frame : frames) {
        Bytes request;
        parser.CmxRequestEncode(frame, request, kFileStreamCode);
        frame = std::move(request);
    }
    return frames;
}

// The request frames TunnelUpgrade sends for the image: OTA frames behind the tunnel prefix.
std::vector<Bytes> TunnelFrames(const Bytes& image) {
    krell::lidar::Cmx_1_0_parser parser;
    const size_t total = OtaFrame::FrameCount(image.size());
    std::vector<Bytes> frames;
    for (size_t index = 0; index < total; ++index) {
        const size_t begin = index * OtaFrame::kDataBytes;
        const size_t size = std::min(OtaFrame::kDataBytes, image.size() - begin);
        Bytes payload = krell::lidar::TunnelPrefix(krell::lidar::kTunnelOpSerialFrame);
        const Bytes ota =
            OtaFrame::Encode(OtaFrame::kTypeApp, static_cast<uint32_t>(total),
                             static_cast<uint32_t>(index), image.data() + begin, size);
        payload.insert(payload.end(), ota.begin(), ota.end());
        Bytes frame;
        parser.CmxRequestEncode(payload, frame, krell::lidar::kCmdTunnel);
        frames.push_back(std::move(frame));
    }
    return frames;
}

size_t TunnelReplyBytes() {
    return kCmxHeaderBytes + krell::lidar::kTunnelPrefixBytes +
           OtaFrame::EncodeReply(OtaFrame::kReplyAck, OtaFrame::kTypeApp, 0).size();
}

// One-connection loopback server: reads a CMX header and the payload it announces, answers with
// `reply_bytes` bytes. Only the bytes, nothing checked.
class BareFrameServer {
public:
    explicit BareFrameServer(size_t reply_bytes)
        : reply_(reply_bytes, 0x5A), server_([this](int fd) { Serve(fd); }, false) {}
    uint16_t Port() const { return server_.Port(); }

private:
    void Serve(int fd) {
        Bytes payload;
        uint8_t header[kCmxHeaderBytes];
        while (ReadExact(fd, header, sizeof(header))) {
            const size_t length = static_cast<size_t>(header[4]) << 24 |
                                  static_cast<size_t>(header[5]) << 16 |
                                  static_cast<size_t>(header[6]) << 8 | header[7];
            payload.resize(length);
            if (!ReadExact(fd, payload.data(), length) ||
                !WriteAll(fd, reply_.data(), reply_.size())) {
                break;
            }
        }
    }

    Bytes reply_;
    LoopbackServer server_;  // last: its thread uses the members above
};

// The client side of a bare ping-pong: every frame out, a reply of fixed size back.
class BarePingPong {
public:
    BarePingPong(std::vector<Bytes> frames, size_t reply_bytes)
        : frames_(std::move(frames)), reply_(reply_bytes), server_(reply_bytes) {
        fd_ = ConnectToLoopback(server_.Port());
    }
    ~BarePingPong() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Run() {
        if (fd_ < 0) return false;
        for (const Bytes& frame : frames_) {
            if (!WriteAll(fd_, frame.data(), frame.size()) ||
                !ReadExact(fd_, reply_.data(), reply_.size())) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<Bytes> frames_;
    Bytes reply_;
    BareFrameServer server_;
    int fd_ = -1;
};

// The virtual sensor as the lidar-sim program composes it for upgrades over CMX: built-in
// handlers, the 0xFF tunnel and the firmware side, served on loopback; and a client connected.
struct CmxSensor {
    std::shared_ptr<krell::lidar::sim::SimDevice> device =
        std::make_shared<krell::lidar::sim::SimDevice>();
    krell::lidar::sim::SerialSide side;
    std::shared_ptr<krell::lidar::sim::FirmwareSink> sink =
        std::make_shared<krell::lidar::sim::FirmwareSink>();
    std::unique_ptr<krell::lidar::sim::SimServer> server;
    std::unique_ptr<CmxClient> client;

    bool Start() {
        krell::lidar::sim::RegisterBuiltinHandlers(*device, "Corvel");
        if (!side.Start(*device, krell::lidar::sim::SerialSideOptions{})) return false;
        sink->Install(*device);
        server = std::make_unique<krell::lidar::sim::SimServer>(device);
        if (!server->Start(krell::lidar::sim::SimServerOptions{})) return false;
        client = std::make_unique<CmxClient>("127.0.0.1", server->Port(), false, 0, 1, "", "", "",
                                             kTimeoutMs, kTimeoutMs, 2.0f);
        for (int waited = 0; !client->IsOpen() && waited < kConnectWaitMs; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        client->SetUpgradeTimings(kTimeoutMs, kTimeoutMs, 0);
        return client->IsOpen();
    }

    //! True when the sensor holds the whole image the last upgrade sent.
    bool Holds(const Bytes& image) const { return sink->ImageComplete() && sink->Image() == image; }
};

// Route and baseline times summed over every run of a benchmark (repetitions included).
struct Pair {
    std::chrono::nanoseconds route{0};
    std::chrono::nanoseconds bare{0};
    double Ratio() const {
        return bare.count() > 0
                   ? static_cast<double>(route.count()) / static_cast<double>(bare.count())
                   : 0.0;
    }
};

// What the benchmarks measured, printed by main().
struct Figures {
    Pair file_stream;
    Pair tunnel;
    double serial_payload_bytes = 0.0;
    std::chrono::nanoseconds serial_whole{0};
    std::chrono::nanoseconds serial_streaming{0};
    bool failed = false;  // a run failed: its route's figure would cover only the runs before
};

Figures& Measured() {
    static Figures figures;
    return figures;
}

void Fail(benchmark::State& state, const std::string& why) {
    Measured().failed = true;
    state.SkipWithError(why.c_str());
}

double MiBps(size_t bytes, std::chrono::nanoseconds time, double iterations) {
    const double seconds = std::chrono::duration<double>(time).count() / iterations;
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

// Runs `route` and `bare` in turn each iteration, `check` (untimed: it copies the image the sensor
// holds) after each route run; sets the counters and adds the times to `sums` (nothing when
// something failed, after marking the benchmark skipped).
void InTurn(benchmark::State& state, const std::function<bool()>& route,
            const std::function<bool()>& check, const std::function<bool()>& bare, Pair& sums) {
    std::chrono::nanoseconds route_time{0};
    std::chrono::nanoseconds bare_time{0};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const bool routed = route();
        const auto t1 = Clock::now();
        const bool held = routed && check();
        const auto t1b = Clock::now();
        const bool moved = bare();
        const auto t2 = Clock::now();
        if (!held || !moved) {
            Fail(state, !routed
                            ? "upgrade failed"
                            : (!held ? "the sensor holds another image" : "bare ping-pong failed"));
            return;
        }
        route_time += t1 - t0;
        bare_time += t2 - t1b;
    }
    const double n = static_cast<double>(state.iterations());
    const double ratio =
        static_cast<double>(route_time.count()) / static_cast<double>(bare_time.count());
    state.counters["upgrade_MiBps"] = MiBps(kImageBytes, route_time, n);
    state.counters["bare_MiBps"] = MiBps(kImageBytes, bare_time, n);
    state.counters["upgrade_vs_bare"] = ratio;
    sums.route += route_time;
    sums.bare += bare_time;
}

void BM_FileStreamVsBareInTurn(benchmark::State& state) {
    CmxSensor sensor;
    if (!sensor.Start()) {
        Fail(state, "virtual sensor or connection not ready");
        return;
    }
    const Bytes& image = SharedImage();
    BarePingPong bare(FileStreamFrames(image), kCmxHeaderBytes);
    std::atomic<int32_t> progress{0};
    InTurn(
        state,
        [&] {
            return sensor.client->FileStreamUpgrade(image, kFileStreamCommand, progress) ==
                   krell::lidar::kUpgradeOk;
        },
        [&] { return sensor.Holds(image); }, [&] { return bare.Run(); }, Measured().file_stream);
}
BENCHMARK(BM_FileStreamVsBareInTurn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TunnelVsBareInTurn(benchmark::State& state) {
    CmxSensor sensor;
    if (!sensor.Start()) {
        Fail(state, "virtual sensor or connection not ready");
        return;
    }
    const Bytes& image = SharedImage();
    BarePingPong bare(TunnelFrames(image), TunnelReplyBytes());
    std::atomic<int32_t> progress{0};
    InTurn(
        state,
        [&] {
            return sensor.client->TunnelUpgrade(image, krell::lidar::kUpgradeModeApp, progress) ==
                   krell::lidar::kUpgradeOk;
        },
        [&] { return sensor.Holds(image); }, [&] { return bare.Run(); }, Measured().tunnel);
}
BENCHMARK(BM_TunnelVsBareInTurn)->Unit(benchmark::kMillisecond)->UseRealTime();

// The sensor's pty lines and a SerialClient on them, set up as DeviceBench sets up its two ports.
struct SerialRig {
    krell::lidar::sim::SerialResponder responder;
    std::shared_ptr<krell::lidar::sim::FirmwareSink> sink =
        std::make_shared<krell::lidar::sim::FirmwareSink>();
    std::unique_ptr<krell::lidar::sim::SerialLineSim> lines;
    std::shared_ptr<krell::lidar::SerialSource> uart;
    std::shared_ptr<krell::lidar::SerialSource> rs485;
    krell::lidar::SerialClient client;
    Clock::time_point streaming_began;
    // The last byte-flow text other than progress, and the last reply, for a failure message.
    std::string last_text;
    std::string last_reply;

    bool Start() {
        // Already in the boot loader: no mode change, no simulated switch-over pause, and no
        // point packets sharing the line with the frames' acknowledgements.
        krell::lidar::sim::UpgradeFaults boot_loader;
        boot_loader.boot_loader = true;
        sink->SetFaults(boot_loader);
        krell::lidar::sim::PointStream::Options quiet;
        quiet.packets_per_second = 0;
        lines = std::make_unique<krell::lidar::sim::SerialLineSim>(responder, quiet, sink);
        if (!lines->Start()) return false;
        uart = std::make_shared<krell::lidar::SerialSource>(lines->UartName(), 9600,
                                                            static_cast<uint32_t>(kLineBaud));
        uart->SetReceiveType(1);
        uart->SetReceiveThreadEnabled(false);
        rs485 = std::make_shared<krell::lidar::SerialSource>(lines->Rs485Name(), 115200,
                                                             static_cast<uint32_t>(kLineBaud));
        if (!uart->Open() || !rs485->Open()) return false;
        client.Init(uart, rs485);
        client.SetOtaReplyTimeoutMs(static_cast<int32_t>(kTimeoutMs));
        client.byte_flow_callback = [this](const std::string& line) {
            if (line == "begin to send ota data") streaming_began = Clock::now();
            if (line.rfind("RECV", 0) == 0) {
                last_reply = line;
            } else if (line.rfind("ota send", 0) != 0) {
                last_text = line;
            }
        };
        return true;
    }
};

// Payload bytes per second as a share of the line's byte rate.
double ShareOfLine(double payload_bytes, std::chrono::nanoseconds time, double iterations = 1.0) {
    const double seconds = std::chrono::duration<double>(time).count() / iterations;
    return payload_bytes / seconds / kLineBytesPerSecond;
}

// The most a 3,125,000-baud line could give: data bytes per OTA frame over the frame's bytes.
double PayloadShare() {
    const size_t frame_bytes =
        OtaFrame::kHeaderBytes + OtaFrame::kDataBytes + OtaFrame::kTrailerBytes;
    return static_cast<double>(OtaFrame::kDataBytes) / static_cast<double>(frame_bytes);
}

void BM_SerialUpgradeOverPty(benchmark::State& state) {
    SerialRig rig;
    if (!rig.Start()) {
        Fail(state, "pty lines not ready");
        return;
    }
    const Bytes& image = SharedImage();
    std::atomic<int32_t> progress{0};
    std::chrono::nanoseconds whole{0};
    std::chrono::nanoseconds streaming{0};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        rig.streaming_began = t0;
        const int32_t result =
            rig.client.SerialUpgrade(image, krell::lidar::kUpgradeModeApp, progress);
        const auto t1 = Clock::now();
        if (result != krell::lidar::kUpgradeOk || rig.sink->Image() != image) {
            const std::string why = "serial upgrade failed, result " + std::to_string(result) +
                                    ": " + rig.last_text + " (" + rig.last_reply + ")";
            Fail(state, why);
            return;
        }
        whole += t1 - t0;
        streaming += t1 - rig.streaming_began;
    }
    const double n = static_cast<double>(state.iterations());
    Figures& figures = Measured();
    figures.serial_payload_bytes += static_cast<double>(image.size()) * n;
    figures.serial_whole += whole;
    figures.serial_streaming += streaming;
    state.counters["payload_MiBps"] = MiBps(image.size(), whole, n);
    state.counters["share_of_line"] = ShareOfLine(static_cast<double>(image.size()), whole, n);
    state.counters["streaming_share_of_line"] =
        ShareOfLine(static_cast<double>(image.size()), streaming, n);
    state.counters["payload_share"] = PayloadShare();
}
BENCHMARK(BM_SerialUpgradeOverPty)->Unit(benchmark::kMillisecond)->UseRealTime();

void PrintCmxRatio(const char* route, const Pair& times) {
    const double ratio = times.Ratio();
    if (ratio <= 0.0) return;
    std::printf(
        "%s, 8 MiB / bare loopback ping-pong of the same frames: %.3fx  (target <= %.1fx)\n", route,
        ratio, kCmxTarget);
}

void PrintFigures() {
    const Figures& figures = Measured();
    std::printf("\n");
    if (figures.failed) {
        std::printf("a run failed (see above): no ratios\n");
        return;
    }
    PrintCmxRatio("CMX file stream", figures.file_stream);
    PrintCmxRatio("CMX tunnelled OTA", figures.tunnel);
    if (figures.serial_whole.count() <= 0) return;
    const double share = PayloadShare();
    const double whole = ShareOfLine(figures.serial_payload_bytes, figures.serial_whole);
    const double streaming = ShareOfLine(figures.serial_payload_bytes, figures.serial_streaming);
    std::printf(
        "serial OTA over ptys: payload %.3fx the 3,125,000-baud line rate (%.3fx while streaming);"
        " the line's payload share is %.3f, so %.3fx of it (%.3fx while streaming)  (target >= "
        "%.1fx; a pty does not pace at the baud rate: above 1.0 the line, not the software, "
        "bounds the upgrade)\n",
        whole, streaming, share, whole / share, streaming / share, kSerialTarget);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("SCRIBE_CONSOLE", "0", 0);
    ::setenv("SCRIBE_LOG_FILE", "", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    PrintFigures();
    benchmark::Shutdown();
    return 0;
}
