#pragma once
// Fixtures of the devicebench-cli tests: the program run in-process (RunCli) with its output
// captured, pointed at a virtual sensor on a loopback port, and fault switches that make the
// sensor refuse its set commands after a number of them.

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/DeviceBenchCore/manager/manager_fixture.h"

namespace krell {
namespace test {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
    //! `out` parsed as a JSON object (an empty object when it is not one).
    QJsonObject Json() const;
};

//! Runs devicebench-cli with `args` in this process (home and settings in a temporary folder).
CliRun RunCliNow(const std::vector<std::string>& args);

//! The options that point the program at the shipped tables and at `sim`, then `args`.
std::vector<std::string> At(const TableSim& sim, std::vector<std::string> args);
//! The same for a model other than Corvel.
std::vector<std::string> At(const TableSim& sim, const std::string& model,
                            std::vector<std::string> args);
//! The same for a virtual sensor listening on `port` of 127.0.0.1.
std::vector<std::string> AtPort(uint16_t port, const std::string& model,
                                std::vector<std::string> args);

//! Codes of the table's set commands (the table of `model`).
std::vector<uint8_t> SetCodes(const std::string& model);
//! The sensor accepts its first `accepted` set commands, then answers every later one with
//! return code 1 and keeps nothing.
void RefuseSetsAfter(TableSim& sim, const std::string& model, int accepted);
//! Requests of `commands` whose code is in `codes`.
size_t CountOf(const std::vector<uint8_t>& commands, const std::vector<uint8_t>& codes);

}  // namespace test
}  // namespace krell
