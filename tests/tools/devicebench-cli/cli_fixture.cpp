#include "tests/tools/devicebench-cli/cli_fixture.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <sstream>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tools/devicebench-cli/devicebench_cli.h"

namespace krell {
namespace test {

QJsonObject CliRun::Json() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
}

CliRun RunCliNow(const std::vector<std::string>& args) {
    EnsureManagerApp();
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.code = RunCli(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::vector<std::string> AtPort(uint16_t port, const std::string& model,
                                std::vector<std::string> args) {
    std::vector<std::string> all = {
        "--tables", std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID",
        "--model",  model,
        "--host",   "127.0.0.1",
        "--port",   std::to_string(port)};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

std::vector<std::string> At(const TableSim& sim, const std::string& model,
                            std::vector<std::string> args) {
    return AtPort(sim.Port(), model, std::move(args));
}

std::vector<std::string> At(const TableSim& sim, std::vector<std::string> args) {
    return At(sim, "Corvel", std::move(args));
}

std::vector<uint8_t> SetCodes(const std::string& model) {
    ConfigParser table(std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID/" + model + ".csv");
    table.SetEchoDiagnostics(false);
    table.ExtractConfigInfo();
    std::set<uint8_t> codes;
    for (const auto& group : table.set_groups()) {
        CmxCommand command;
        if (CmxCommand::FromText(group.first, command)) codes.insert(command.code);
    }
    return std::vector<uint8_t>(codes.begin(), codes.end());
}

void RefuseSetsAfter(TableSim& sim, const std::string& model, int accepted) {
    auto count = std::make_shared<std::atomic<int>>(0);
    for (uint8_t code : SetCodes(model)) {
        lidar::sim::CommandHandler inner = sim.Device().HandlerFor(code);
        sim.Device().SetHandler(code,
                                [inner, count, accepted](const lidar::sim::SimRequest& request) {
                                    if (count->fetch_add(1) < accepted) return inner(request);
                                    lidar::sim::SimReply refusal;
                                    refusal.ret_code = 1;
                                    return refusal;
                                });
    }
}

size_t CountOf(const std::vector<uint8_t>& commands, const std::vector<uint8_t>& codes) {
    return static_cast<size_t>(std::count_if(commands.begin(), commands.end(), [&](uint8_t code) {
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }));
}

}  // namespace test
}  // namespace krell
