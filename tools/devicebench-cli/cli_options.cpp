#include "tools/devicebench-cli/cli_options.h"

#include <functional>
#include <map>

#include "tools/devicebench-cli/exit_code.h"

namespace {

constexpr int kMaxJobs = 64;
constexpr int kMaxWaitS = 600;

int Number(const std::string& option, const std::string& text, int low, int high) {
    size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < low || value > high) {
        throw CliFailure(ExitCode::kUsage, option + " wants a whole number from " +
                                               std::to_string(low) + " to " + std::to_string(high) +
                                               ", not \"" + text + "\"");
    }
    return value;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    for (char c : text + ",") {
        if (c != ',') {
            item += c;
        } else if (!item.empty()) {
            items.push_back(item);
            item.clear();
        }
    }
    return items;
}

using Setter = std::function<void(CliOptions&, const std::vector<std::string>&)>;

struct OptionSpec {
    int values;
    Setter set;
};

const std::map<std::string, OptionSpec>& Specs() {
    static const std::map<std::string, OptionSpec> specs = {
        {"--model", {1, [](CliOptions& o, const auto& v) { o.model = v[0]; }}},
        {"--host", {1, [](CliOptions& o, const auto& v) { o.host = v[0]; }}},
        {"--port", {1, [](CliOptions& o, const auto& v) { o.port = v[0]; }}},
        {"--baud", {1, [](CliOptions& o, const auto& v) { o.baud = v[0]; }}},
        {"--tls",
         {3,
          [](CliOptions& o, const auto& v) {
              o.cert_path = v[0];
              o.key_path = v[1];
              o.ca_path = v[2];
          }}},
        {"--serial",
         {2,
          [](CliOptions& o, const auto& v) {
              o.rs485 = v[0];
              o.uart = v[1];
          }}},
        {"--tables", {1, [](CliOptions& o, const auto& v) { o.tables_dir = v[0]; }}},
        {"--out", {1, [](CliOptions& o, const auto& v) { o.out = v[0]; }}},
        {"--sensors", {1, [](CliOptions& o, const auto& v) { o.sensors = SplitList(v[0]); }}},
        {"--jobs",
         {1, [](CliOptions& o, const auto& v) { o.jobs = Number("--jobs", v[0], 1, kMaxJobs); }}},
        {"--wait",
         {1,
          [](CliOptions& o, const auto& v) { o.wait_s = Number("--wait", v[0], 0, kMaxWaitS); }}},
        {"--mode",
         {1, [](CliOptions& o, const auto& v) { o.upgrade_mode = Number("--mode", v[0], 0, 2); }}},
        {"--json", {0, [](CliOptions& o, const auto&) { o.json = true; }}},
        {"--force", {0, [](CliOptions& o, const auto&) { o.force = true; }}},
        {"--dry-run", {0, [](CliOptions& o, const auto&) { o.dry_run = true; }}},
        {"--with-address", {0, [](CliOptions& o, const auto&) { o.with_address = true; }}},
        {"--verbose", {0, [](CliOptions& o, const auto&) { o.verbose = true; }}},
        {"-v", {0, [](CliOptions& o, const auto&) { o.verbose = true; }}},
        {"--help", {0, [](CliOptions& o, const auto&) { o.help = true; }}},
        {"-h", {0, [](CliOptions& o, const auto&) { o.help = true; }}},
    };
    return specs;
}

}  // namespace

CliOptions CliOptions::Parse(const std::vector<std::string>& args) {
    CliOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const auto spec = Specs().find(word);
        if (spec == Specs().end()) {
            // "-" alone and negative numbers are values, not options.
            const bool looks_like_option =
                word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
            if (looks_like_option) throw CliFailure(ExitCode::kUsage, "unknown option " + word);
            if (options.verb.empty()) {
                options.verb = word;
            } else {
                options.args.push_back(word);
            }
            continue;
        }
        const size_t count = static_cast<size_t>(spec->second.values);
        if (i + count >= args.size() && count > 0) {
            throw CliFailure(ExitCode::kUsage, word + " needs " + std::to_string(count) +
                                                   (count == 1 ? " value" : " values"));
        }
        const std::vector<std::string> values(args.begin() + static_cast<long>(i) + 1,
                                              args.begin() + static_cast<long>(i + count) + 1);
        spec->second.set(options, values);
        i += count;
    }
    return options;
}
