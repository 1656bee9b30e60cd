// devicebench-cli against in-process virtual sensors (no reply delay).
//
// BM_SnapshotVsBareInTurn: SnapshotOperation::Take (what `snapshot` does once connected) of
// every Corvel variable, next to the same number of bare CmxClient::QueryCommand calls carrying
// the same commands and payloads, in turn within each iteration. Counters: the exchanges one
// snapshot took and the distinct get commands of its variables (they must be equal), both mean
// times and their ratio.
//
// BM_ApplyEightVsOneInTurn: `apply FILE --sensors ...` to eight sensors with --jobs 8, next to
// the same apply to one, in turn; every iteration changes four values on each sensor (two
// snapshot files alternate). Counters: both mean times and their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceBenchCore/snapshot/snapshot_operation.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "bench/device_bench_support.h"
#include "tools/devicebench-cli/devicebench_cli.h"
#include "tools/devicebench-cli/sensor_session.h"

namespace {

using bench_support::GetQuery;
using bench_support::TableSim;

constexpr int kRigSize = 8;
constexpr const char* kModel = "Corvel";
const std::string kTables = std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID";

struct Bench {
    std::vector<TableSim> rig;      // rig[0] also serves the snapshot timings
    std::vector<GetQuery> queries;  // distinct get commands of the snapshot's variables
    std::string files[2];           // two snapshots that differ in four writable values
    bool ok = false;
};

int Cli(std::vector<std::string> args, const TableSim& sim) {
    std::vector<std::string> all = {"--tables",  kTables,  "--host",
                                    "127.0.0.1", "--port", std::to_string(sim.server->Port())};
    all.insert(all.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    return RunCli(all, out, err);
}

void PlanQueries(Bench& bench) {
    ConfigParser table(kTables + "/Corvel.csv");
    table.SetEchoDiagnostics(false);
    table.ExtractConfigInfo();
    std::map<std::string, GetQuery> groups;
    for (const VarInfo* var : table.all_vars()) {
        if (SnapshotOperation::Snapshotted(*var)) bench_support::AddGetQuery(*var, groups);
    }
    bench.queries = bench_support::QueriesOf(groups);
}

Bench& Shared() {
    static Bench bench;
    static bool made = false;
    if (made) return bench;
    made = true;
    const std::string home = bench_support::IsolateQtHome("bench_cli");
    if (home.empty()) return bench;
    bench.rig.resize(kRigSize);
    for (TableSim& sim : bench.rig) {
        if (!sim.Start(kTables + "/Corvel.csv", kModel)) return bench;
    }
    PlanQueries(bench);
    bench.files[0] = home + "/defaults.json";
    bench.files[1] = home + "/edited.json";
    const TableSim& source = bench.rig[0];
    bench.ok = Cli({"snapshot", "--out", bench.files[0]}, source) == 0 &&
               Cli({"set", "Max Range=123", "Noise Filter Level=9", "Azimuth Offset=1.25",
                    "PTP Domain=42"},
                   source) == 0 &&
               Cli({"snapshot", "--out", bench.files[1]}, source) == 0;
    return bench;
}

std::string Sensors(const Bench& bench, int count) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? "," : "") + bench.rig[static_cast<size_t>(i)].Address();
    return list;
}

void BM_SnapshotVsBareInTurn(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensors not ready");
        return;
    }
    const TableSim& sim = bench.rig[0];
    CliReporter reporter;
    SensorSession sensor(reporter);
    SensorTarget target;
    target.model = kModel;
    target.tables_dir = kTables;
    target.settings.ip_address = "127.0.0.1";
    target.settings.port = std::to_string(sim.server->Port());
    sensor.Connect(target);
    const auto client = bench_support::OpenBareClient(sim.server->Port());
    std::vector<uint8_t> reply;
    std::chrono::nanoseconds snapshot_time{0};
    std::chrono::nanoseconds bare_time{0};
    uint64_t exchanges = 0;
    size_t variables = 0;
    for (auto _ : state) {
        std::vector<std::string> unread;
        const uint64_t before = sim.server->RequestCount();
        const auto t0 = std::chrono::steady_clock::now();
        variables = sensor.Snapshots().Take(unread).entries.size();
        const auto t1 = std::chrono::steady_clock::now();
        exchanges = sim.server->RequestCount() - before;
        for (const GetQuery& query : bench.queries)
            client->QueryCommand(query.payload, reply, query.code);
        const auto t2 = std::chrono::steady_clock::now();
        snapshot_time += t1 - t0;
        bare_time += t2 - t1;
        if (!unread.empty()) state.SkipWithError("a variable was not read");
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["variables"] = static_cast<double>(variables);
    state.counters["exchanges"] = static_cast<double>(exchanges);
    state.counters["get_cmds"] = static_cast<double>(bench.queries.size());
    state.counters["snapshot_us"] =
        std::chrono::duration<double, std::micro>(snapshot_time).count() / n;
    state.counters["bare_us"] = std::chrono::duration<double, std::micro>(bare_time).count() / n;
    state.counters["ratio"] = static_cast<double>(snapshot_time.count()) /
                              static_cast<double>(std::max<int64_t>(1, bare_time.count()));
}
BENCHMARK(BM_SnapshotVsBareInTurn)->Unit(benchmark::kMicrosecond);

void BM_ApplyEightVsOneInTurn(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensors not ready");
        return;
    }
    const std::string eight = Sensors(bench, kRigSize);
    const std::string one = Sensors(bench, 1);
    Cli({"apply", bench.files[1], "--sensors", eight, "--jobs", "8"}, bench.rig[0]);
    std::chrono::nanoseconds eight_time{0};
    std::chrono::nanoseconds one_time{0};
    int round = 0;  // the rig holds bench.files[(round + 1) % 2]
    for (auto _ : state) {
        // The file that differs from what the rig holds now, so that every apply writes.
        const std::string& file = bench.files[round++ % 2];
        const auto t0 = std::chrono::steady_clock::now();
        const int code_eight =
            Cli({"apply", file, "--sensors", eight, "--jobs", "8"}, bench.rig[0]);
        const auto t1 = std::chrono::steady_clock::now();
        // The single sensor got `file` above; it takes the other one, which differs as much.
        const int code_one = Cli({"apply", bench.files[round % 2], "--sensors", one}, bench.rig[0]);
        const auto t2 = std::chrono::steady_clock::now();
        Cli({"apply", file, "--sensors", one}, bench.rig[0]);  // back in step with the rig
        eight_time += t1 - t0;
        one_time += t2 - t1;
        if (code_eight != 0 || code_one != 0) state.SkipWithError("an apply failed");
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["eight_ms"] = std::chrono::duration<double, std::milli>(eight_time).count() / n;
    state.counters["one_ms"] = std::chrono::duration<double, std::milli>(one_time).count() / n;
    state.counters["ratio"] = static_cast<double>(eight_time.count()) /
                              static_cast<double>(std::max<int64_t>(1, one_time.count()));
}
BENCHMARK(BM_ApplyEightVsOneInTurn)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
