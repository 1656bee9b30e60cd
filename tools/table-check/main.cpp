// devicebench-table-check: loads variable tables the way DeviceBench does and reports every
// problem with file and row, then what the table defines. Exit status 0 when every table is
// clean, 1 when anything was reported, 2 for a usage error.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/table_error.h"
#include "tools/table-check/table_lint.h"

namespace {

void PrintDiagnostic(const std::string& file, const ConfigParser::Diagnostic& d) {
    if (d.row > 0) {
        std::printf("%s:%d: %s\n", file.c_str(), d.row, d.text.c_str());
    } else {
        std::printf("%s: %s\n", file.c_str(), d.text.c_str());
    }
}

void PrintLayout(const char* kind, const std::map<std::string, std::vector<VarInfo*>>& groups,
                 bool get) {
    std::printf("  %s commands: %zu\n", kind, groups.size());
    for (const auto& group : groups) {
        int64_t end = 0;
        std::printf("    %s:", group.first.c_str());
        for (const VarInfo* var : group.second) {
            const int32_t start = get ? var->get_start_pos : var->set_start_pos;
            std::printf(" [%d+%d %s %s]", start, var->offset, var->var_type.c_str(),
                        var->var_name.c_str());
            end = static_cast<int64_t>(start) + var->offset;
        }
        std::printf(" = %lld bytes\n", static_cast<long long>(end));
    }
}

void PrintSummary(const ConfigParser& parser) {
    size_t sections = 0;
    for (const auto& level1 : parser.pages())
        sections += level1.size();
    std::printf("  pages: %zu, sections: %zu, variables: %zu, unplaced: %zu\n",
                parser.page_names().size(), sections, parser.all_vars().size(),
                parser.unplaced_vars().size());
    for (const auto& names : parser.page_names()) {
        std::printf("    %s:", names.empty() ? "" : names[0].c_str());
        for (size_t i = 1; i < names.size(); ++i)
            std::printf(" [%s]", names[i].c_str());
        std::printf("\n");
    }
    PrintLayout("get", parser.get_groups(), true);
    PrintLayout("set", parser.set_groups(), false);
}

// Returns the number of problems reported for one table.
size_t CheckTable(const std::string& path) {
    ConfigParser parser(path);
    parser.SetEchoDiagnostics(false);
    bool complete = false;
    try {
        complete = parser.ExtractConfigInfo();
    } catch (const TableError&) {
        // Already the last diagnostic; the rows before it are summarised below.
    }
    std::vector<ConfigParser::Diagnostic> problems = parser.Diagnostics();
    if (complete) {
        std::vector<ConfigParser::Diagnostic> lint = TableLint(parser).Run();
        problems.insert(problems.end(), lint.begin(), lint.end());
    }
    for (const auto& d : problems)
        PrintDiagnostic(path, d);
    std::printf("%s: %s, %zu problem(s)\n", path.c_str(), complete ? "loaded" : "NOT loaded",
                problems.size());
    if (parser.OpenError().empty()) PrintSummary(parser);
    return problems.size() + (complete ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TABLE.csv [TABLE.csv ...]\n", argv[0]);
        return 2;
    }
    size_t problems = 0;
    for (int i = 1; i < argc; ++i)
        problems += CheckTable(argv[i]);
    return problems == 0 ? 0 : 1;
}
