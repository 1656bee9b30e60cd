// Loading a variable table: ConfigParser over a generated 5,000-row table, against a bare libcsv
// pass over the same file (read, split into cells, nothing kept) measured in the same run. The
// ratio of the two is the loader's own cost.

#include <benchmark/benchmark.h>
#include <csv.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"

namespace {

constexpr int kRows = 5000;
constexpr int kPages = 10;
constexpr int kSectionsPerPage = 5;
constexpr int kVarsPerCommand = 20;
constexpr size_t kReadChunkBytes = 64 * 1024;

// A table shaped like the shipped ones: page rows, then variables in groups of one get and one set
// command, with option lists, quoted multi-line descriptions and page placements.
std::string MakeTable() {
    std::string text =
        "GroupID,Index,VarName,Get,Set,SetIndex,Permission,VarType,DefaultValue,Options,Unit,"
        "Coefficient,OptionDescription,FunctionModule,VarLen,TimerUpdate,SetCoefficient,"
        "GetCmdPayload\n";
    for (int p = 0; p < kPages; ++p) {
        text += "0,Page " + std::to_string(p);
        for (int s = 0; s < kSectionsPerPage; ++s)
            text += ",Section " + std::to_string(s);
        text += std::string(17 - 1 - kSectionsPerPage, ',') + "\n";
    }
    std::vector<int> next_position(kPages * kSectionsPerPage, 1);
    for (int i = 0; i < kRows - kPages; ++i) {
        const int command = i / kVarsPerCommand;
        const int section = command % (kPages * kSectionsPerPage);
        const std::string get = "0x" + std::to_string(10 + command % 80);
        const std::string set = "0x" + std::to_string(10 + command % 80) + "1";
        const std::string payload = "0x" + std::to_string(10 + command / 80);
        const std::string place = std::to_string(section / kSectionsPerPage + 1) + "_" +
                                  std::to_string(section % kSectionsPerPage + 1) + "_" +
                                  std::to_string(next_position[section]++) + "_3";
        text += std::to_string(command + 1) + "," + std::to_string(i % kVarsPerCommand + 1) +
                ",Variable " + std::to_string(i) + "," + get + "," + set + "," +
                std::to_string(i % kVarsPerCommand) + ",1,uint16,1,0|1|2,rpm,0.01," +
                "\"0_Off\n1_On\n2_Auto\"," + place + ",2,1,0.01," + payload + "\n";
    }
    return text;
}

class TableFile {
public:
    TableFile() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-table-XXXXXX").string();
        if (mkdtemp(&pattern[0]) == nullptr) std::abort();
        dir_ = pattern;
        path_ = dir_ + "/Generated.csv";
        std::ofstream(path_, std::ios::binary) << MakeTable();
    }
    ~TableFile() { std::filesystem::remove_all(dir_); }
    const std::string& Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

const TableFile& Table() {
    static const TableFile file;
    return file;
}

void CountCell(void*, size_t, void* counts) {
    ++static_cast<size_t*>(counts)[0];
}
void CountRow(int, void* counts) {
    ++static_cast<size_t*>(counts)[1];
}

void BM_BareLibcsvPass(benchmark::State& state) {
    const std::string& path = Table().Path();
    for (auto _ : state) {
        size_t counts[2] = {0, 0};
        csv_parser parser;
        csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI);
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::vector<char> chunk(kReadChunkBytes);
        size_t got = 0;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
            csv_parse(&parser, chunk.data(), got, CountCell, CountRow, counts);
        }
        csv_fini(&parser, CountCell, CountRow, counts);
        std::fclose(file);
        csv_free(&parser);
        benchmark::DoNotOptimize(counts);
        state.counters["rows"] = static_cast<double>(counts[1]);
    }
}
BENCHMARK(BM_BareLibcsvPass)->Unit(benchmark::kMillisecond);

void BM_ConfigParserLoad(benchmark::State& state) {
    const std::string& path = Table().Path();
    for (auto _ : state) {
        std::unique_ptr<ConfigParser> parser(new ConfigParser(path));
        parser->SetEchoDiagnostics(false);
        if (!parser->ExtractConfigInfo()) state.SkipWithError("the generated table did not load");
        benchmark::DoNotOptimize(parser->all_vars().size());
        // The manager keeps every table it loads, so tearing one down is not part of loading it.
        state.PauseTiming();
        state.counters["vars"] = static_cast<double>(parser->all_vars().size());
        state.counters["diagnostics"] = static_cast<double>(parser->Diagnostics().size());
        parser.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConfigParserLoad)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
