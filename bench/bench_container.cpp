// Parsing a 200 MB network file (written to a temporary folder at start) next to reading the
// same file into memory. Prints the parse time as a ratio to the plain read, and the peak
// resident memory of a fresh process that only parses, as a ratio to the file size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/common/log.h"
#include "module/common/util.h"
#include "module/network/nvidia/network_parser.h"

namespace {

constexpr uint64_t kWeightBytes = 200ULL * 1024 * 1024;
constexpr uint64_t kChunkBytes = 4ULL * 1024 * 1024;

std::string writeNetworkFile(const std::string& dir) {
    std::string description = "[";
    for (int i = 0; i < 200; ++i) {
        description += std::string(i > 0 ? "," : "") + R"({"name":"n)" + std::to_string(i) +
                       R"(","layers":[{"name":"conv","type":"convolutional","pre_nodes":[]}]})";
    }
    description += "]";
    const std::string header = R"({"vorx_version":"0.0.2","trt_model":{"config_length":)" +
                               std::to_string(description.size()) + R"(,"weight_length":)" +
                               std::to_string(kWeightBytes) + R"(,"scale_length":0}})";
    const std::string path = dir + "/network.bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto length = static_cast<uint32_t>(header.size());
    out.write(reinterpret_cast<const char*>(&length), 4);  // little-endian host
    out << krell::det::stringEncrypt(header) << krell::det::stringEncrypt(description);
    std::vector<char> chunk(kChunkBytes, '\x3c');
    for (uint64_t written = 0; written < kWeightBytes; written += kChunkBytes) {
        out.write(chunk.data(), static_cast<std::streamsize>(kChunkBytes));
    }
    return path;
}

struct Fixture {
    std::string dir;
    std::string path;
    uint64_t bytes = 0;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

bool readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto size = static_cast<size_t>(in.tellg());
    in.seekg(0);
    std::unique_ptr<char[]> bytes(new char[size]);
    in.read(bytes.get(), static_cast<std::streamsize>(size));
    benchmark::DoNotOptimize(bytes.get());
    return static_cast<size_t>(in.gcount()) == size;
}

bool parseOnce(const std::string& path) {
    krell::det::NetworkParser parser(path, path + ".engine");
    const bool ok = parser.parse();
    benchmark::DoNotOptimize(parser.getWeights());
    return ok;
}

void BM_ReadFileIntoMemory(benchmark::State& state) {
    for (auto _ : state) {
        if (!readWhole(fixture().path)) {
            state.SkipWithError("read failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture().bytes));
}

void BM_ParseNetworkFile(benchmark::State& state) {
    for (auto _ : state) {
        if (!parseOnce(fixture().path)) {
            state.SkipWithError("parse failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture().bytes));
}

BENCHMARK(BM_ReadFileIntoMemory)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ParseNetworkFile)->Unit(benchmark::kMillisecond)->Repetitions(5);

// Keeps the median time per iteration of each benchmark for the ratio line.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double median(const std::string& name) const {
        const auto found = medians_.find(name);
        return found == medians_.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> medians_;
};

//! Peak resident kilobytes of a fresh process (this program re-run) doing one task.
long childPeakKb(const char* self, const char* task) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, task, fixture().path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    // Child modes for the memory measurement: one task, then exit.
    if (argc == 3 && std::strcmp(argv[1], "--parse-once") == 0) {
        krell::det::setLogSink([](uint8_t, const std::string&) {});
        return parseOnce(argv[2]) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--idle") == 0) {
        return 0;
    }
    char pattern[] = "/tmp/bench-container-XXXXXX";
    fixture().dir = mkdtemp(pattern);
    fixture().path = writeNetworkFile(fixture().dir);
    fixture().bytes = std::filesystem::file_size(fixture().path);
    krell::det::setLogSink([](uint8_t, const std::string&) {});

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double read = reporter.median("BM_ReadFileIntoMemory");
    const double parse = reporter.median("BM_ParseNetworkFile");
    if (read > 0.0) {
        std::printf("\nparse / read into memory (median): %.3fx  (target <= 1.3x)\n", parse / read);
    }
    const long idleKb = childPeakKb(argv[0], "--idle");
    const long parseKb = childPeakKb(argv[0], "--parse-once");
    const double fileKb = static_cast<double>(fixture().bytes) / 1024.0;
    std::printf(
        "file %.1f MiB; peak RSS of a parsing process %.1f MiB = %.3fx the file "
        "(target <= 1.5x); an idle process of this program: %.1f MiB\n",
        fileKb / 1024.0, static_cast<double>(parseKb) / 1024.0,
        static_cast<double>(parseKb) / fileKb, static_cast<double>(idleKb) / 1024.0);
    std::filesystem::remove_all(fixture().dir);
    benchmark::Shutdown();
    return 0;
}
