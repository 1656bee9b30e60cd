// The operation-log download of 8 MiB from the in-process virtual sensor with no reply
// delay: four parts of 2 MiB, each one CMX exchange. Timed against a bare loopback TCP transfer
// of the same bytes in the same chunks (a 14-byte request, then an 8-byte header and 2 MiB, four
// times, into a buffer that is reused). Compare BM_OperationLogDownload (the manager's whole
// download: queries, the four files, tar, clean-up) and BM_OperationLogFetch (only the four
// exchanges through CmxClient) with BM_BareTransfer, and the download with
// BM_BareTransferFilesAndTar (the bare transfer plus the same files and tar run); BM_DownloadVsBareInTurn runs the three in
// turn within each iteration, so that load from other processes falls on all alike, and reports
// their mean times and ratios as counters.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/child_process.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "bench/device_bench_support.h"
#include "bench/loopback_socket.h"
#include "tools/lidar-sim/sim_maintenance.h"

namespace {

using bench_support::ConnectToLoopback;
using bench_support::LoopbackServer;
using bench_support::ReadExact;
using bench_support::WriteAll;

constexpr const char* kModel = "Corvel";
constexpr size_t kParts = 4;
constexpr size_t kPartBytes = 2u * 1024u * 1024u;  // 8 MiB in all
constexpr size_t kRequestBytes = 8 + 6;            // CMX 1.0 header, tunnel prefix, selector
constexpr size_t kHeaderBytes = 8;
constexpr size_t kTunnelPrefixBytes = 4;
constexpr uint32_t kTimeoutMs = 4000;
constexpr int kConnectWaitMs = 5000;
const std::vector<uint8_t> kLogRequest = {0x00, 0x00, 0x01, 0x40};  // Corvel's Operation Log

// Loopback server: for every request of kRequestBytes it writes a header and one chunk.
class BareChunkServer {
public:
    BareChunkServer()
        : reply_(kHeaderBytes + kTunnelPrefixBytes + kPartBytes, 0x5A),
          server_([this](int fd) { Serve(fd); }, true) {}
    uint16_t Port() const { return server_.Port(); }

private:
    // One client at a time, each until it hangs up (the benchmark runs its function repeatedly).
    void Serve(int fd) {
        uint8_t request[kRequestBytes];
        while (ReadExact(fd, request, sizeof(request)) &&
               WriteAll(fd, reply_.data(), reply_.size())) {}
    }

    std::vector<uint8_t> reply_;
    LoopbackServer server_;  // last: its thread uses the members above
};

// The client side of the bare transfer.
class BareClient {
public:
    explicit BareClient(uint16_t port) : buffer_(kTunnelPrefixBytes + kPartBytes) {
        fd_ = ConnectToLoopback(port);
        ok_ = fd_ >= 0;
    }
    ~BareClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return ok_; }
    //! The four chunks, one request each; `on_chunk(part, bytes)` sees each one as it arrives.
    bool Transfer(const std::function<bool(size_t, const std::vector<uint8_t>&)>& on_chunk = {}) {
        uint8_t request[kRequestBytes] = {0x47, 0x74, 0xFF};
        uint8_t header[kHeaderBytes];
        for (size_t part = 0; part < kParts; ++part) {
            if (!WriteAll(fd_, request, sizeof(request)) ||
                !ReadExact(fd_, header, sizeof(header)) ||
                !ReadExact(fd_, buffer_.data(), buffer_.size()) ||
                (on_chunk && !on_chunk(part, buffer_))) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<uint8_t> buffer_;
    int fd_ = -1;
    bool ok_ = false;
};

// The virtual sensor (as the lidar-sim program composes it), a connected manager and a bare
// server, made once for the whole program.
struct Bench {
    bench_support::TableSim sim;
    std::shared_ptr<krell::lidar::sim::SimMaintenance> logs;
    std::unique_ptr<DeviceBenchManager> manager;
    std::unique_ptr<BareChunkServer> bare;
    std::string out_dir;
    bool ok = false;
};

Bench& Shared() {
    static Bench bench;
    static bool made = false;
    if (made) return bench;
    made = true;
    // The manager stages the logs under the documents location: keep it out of $HOME.
    const std::string home = bench_support::IsolateQtHome("bench_download");
    if (home.empty()) return bench;
    bench.out_dir = home + "/out";
    QDir().mkpath(QString::fromStdString(bench.out_dir));
    // The manager finds its tables below the working directory: DeviceBench/ of the source tree.
    const std::string table = krell::lidar::sim::TableResponder::FindTable(kModel);
    if (table.empty()) return bench;
    QDir::setCurrent(QFileInfo(QString::fromStdString(table)).absoluteDir().absolutePath() +
                     "/../..");
    if (!bench.sim.Load(table, kModel)) return bench;
    bench.logs = std::make_shared<krell::lidar::sim::SimMaintenance>();
    bench.logs->SetLogBytes(kPartBytes);
    bench.logs->Install(*bench.sim.device, kModel);
    if (!bench.sim.Serve()) return bench;
    bench.manager =
        std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    bench.manager->InitConfigFileParser(kModel);
    bench.manager->setIpAddress("127.0.0.1");
    bench.manager->setPort(QString::number(bench.sim.server->Port()));
    if (!bench.manager->ConnectLidar()) return bench;
    for (int waited = 0; !bench.manager->IsConnected() && waited < kConnectWaitMs; waited += 5) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    bench.bare = std::make_unique<BareChunkServer>();
    bench.ok = bench.manager->IsConnected();
    return bench;
}

//! The four exchanges of the download, as the manager makes them.
bool Fetch(krell::lidar::CmxClient& client, std::vector<uint8_t>& reply) {
    static const uint8_t selectors[kParts][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    for (const auto& selector : selectors) {
        std::vector<uint8_t> payload = kLogRequest;
        payload.push_back(selector[0]);
        payload.push_back(selector[1]);
        if (client.QueryCommandLongTimeout(payload, reply, 0xFF) != 0 ||
            reply.size() != kPartBytes) {
            return false;
        }
    }
    return true;
}

bool Download(Bench& bench) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(bench.out_dir + "/log.tar"));
    const bool ok = bench.manager->DownloadOperationLogThread(url) == 0;
    QCoreApplication::processEvents();  // the queued signals of the download
    return ok;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kParts * kPartBytes));
}

