// devicebench-cli: usage, pages, get, set and raw against the virtual sensor.
#include <gtest/gtest.h>

#include <QJsonArray>

#include <QSettings>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/support/cert_factory.h"
#include "tests/tools/devicebench-cli/cli_fixture.h"

namespace krell {
namespace test {
namespace {

constexpr uint8_t kCmdGetPointCloud = 0x0D;  // Return Mode, Spin Rate, Max Range, ...
constexpr uint8_t kCmdSetPointCloud = 0x2D;
constexpr uint8_t kCmdSetFilter = 0x2E;

std::string ValueOf(const CliRun& run, const std::string& name) {
    for (const QJsonValue& value : run.Json().value("values").toArray()) {
        if (value.toObject().value("name").toString().toStdString() == name)
            return value.toObject().value("text").toString().toStdString();
    }
    return "(none)";
}

TEST(CliUsageTest, EveryVerbHasHelpAndBadCommandLinesAreUsageErrors) {
    for (const char* verb : {"pages",        "get",         "set",           "raw",
                             "snapshot",     "diff",        "apply",         "restart",
                             "reset",        "log",         "operation-log", "upgrade",
                             "standby",      "spin-rate",   "return-mode",   "function-safety",
                             "baud-rate",    "destination", "imu-range",     "versions",
                             "serial-number"}) {
        const CliRun run = RunCliNow({verb, "--help"});
        EXPECT_EQ(run.code, 0) << verb;
        EXPECT_NE(run.out.find(std::string("usage: devicebench-cli [connection options] ") + verb),
                  std::string::npos)
            << verb;
    }
    EXPECT_EQ(RunCliNow({}).code, 1);
    EXPECT_EQ(RunCliNow({"--help"}).code, 0);
    const CliRun unknown = RunCliNow({"frobnicate"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.err.find("unknown verb \"frobnicate\""), std::string::npos);
    EXPECT_EQ(RunCliNow({"get", "--bogus"}).code, 1);
    EXPECT_EQ(RunCliNow({"get", "--port"}).code, 1);  // value missing
    EXPECT_EQ(RunCliNow({"apply", "x.json", "--jobs", "0"}).code, 1);
}

TEST(CliUsageTest, UnknownModelNamesTheModelsThatExist) {
    const CliRun run = RunCliNow({"--tables", std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID",
                                  "--model", "Nope", "pages"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("no variable table for the model \"Nope\""), std::string::npos);
    EXPECT_NE(run.err.find("Corvel"), std::string::npos);
}

TEST(CliReadTest, PagesJsonListsTheTableWithoutASensor) {
    const CliRun run = RunCliNow(
        {"--tables", std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID", "pages", "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    const QJsonArray pages = run.Json().value("pages").toArray();
    ASSERT_EQ(pages.size(), 6);
    EXPECT_EQ(pages[1].toObject().value("name").toString(), "Network");
    const QJsonObject first_var = pages[2]
                                      .toObject()["sections"]
                                      .toArray()[0]
                                      .toObject()["variables"]
                                      .toArray()[0]
                                      .toObject();
    EXPECT_EQ(first_var.value("name").toString(), "Return Mode");
    EXPECT_EQ(first_var.value("access").toString(), "rw");
}

TEST(CliReadTest, GetReadsAPageAndNamesWithOneExchangePerGetCommand) {
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    const CliRun run =
        RunCliNow(At(sim, {"get", "Point Cloud", "max range", "Lidar IP", "--json"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ValueOf(run, "Max Range"), "200");
    EXPECT_EQ(ValueOf(run, "Return Mode"), "0");
    EXPECT_EQ(ValueOf(run, "Lidar IP"), "192.168.1.201");
    EXPECT_EQ(run.Json().value("unread").toArray().size(), 0);
    const std::vector<uint8_t> commands = sim.Commands();
    // Probes, then 0x0D once although three of its variables were asked for twice.
    EXPECT_EQ(CountOf(commands, {kCmdGetPointCloud}), 1u);
}

TEST(CliReadTest, GetOfAnUnknownVariableNamesTheModelAndTouchesNoSensor) {
    TableSim sim("Corvel");
    const CliRun run = RunCliNow(At(sim, {"get", "Warp Factor"}));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("the Corvel has no variable \"Warp Factor\""), std::string::npos);
    EXPECT_TRUE(sim.Commands().empty());
}

TEST(CliReadTest, SilentGroupIsReportedAsRefusedWithItsNames) {
    TableSim sim("Corvel");
    sim.SilenceAfter(kCmdGetPointCloud, 0);
    const CliRun run = RunCliNow(At(sim, {"get", "Max Range", "Lidar IP"}));
    EXPECT_EQ(run.code, 3);
    EXPECT_NE(run.out.find("Lidar IP = 192.168.1.201"), std::string::npos);
    EXPECT_NE(run.err.find("no value for Max Range"), std::string::npos);
}

TEST(CliConnectionTest, NoSensorListeningIsExitTwo) {
    uint16_t port = 0;
    {
        TableSim gone("Corvel");
        port = gone.Port();
    }
    const CliRun run =
        RunCliNow({"--tables", std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID", "--host",
                   "127.0.0.1", "--port", std::to_string(port), "get", "SN"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("cannot connect to the Corvel at 127.0.0.1:" + std::to_string(port)),
              std::string::npos);
}

TEST(CliConnectionTest, TlsWithTheGivenCertificates) {
    CertFactory certs;
    ASSERT_TRUE(certs.Ok());
    TableSim sim("Corvel", "", true, certs.ServerCertPath(), certs.ServerKeyPath(), certs.CaPath());
    ASSERT_TRUE(sim.Ok());
    const CliRun run = RunCliNow(At(sim, {"--tls", certs.ClientCertPath(), certs.ClientKeyPath(),
                                          certs.CaPath(), "get", "SN"}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("SN = CV128A2411000137"), std::string::npos);
    EXPECT_EQ(RunCliNow(At(sim, {"get", "SN"})).code, 2);  // plain TCP to a TLS port
}

TEST(CliConnectionTest, AddressAndPortComeFromTheWindowsSettingsFile) {
    EnsureManagerApp();
    TableSim sim("Corvel");
    {
        QSettings settings(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat);
        settings.setValue("device_ip_address", "127.0.0.1");
        settings.setValue("cmx_port", QString::number(sim.Port()));
    }
    // Without the file the program would fall back to the sensor's factory address, which no
    // test may reach.
    ASSERT_EQ(QSettings(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat)
                  .value("device_ip_address")
                  .toString(),
              "127.0.0.1");
    const CliRun run =
        RunCliNow({"--tables", std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID", "get", "SN"});
    QSettings(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat).clear();
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("SN = CV128A2411000137"), std::string::npos);
}

TEST(CliWriteTest, SetWritesThroughTheSaveAndReadsBackTheSame) {
    TableSim sim("Corvel");
    const CliRun set =
        RunCliNow(At(sim, {"set", "Max Range=250", "Return Mode=2", "Noise Filter Level=7"}));
    ASSERT_EQ(set.code, 0) << set.err << set.out;
    EXPECT_NE(set.out.find("written [0x2D] Max Range, Return Mode"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("written [0x2E] Noise Filter Level"), std::string::npos) << set.out;
    EXPECT_EQ(CountOf(sim.Commands(), {kCmdSetPointCloud}), 1u);
    const CliRun get = RunCliNow(At(sim, {"get", "Point Cloud", "--json"}));
    EXPECT_EQ(ValueOf(get, "Max Range"), "250");
    EXPECT_EQ(ValueOf(get, "Return Mode"), "2");
    EXPECT_EQ(ValueOf(get, "Noise Filter Level"), "7");
    // Variables of the same command that were not named keep their bytes.
    EXPECT_EQ(ValueOf(get, "Spin Rate"), "600");
}

TEST(CliWriteTest, OutOfRangeNeedsForceAndBadValuesNeverReachTheSensor) {
    TableSim sim("Corvel");
    const CliRun refused = RunCliNow(At(sim, {"set", "Max Range=400"}));
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("Max Range must lie in 1~300"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos);
    const CliRun option = RunCliNow(At(sim, {"set", "Return Mode=7"}));
    EXPECT_EQ(option.code, 1);
    EXPECT_NE(option.err.find("Return Mode must be one of 0|1|2"), std::string::npos);
    EXPECT_EQ(CountOf(sim.Commands(), SetCodes("Corvel")), 0u);

    const size_t before = sim.Commands().size();
    const CliRun format = RunCliNow(At(sim, {"set", "Lidar IP=10.0.0"}));
    EXPECT_EQ(format.code, 1);
    EXPECT_NE(format.err.find("is not a value for Lidar IP (IP)"), std::string::npos);
    EXPECT_EQ(RunCliNow(At(sim, {"set", "SN=X"})).code, 1);       // read-only
    EXPECT_EQ(RunCliNow(At(sim, {"set", "Max Range"})).code, 1);  // no value
    EXPECT_EQ(sim.Commands().size(), before);                     // not even connected

    const CliRun forced = RunCliNow(At(sim, {"set", "Max Range=400", "--force"}));
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(ValueOf(RunCliNow(At(sim, {"get", "Max Range", "--json"})), "Max Range"), "400");
}

TEST(CliWriteTest, SecondCommandRefusedIsAPartialWriteListingWhatWasWritten) {
    TableSim sim("Corvel");
    RefuseSetsAfter(sim, "Corvel", 1);
    const CliRun run =
        RunCliNow(At(sim, {"set", "Max Range=250", "Noise Filter Level=7", "--json"}));
    EXPECT_EQ(run.code, 4) << run.err << run.out;
    const QJsonObject report = run.Json();
    ASSERT_EQ(report.value("written").toArray().size(), 1);
    EXPECT_EQ(report.value("written").toArray()[0].toString(), "[0x2D] Max Range");
    EXPECT_EQ(report.value("failed").toString(), "[0x2E] Noise Filter Level");
    EXPECT_NE(report.value("reason").toString().indexOf("ret_code: 1"), -1);
}

TEST(CliWriteTest, FirstCommandRefusedIsExitThree) {
    TableSim sim("Corvel");
    RefuseSetsAfter(sim, "Corvel", 0);
    const CliRun run = RunCliNow(At(sim, {"set", "Max Range=250"}));
    EXPECT_EQ(run.code, 3);
    EXPECT_NE(run.out.find("FAILED [0x2D] Max Range"), std::string::npos) << run.out;
}

TEST(CliRawTest, ShowsTheReplyAndTheSensorsOwnReturnCode) {
    TableSim sim("Corvel");
    const CliRun run = RunCliNow(At(sim, {"raw", "0x0D", "--json"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.Json().value("header").toString().left(8), "47 74 0D");
    EXPECT_EQ(run.Json().value("return_code").toInt(), 0);

    sim.Device().SetHandler(kCmdGetPointCloud, [](const lidar::sim::SimRequest&) {
        lidar::sim::SimReply reply;
        reply.ret_code = 5;
        return reply;
    });
    const CliRun refused = RunCliNow(At(sim, {"raw", "0D"}));
    EXPECT_EQ(refused.code, 3) << refused.err;
    EXPECT_EQ(RunCliNow(At(sim, {"raw", "0xZZ"})).code, 1);
}

}  // namespace
}  // namespace test
}  // namespace krell
