// The devicebench-cli program itself: standard output carries only the verb's results, so its
// JSON parses although the device link prints its own lines, and the exit code comes through.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>

#include "tests/tools/devicebench-cli/cli_fixture.h"

namespace krell {
namespace test {
namespace {

struct ProgramRun {
    int code = -1;
    std::string out;
};

//! Runs the program with `args` (quoted for the shell), standard error discarded.
ProgramRun RunProgram(const std::vector<std::string>& args) {
    std::string command = std::string("'") + KRELL_CLI_PROGRAM + "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " 2>/dev/null";
    ProgramRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CliProgramTest, JsonOnStandardOutputParsesAndExitCodesComeThrough) {
    EnsureManagerApp();  // the child inherits the temporary home
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    const ProgramRun run = RunProgram(At(sim, {"get", "SN", "Max Range", "--json"}));
    ASSERT_EQ(run.code, 0);
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
    ASSERT_FALSE(json.isNull()) << error.errorString().toStdString() << "\n" << run.out;
    EXPECT_EQ(json.object().value("model").toString(), "Corvel");

    EXPECT_EQ(RunProgram(At(sim, {"get", "Warp Factor"})).code, 1);
    const ProgramRun refused = RunProgram(At(sim, {"set", "Max Range=400"}));
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.out.empty()) << refused.out;
}

}  // namespace
}  // namespace test
}  // namespace krell