void BM_BareTransfer(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    BareClient client(bench.bare->Port());
    for (auto _ : state) {
        if (!client.Ok() || !client.Transfer()) {
            state.SkipWithError("bare transfer failed");
            return;
        }
    }
    SetBytes(state);
}
BENCHMARK(BM_BareTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OperationLogFetch(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    auto client = bench_support::OpenBareClient(bench.sim.server->Port(), kTimeoutMs);
    std::vector<uint8_t> reply;
    for (auto _ : state) {
        if (!Fetch(*client, reply)) {
            state.SkipWithError("operation-log exchange failed");
            return;
        }
    }
    SetBytes(state);
}
BENCHMARK(BM_OperationLogFetch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OperationLogDownload(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    for (auto _ : state) {
        if (!Download(bench)) {
            const std::string why = "download failed: " + bench.manager->errorMessage().toStdString();
            state.SkipWithError(why.c_str());
            return;
        }
    }
    SetBytes(state);
}
BENCHMARK(BM_OperationLogDownload)->Unit(benchmark::kMillisecond)->UseRealTime();

// The least a download into an archive can cost here: the bare transfer with each chunk written
// to its own file, the real tar over the four files (started as the manager starts it), the files
// removed. What the manager's
// download adds beyond this is its own overhead.
void BM_BareTransferFilesAndTar(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    BareClient client(bench.bare->Port());
    const std::string staging = bench.out_dir + "/bare_staging";
    QDir().mkpath(QString::fromStdString(staging));
    const QStringList names = {"part0.bin", "part1.bin", "part2.bin", "part3.bin"};
    const auto write_chunk = [&](size_t part, const std::vector<uint8_t>& bytes) {
        std::FILE* file = std::fopen((staging + "/" + names[static_cast<int>(part)].toStdString()).c_str(), "wb");
        if (!file) return false;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        return std::fclose(file) == 0 && ok;
    };
    for (auto _ : state) {
        if (!client.Ok() || !client.Transfer(write_chunk)) {
            state.SkipWithError("bare transfer failed");
            return;
        }
        std::vector<std::string> arguments{"-cvf", bench.out_dir + "/bare.tar"};
        for (const QString& name : names)
            arguments.push_back(name.toStdString());
        const ChildOutcome tar = ChildProcess::Run("tar", arguments, staging, 30000);
        if (tar.state != ChildOutcome::State::kExited || tar.exit_code != 0) {
            state.SkipWithError("tar failed");
            return;
        }
        for (const QString& name : names)
            std::remove((staging + "/" + name.toStdString()).c_str());
    }
    SetBytes(state);
}
BENCHMARK(BM_BareTransferFilesAndTar)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DownloadVsBareInTurn(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    BareClient bare(bench.bare->Port());
    auto client = bench_support::OpenBareClient(bench.sim.server->Port(), kTimeoutMs);
    std::vector<uint8_t> reply;
    std::chrono::nanoseconds download_time{0};
    std::chrono::nanoseconds fetch_time{0};
    std::chrono::nanoseconds bare_time{0};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool downloaded = Download(bench);
        const auto t1 = std::chrono::steady_clock::now();
        const bool fetched = Fetch(*client, reply);
        const auto t2 = std::chrono::steady_clock::now();
        const bool moved = bare.Ok() && bare.Transfer();
        const auto t3 = std::chrono::steady_clock::now();
        if (!downloaded || !fetched || !moved) {
            state.SkipWithError("a transfer failed");
            return;
        }
        download_time += t1 - t0;
        fetch_time += t2 - t1;
        bare_time += t3 - t2;
    }
    const double n = static_cast<double>(state.iterations());
    const auto ms = [n](std::chrono::nanoseconds t) {
        return std::chrono::duration<double, std::milli>(t).count() / n;
    };
    state.counters["download_ms"] = ms(download_time);
    state.counters["fetch_ms"] = ms(fetch_time);
    state.counters["bare_ms"] = ms(bare_time);
    state.counters["download_vs_bare"] = ms(download_time) / ms(bare_time);
    state.counters["fetch_vs_bare"] = ms(fetch_time) / ms(bare_time);
}
BENCHMARK(BM_DownloadVsBareInTurn)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ::setenv("SCRIBE_CONSOLE", "0", 0);
    ::setenv("SCRIBE_LOG_FILE", "", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
