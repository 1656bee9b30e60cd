// devicebench-cli maintenance verbs (restart, reset, logs, upgrade) and the Minka/Rusko
// operations against the virtual sensor.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/support/temp_dir.h"
#include "tests/tools/devicebench-cli/cli_fixture.h"
#include "tools/lidar-sim/firmware_sink.h"
#include "tools/lidar-sim/serial_side.h"
#include "tools/lidar-sim/sim_maintenance.h"
#include "tools/lidar-sim/sim_setup.h"

namespace krell {
namespace test {
namespace {

constexpr uint8_t kCmdRestart = 0x10;
constexpr size_t kSmallLogBytes = 4096;

//! The virtual sensor of a serial CMX model as the lidar-sim program composes it (tunnel,
//! serial side, firmware side), on a loopback port.
class ComposedSim {
public:
    //! With `serial_lines` the sensor also answers on a pair of ptys (the Minka's lines).
    explicit ComposedSim(const std::string& model, bool serial_lines = false) {
        lidar::sim::SerialSideOptions options;
        options.serial_lines = serial_lines;
        setup_ = lidar::sim::SetUpSimulator(*device_, model, side_, options);
        server_ = std::make_unique<lidar::sim::SimServer>(device_);
        ok_ = setup_.ok && server_->Start(lidar::sim::SimServerOptions{});
    }
    ~ComposedSim() {
        server_->Stop();
        side_.Stop();
    }
    bool Ok() const { return ok_; }
    uint16_t Port() const { return server_->Port(); }
    lidar::sim::FirmwareSink& Firmware() { return *setup_.firmware; }
    lidar::sim::SimDevice& Device() { return *device_; }
    std::string Rs485() const { return side_.Rs485Name(); }
    std::string Uart() const { return side_.UartName(); }
    lidar::sim::SerialResponder& Serial() { return side_.Responder(); }

private:
    std::shared_ptr<lidar::sim::SimDevice> device_ = std::make_shared<lidar::sim::SimDevice>();
    lidar::sim::SerialSide side_;
    lidar::sim::SimSetup setup_;
    std::unique_ptr<lidar::sim::SimServer> server_;
    bool ok_ = false;
};

std::vector<std::string> AtComposed(const ComposedSim& sim, const std::string& model,
                                    std::vector<std::string> args) {
    return AtPort(sim.Port(), model, std::move(args));
}

std::vector<uint8_t> Image(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& b) {
    std::ofstream(dir.File(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return dir.File(name);
}

TEST(CliMaintenanceTest, RestartThenReadTheLinkComesBack) {
    TableSim sim("Corvel");
    const CliRun restart = RunCliNow(At(sim, {"restart", "--wait", "5"}));
    ASSERT_EQ(restart.code, 0) << restart.err;
    EXPECT_NE(restart.out.find("restart accepted"), std::string::npos);
    EXPECT_NE(restart.out.find("the sensor answers again after"), std::string::npos);
    EXPECT_EQ(CountOf(sim.Commands(), {kCmdRestart}), 1u);
    EXPECT_GE(sim.Server().ConnectionCount(), 2u);
    const CliRun get = RunCliNow(At(sim, {"get", "SN"}));
    EXPECT_EQ(get.code, 0) << get.err;
    EXPECT_NE(get.out.find("SN = CV128A2411000137"), std::string::npos);
}

TEST(CliMaintenanceTest, RefusedRestartAndResetAreExitThree) {
    TableSim sim("Corvel");
    sim.Device().SetHandler(kCmdRestart, [](const lidar::sim::SimRequest&) {
        lidar::sim::SimReply reply;
        reply.ret_code = 4;
        return reply;
    });
    const CliRun restart = RunCliNow(At(sim, {"restart"}));
    EXPECT_EQ(restart.code, 3);
    EXPECT_FALSE(restart.err.empty());
    const CliRun reset = RunCliNow(At(sim, {"reset"}));
    EXPECT_EQ(reset.code, 0) << reset.err;
    EXPECT_NE(reset.out.find("reset accepted"), std::string::npos);
}

TEST(CliMaintenanceTest, LogAndOperationLogLandWhereAsked) {
    TableSim sim("Corvel");
    auto logs = std::make_shared<lidar::sim::SimMaintenance>();
    logs->SetLogBytes(kSmallLogBytes);
    logs->Install(sim.Device(), "Corvel");
    TempDir dir;
    const CliRun log = RunCliNow(At(sim, {"log", "fault log", "--out", dir.Path()}));
    ASSERT_EQ(log.code, 0) << log.err;
    const QStringList files =
        QDir(QString::fromStdString(dir.Path())).entryList({"Fault Log_*.bin"});
    EXPECT_EQ(files.size(), 1);
    EXPECT_EQ(RunCliNow(At(sim, {"log", "Warp Log", "--out", dir.Path()})).code, 1);
    EXPECT_EQ(RunCliNow(At(sim, {"log", "Fault Log"})).code, 1);  // no --out

    const CliRun archive = RunCliNow(At(sim, {"operation-log", "--out", dir.File("ops")}));
    ASSERT_EQ(archive.code, 0) << archive.err;
    EXPECT_NE(archive.out.find(dir.File("ops.tar")), std::string::npos);
    EXPECT_GT(QFileInfo(QString::fromStdString(dir.File("ops.tar"))).size(),
              static_cast<qint64>(4 * kSmallLogBytes));
}

TEST(CliUpgradeTest, MinkaCmxTunnelledOtaDeliversTheImageWithProgressLines) {
    ComposedSim sim("Minka-CMX");
    ASSERT_TRUE(sim.Ok());
    TempDir dir;
    const std::vector<uint8_t> image = Image(2049);
    const CliRun run =
        RunCliNow(AtComposed(sim, "Minka-CMX", {"upgrade", WriteFile(dir, "app.patch", image)}));
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("upgrade 100% (2/2 frames)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Upgrade package transmitted successfully"), std::string::npos);
    EXPECT_EQ(sim.Firmware().Image(), image);
}

TEST(CliUpgradeTest, NetworkModelStreamsTheFileThenRestartsTheSensor) {
    ComposedSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    auto restarts = std::make_shared<std::atomic<int>>(0);
    lidar::sim::CommandHandler restart = sim.Device().HandlerFor(kCmdRestart);
    sim.Device().SetHandler(kCmdRestart, [restart, restarts](const lidar::sim::SimRequest& r) {
        ++*restarts;
        return restart(r);
    });
    TempDir dir;
    const std::vector<uint8_t> image = Image(5000);
    const CliRun run =
        RunCliNow(AtComposed(sim, "Corvel", {"upgrade", WriteFile(dir, "app.patch", image)}));
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("image sent; waiting for the sensor to store it and restart"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(sim.Firmware().Image(), image);
    // The restart comes after the stream's pause; a program that ended at once would skip it.
    EXPECT_EQ(restarts->load(), 1);
}

TEST(CliUpgradeTest, UnreadableFileIsRefusedBeforeAnythingTravels) {
    TableSim sim("Corvel");
    TempDir dir;
    const CliRun run = RunCliNow(At(sim, {"upgrade", dir.File("missing.bin")}));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("missing.bin"), std::string::npos) << run.err;
    EXPECT_EQ(RunCliNow(At(sim, {"upgrade", WriteFile(dir, "empty.bin", {})})).code, 1);
}

TEST(CliModelTest, SerialCmxOperationsReadAndWrite) {
    ComposedSim sim("Minka-CMX");
    ASSERT_TRUE(sim.Ok());
    const CliRun sn = RunCliNow(AtComposed(sim, "Minka-CMX", {"serial-number", "--json"}));
    ASSERT_EQ(sn.code, 0) << sn.err;
    EXPECT_FALSE(sn.Json().value("serial_number").toString().isEmpty());

    ASSERT_EQ(RunCliNow(AtComposed(sim, "Minka-CMX", {"destination", "127.0.0.9", "2370"})).code,
              0);
    const CliRun destination = RunCliNow(AtComposed(sim, "Minka-CMX", {"destination", "--json"}));
    EXPECT_EQ(destination.Json().value("ip").toString(), "127.0.0.9");
    EXPECT_EQ(destination.Json().value("port").toString(), "2370");

    const CliRun versions = RunCliNow(AtComposed(sim, "Minka-CMX", {"versions", "--json"}));
    EXPECT_EQ(versions.code, 0) << versions.err;
    EXPECT_TRUE(versions.Json().contains("bmb_mcu"));
    EXPECT_EQ(RunCliNow(AtComposed(sim, "Minka-CMX", {"standby", "on"})).code, 0);
    EXPECT_EQ(RunCliNow(AtComposed(sim, "Minka-CMX", {"function-safety", "--json"})).code, 0);
    EXPECT_EQ(RunCliNow(AtComposed(sim, "Minka-CMX", {"standby", "maybe"})).code, 1);
}

TEST(CliModelTest, CalibrationLandsByteForByteOrNotAtAll) {
    ComposedSim sim("Minka-CMX");
    ASSERT_TRUE(sim.Ok());
    const std::vector<uint8_t> calibration = Image(200);
    sim.Serial().SetCalibration(calibration);
    TempDir dir;
    const std::string file = dir.File("calibration.bin");
    const CliRun run = RunCliNow(AtComposed(sim, "Minka-CMX", {"calibration", "--out", file}));
    ASSERT_EQ(run.code, 0) << run.err;
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), calibration);
    // A folder that is not there: the sensor's answer has nowhere to go, exit 3 and no file.
    const std::string lost = dir.File("missing/calibration.bin");
    const CliRun refused = RunCliNow(AtComposed(sim, "Minka-CMX", {"calibration", "--out", lost}));
    EXPECT_EQ(refused.code, 3);
    EXPECT_NE(refused.err.find("create calibration file fail"), std::string::npos) << refused.err;
    EXPECT_EQ(RunCliNow(AtComposed(sim, "Minka-CMX", {"calibration"})).code, 1);
}

TEST(CliModelTest, MinkaOverItsSerialLines) {
    ComposedSim sim("Minka", true);
    ASSERT_TRUE(sim.Ok());
    const std::vector<std::string> at = {
        "--tables", std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID",
        "--model",  "Minka",
        "--serial", sim.Rs485(),
        sim.Uart()};
    std::vector<std::string> args = at;
    args.insert(args.end(), {"versions", "--json"});
    const CliRun versions = RunCliNow(args);
    EXPECT_EQ(versions.code, 0) << versions.err;
    EXPECT_TRUE(versions.Json().contains("bmb_fpga"));
    args = at;
    args.insert(args.end(), {"standby", "off"});
    EXPECT_EQ(RunCliNow(args).code, 0);
    args = at;
    args[6] = "/nonexistent/tty";  // the UART
    args.insert(args.end(), {"standby", "off"});
    const CliRun missing = RunCliNow(args);
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("UART"), std::string::npos) << missing.err;
}

TEST(CliModelTest, EachModelFamilyKeepsToItsOwnVerbs) {
    TableSim sim("Corvel");
    const CliRun run = RunCliNow(At(sim, {"spin-rate", "600"}));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("not of the Corvel"), std::string::npos);
    // And the other way round: the table verbs are for the network models.
    for (const char* verb : {"get", "snapshot"}) {
        const CliRun table = RunCliNow(At(sim, "Minka-CMX", {verb, "--out", "x.json"}));
        EXPECT_EQ(table.code, 1) << verb;
        EXPECT_NE(table.err.find("the Minka-CMX has its own operations"), std::string::npos);
    }
    EXPECT_TRUE(sim.Commands().empty());
}

}  // namespace
}  // namespace test
}  // namespace krell
