// Fuzzes the variable table loader: the input is a whole table file. Loading may fail with a
// TableError; anything else (a crash, a leak, undefined behaviour, another exception) is a bug.
// Each loaded variable's default value also goes through its value parser, and every variable is
// looked up the ways the manager looks it up.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/parsers/make_str_parser.h"
#include "DeviceBenchCore/table/table_error.h"

namespace {

// The loader reads files, so each input is written to one scratch file, removed at exit.
class ScratchFile {
public:
    ScratchFile() : path_("/tmp/fuzz-table-" + std::to_string(getpid()) + ".csv") {}
    ~ScratchFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

const std::string& InputPath() {
    static const ScratchFile file;
    return file.Path();
}

void Exercise(ConfigParser& parser) {
    for (VarInfo* var : parser.all_vars()) {
        int32_t start = 0;
        int32_t length = 0;
        parser.GetVarPosOffset(var->var_id, var->get_cmd, 7, start, length);
        parser.GetVarPosOffset(var->var_id, var->set_cmd, 7, start, length);
        parser.FindByName(var->var_name);
        if (std::unique_ptr<StrParser> encoder = MakeStrParser(var->var_type)) {
            try {
                encoder->Parse(var->current_val, var->set_coefficient);
            } catch (const std::invalid_argument&) {
            } catch (const std::out_of_range&) {}
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    ConfigParser parser(InputPath());
    parser.SetEchoDiagnostics(false);
    try {
        parser.ExtractConfigInfo();
    } catch (const TableError&) {}
    Exercise(parser);
    return 0;
}
