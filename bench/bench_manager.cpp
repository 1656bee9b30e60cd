// Reading every page of Corvel through DeviceBenchManager against the in-process virtual sensor
// (no reply delay), next to the same number of bare CmxClient::QueryCommand calls carrying the
// same commands and payloads. Compare the time of BM_ManagerReadAllPages with BM_BareQueries
// from the same run; the counters give the exchanges each page took and the distinct get commands
// it has (they must be equal). BM_ManagerSave times one save of one edited value.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "bench/device_bench_support.h"

namespace {

using bench_support::GetQuery;
using bench_support::kConnectWaitMs;

constexpr const char* kModel = "Corvel";

// The virtual sensor, the manager and a bare client, made once for the whole program.
struct Bench {
    bench_support::TableSim sim;
    std::unique_ptr<DeviceBenchManager> manager;
    std::unique_ptr<ConfigParser> table;
    std::vector<std::vector<GetQuery>> page_queries;  // the distinct get commands of each page
    bool ok = false;
};

bool WaitConnected(DeviceBenchManager& manager) {
    for (int waited = 0; waited < kConnectWaitMs; waited += 5) {
        if (manager.IsConnected()) return true;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void PlanQueries(Bench& bench) {
    for (const auto& page : bench.table->pages()) {
        std::map<std::string, GetQuery> groups;
        for (const auto& section : page) {
            for (const VarInfo* var : section)
                bench_support::AddGetQuery(*var, groups);
        }
        bench.page_queries.push_back(bench_support::QueriesOf(groups));
    }
}

Bench& Shared() {
    static Bench bench;
    static bool made = false;
    if (made) return bench;
    made = true;
    // The manager writes its settings file under the documents location: keep it out of $HOME.
    if (bench_support::IsolateQtHome("bench_manager").empty()) return bench;
    QDir::setCurrent(KRELL_DEVICEBENCH_DIR);
    if (!bench.sim.Start("./Config/varID/Corvel.csv", kModel)) return bench;
    bench.table = std::make_unique<ConfigParser>("./Config/varID/Corvel.csv");
    bench.table->SetEchoDiagnostics(false);
    bench.table->ExtractConfigInfo();
    PlanQueries(bench);
    bench.manager =
        std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    bench.manager->InitConfigFileParser(kModel);
    bench.manager->setIpAddress("127.0.0.1");
    bench.manager->setPort(QString::number(bench.sim.server->Port()));
    bench.ok = bench.manager->ConnectLidar() && WaitConnected(*bench.manager);
    return bench;
}

void BM_ManagerReadAllPages(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    const int pages = static_cast<int>(bench.page_queries.size());
    std::vector<uint64_t> exchanges(static_cast<size_t>(pages), 0);
    for (auto _ : state) {
        for (int page = 0; page < pages; ++page) {
            const uint64_t before = bench.sim.server->RequestCount();
            bench.manager->GetLidarModuleInfo(page);
            exchanges[static_cast<size_t>(page)] = bench.sim.server->RequestCount() - before;
        }
    }
    for (int page = 0; page < pages; ++page) {
        const std::string p = std::to_string(page);
        state.counters["page" + p + "_exchanges"] =
            static_cast<double>(exchanges[static_cast<size_t>(page)]);
        state.counters["page" + p + "_get_cmds"] =
            static_cast<double>(bench.page_queries[static_cast<size_t>(page)].size());
    }
}
BENCHMARK(BM_ManagerReadAllPages)->Unit(benchmark::kMicrosecond);

void BM_BareQueries(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor not ready");
        return;
    }
    const auto client = bench_support::OpenBareClient(bench.sim.server->Port());
    std::vector<uint8_t> reply;
    for (auto _ : state) {
        for (const auto& page : bench.page_queries) {
            for (const GetQuery& query : page) {
                if (client->QueryCommand(query.payload, reply, query.code) != 0) {
                    state.SkipWithError("bare query failed");
                    return;
                }
            }
        }
    }
}
BENCHMARK(BM_BareQueries)->Unit(benchmark::kMicrosecond);

// Both reads in turn within each iteration, so that load from other processes falls on both
// alike; the counters give their mean times and the ratio.
void BM_ReadVsBareInTurn(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    const auto client = bench_support::OpenBareClient(bench.sim.server->Port());
    const int pages = static_cast<int>(bench.page_queries.size());
    std::vector<uint8_t> reply;
    std::chrono::nanoseconds manager_time{0};
    std::chrono::nanoseconds bare_time{0};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int page = 0; page < pages; ++page)
            bench.manager->GetLidarModuleInfo(page);
        const auto t1 = std::chrono::steady_clock::now();
        for (const auto& page : bench.page_queries) {
            for (const GetQuery& query : page)
                client->QueryCommand(query.payload, reply, query.code);
        }
        const auto t2 = std::chrono::steady_clock::now();
        manager_time += t1 - t0;
        bare_time += t2 - t1;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["manager_us"] =
        std::chrono::duration<double, std::micro>(manager_time).count() / n;
    state.counters["bare_us"] = std::chrono::duration<double, std::micro>(bare_time).count() / n;
    state.counters["ratio"] = static_cast<double>(manager_time.count()) /
                              static_cast<double>(std::max<int64_t>(1, bare_time.count()));
}
BENCHMARK(BM_ReadVsBareInTurn)->Unit(benchmark::kMicrosecond);

void BM_ManagerSave(benchmark::State& state) {
    Bench& bench = Shared();
    if (!bench.ok) {
        state.SkipWithError("virtual sensor or connection not ready");
        return;
    }
    constexpr int kPointCloud = 2;
    int value = 100;
    for (auto _ : state) {
        state.PauseTiming();
        if (!bench.manager->IsConnected() &&
            !(bench.manager->ConnectLidar() && WaitConnected(*bench.manager))) {
            state.SkipWithError("reconnect failed");
            return;
        }
        bench.manager->SetText(1, kPointCloud, 0, 2, QString::number(value++ % 300 + 1));
        state.ResumeTiming();
        bench.manager->Run(kPointCloud);  // one read of 0x0D, one write of 0x2D
    }
}
BENCHMARK(BM_ManagerSave)->Unit(benchmark::kMicrosecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
