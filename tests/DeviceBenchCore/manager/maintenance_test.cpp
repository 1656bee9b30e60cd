// The maintenance operations through the manager against the virtual sensor: restart
// and reset with every failure text, the operation-log archive read back with the real tar and
// compared with the sensor's bytes, single logs, the configuration-file request, overlapping
// work refused, a sensor that goes silent mid-download, a missing or failing tar and log names
// that would leave the chosen folder. Nothing is written outside temporary directories: the
// documents folder is the fixture's temporary home.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/maintenance_operation.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_parser.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/DeviceBenchCore/manager/recording_reporter.h"
#include "tests/support/temp_dir.h"
#include "tools/lidar-sim/sim_faults.h"
#include "tools/lidar-sim/sim_maintenance.h"

//! Readable QString values in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using krell::lidar::sim::SimFaults;
using krell::lidar::sim::SimMaintenance;
using krell::lidar::sim::SimReply;
using krell::lidar::sim::SimRequest;
using krell::test::TableSim;
using krell::test::TempDir;
using krell::test::WaitWithEvents;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kCmdRestart = 0x10;  // Corvel's Restart row
constexpr uint8_t kCmdReset = 0x11;    // Corvel's Reset row
constexpr uint8_t kCmdTunnel = 0xFF;
constexpr uint8_t kCmdConfigFile = 0x74;
constexpr int kDownloadWaitMs = 20000;
const char* const kPrefixes[] = {"bsw_warning_", "asw_warning_", "bsw_error_", "asw_error_"};
const uint8_t kSelectors[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
const char* const kCorvelRestartRow = "6,5,Restart,,0x10,,0,raw,,,,,,,,,,";
const char* const kCorvelResetRow = "6,6,Reset,,0x11,,0,raw,,,,,,,,,,";
const char* const kCorvelOperationLogRow = "6,4,Operation Log,0x00000140,,,0,raw,,,,,,,,,,";

Bytes ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Bytes{};
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

//! The names in `folder`, hidden ones included.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

//! Runs `tar` with `arguments`; its standard output, or "<failed>".
QString Tar(const QStringList& arguments) {
    QProcess tar;
    tar.start("tar", arguments);
    if (!tar.waitForFinished(10000) || tar.exitCode() != 0) return "<failed>";
    return QString::fromLocal8Bit(tar.readAllStandardOutput());
}

//! The log lines of type `type`.
QStringList LinesOf(const QSignalSpy& spy, const QString& type) {
    QStringList lines;
    for (const QList<QVariant>& call : spy) {
        if (call.at(1).toString() == type) lines << call.at(0).toString();
    }
    return lines;
}

//! Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

//! The virtual sensor as the lidar-sim program composes it for Corvel: table, built-in
//! handlers and the maintenance side (operation log, configuration file).
class MaintenanceSim {
public:
    MaintenanceSim() : logs_(std::make_shared<SimMaintenance>()) {
        logs_->Install(table_.Device(), "Corvel");
        // The maintenance side replaced the table fixture's recorder of 0x74: count it here.
        auto inner = table_.Device().HandlerFor(kCmdConfigFile);
        auto count = config_requests_;
        table_.Device().SetHandler(kCmdConfigFile, [inner, count](const SimRequest& request) {
            if (request.payload.empty()) ++*count;
            return inner(request);
        });
    }
    //! Configuration-file requests with an empty payload answered so far.
    int ConfigRequests() const { return config_requests_->load(); }
    bool Ok() const { return table_.Ok(); }
    TableSim& Table() { return table_; }
    SimMaintenance& Logs() { return *logs_; }
    uint16_t Port() const { return table_.Port(); }
    void SetFaults(const SimFaults& faults) { table_.Server().SetFaults(faults); }
    //! Wraps the 0xFF handler: `on_log(n)` runs for the n-th operation-log request (0-based)
    //! before it is answered.
    void OnLogRequest(std::function<void(int)> on_log) {
        auto inner = table_.Device().HandlerFor(kCmdTunnel);
        auto count = std::make_shared<std::atomic<int>>(0);
        table_.Device().SetHandler(kCmdTunnel, [inner, count, on_log](const SimRequest& request) {
            const bool log = request.payload.size() == 6 && request.payload[3] == 0x40;
            if (log) on_log(count->fetch_add(1));
            return inner(request);
        });
    }

private:
    TableSim table_{"Corvel"};
    std::shared_ptr<SimMaintenance> logs_;
    std::shared_ptr<std::atomic<int>> config_requests_ = std::make_shared<std::atomic<int>>(0);
};

class MaintenanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        krell::test::EnsureManagerApp();
        documents_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        ASSERT_TRUE(documents_.startsWith(Text(krell::test::TestHome())))
            << documents_.toStdString();
        staging_ = documents_ + MaintenanceOperation::kStagingFolder;
        QDir(staging_).removeRecursively();
    }
    void TearDown() override {
        manager_.reset();
        QDir(staging_).removeRecursively();
    }

    //! A manager for `model` ("Corvel", or a table made by TableFrom), connected to `sim`.
    void Connect(MaintenanceSim& sim, const QString& model = "Corvel") {
        ASSERT_TRUE(sim.Ok());
        manager_ = krell::test::ConnectedManager(sim.Port(), model);
        ASSERT_TRUE(manager_->IsConnected());
    }

    //! A copy of the Corvel table with each whole line `edit.first` replaced by `edit.second`
    //! (empty: removed); the model name that selects it (relative to the manager's table folder).
    QString TableFrom(const std::vector<std::pair<std::string, std::string>>& edits) {
        std::ifstream in(std::string(KRELL_DEVICEBENCH_DIR) + "/Config/varID/Corvel.csv");
        std::stringstream text;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();  // the table is CRLF
            bool replaced = false;
            for (const auto& edit : edits) {
                if (line != edit.first) continue;
                replaced = true;
                if (!edit.second.empty()) text << edit.second << "\n";
            }
            if (!replaced) text << line << "\n";
        }
        const std::string name = "Table" + std::to_string(++tables_);
        std::ofstream(tables_dir_.File(name + ".csv")) << text.str();
        return QDir("./Config/varID").relativeFilePath(Text(tables_dir_.File(name)));
    }

    QUrl Url(const QString& path) const { return QUrl::fromLocalFile(path); }
    QString Out(const QString& name) const { return Text(out_.File(name.toStdString())); }

    //! Runs the operation-log download to `path` and waits for its end; its result signal.
    bool DownloadArchive(const QString& path) {
        QSignalSpy finished(manager_.get(), &DeviceBenchManager::downloadOperationLogFinished);
        EXPECT_EQ(manager_->DownloadOperationLog(Url(path)), 0);
        EXPECT_TRUE(WaitWithEvents([&] { return finished.count() == 1; }, kDownloadWaitMs));
        krell::test::SpinEvents(20);
        return finished.count() == 1 && finished.at(0).at(0).toBool();
    }

    //! Runs the single-log download of `name` into `folder` and waits for its end.
    void DownloadOne(const QString& folder, const QString& name) {
        QSignalSpy finished(manager_.get(), &DeviceBenchManager::downloadFinished);
        ASSERT_EQ(manager_->DownloadLog(Url(folder), name), 0);
        ASSERT_TRUE(WaitWithEvents([&] { return finished.count() == 1; }, kDownloadWaitMs));
        krell::test::SpinEvents(20);
    }

    QString documents_;
    QString staging_;
    TempDir out_;
    TempDir tables_dir_;
    int tables_ = 0;
    std::unique_ptr<DeviceBenchManager> manager_;
};

// ---- Command texts ----

TEST(MaintenanceRequestTest, ShortTextIsANumberWithBaseDetectionAndItsLowByte) {
    const Bytes row = {0xAA, 0xBB};
    for (const auto& text : {"0x10", "16", "020"}) {
        const MaintenanceRequest request = command_text::ParseMaintenanceCommand(text, row);
        EXPECT_EQ(request.code, 0x10) << text;
        EXPECT_EQ(request.payload, row) << text;
    }
    EXPECT_EQ(command_text::ParseMaintenanceCommand("999", {}).code, 999 & 0xFF);
    for (const auto& text : {"", "0x1G", "abc", "1 2"}) {
        EXPECT_THROW(command_text::ParseMaintenanceCommand(text, row), OperationError) << text;
    }
}

TEST(MaintenanceRequestTest, LongTextSpellsTheTunnelPayloadFollowedByTheRowBytes) {
    const MaintenanceRequest request =
        command_text::ParseMaintenanceCommand("0x00000138AB", {0x01, 0x02});
    EXPECT_EQ(request.code, 0xFF);
    EXPECT_EQ(request.payload, (Bytes{0x00, 0x00, 0x01, 0x38, 0xAB, 0x01, 0x02}));
    EXPECT_THROW(command_text::ParseMaintenanceCommand("0x0000zz40", {}), OperationError);
}

TEST(MaintenanceRequestTest, ArchivePathGetsTarAppendedOnce) {
    EXPECT_EQ(MaintenanceOperation::ArchivePath("C:/logs/run"), "C:/logs/run.tar");
    EXPECT_EQ(MaintenanceOperation::ArchivePath("C:/logs/run.tar"), "C:/logs/run.tar");
}

// ---- Restart and reset ----

TEST_F(MaintenanceTest, Restart_SensorAcceptsAndTheLinkEnds) {
    MaintenanceSim sim;
    Connect(sim);
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    EXPECT_EQ(manager_->Restart(), 0);
    EXPECT_FALSE(manager_->IsConnected());
    const Bytes commands = sim.Table().Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCmdRestart), 1);
    EXPECT_EQ(errors.count(), 0);
}

TEST_F(MaintenanceTest, Restart_LowerCaseRowStillRestarts) {
    MaintenanceSim sim;
    Connect(sim, TableFrom({{kCorvelRestartRow, "6,5,restart,,0x10,,0,raw,,,,,,,,,,"}}));
    EXPECT_EQ(manager_->Restart(), 0);
    EXPECT_FALSE(manager_->IsConnected());
}

TEST_F(MaintenanceTest, Restart_FailureTexts) {
    struct Case {
        std::string row;  // replacement of the Restart row ("" removes it)
        std::string text;
    };
    const std::vector<Case> cases = {
        {"", "Can not find restart name"},
        {"6,5,Restart,,0xZZ,,0,raw,,,,,,,,,,", "Restart error: invalid command text \"0xZZ\""},
    };
    for (const Case& c : cases) {
        MaintenanceSim sim;
        Connect(sim, TableFrom({{kCorvelRestartRow, c.row}}));
        EXPECT_EQ(manager_->Restart(), -1) << c.text;
        EXPECT_EQ(manager_->errorMessage(), Text(c.text));
        EXPECT_TRUE(manager_->IsConnected()) << "nothing was sent: " << c.text;
    }
}

TEST_F(MaintenanceTest, Restart_RefusedBySensor_ShowsItsCodeAndKeepsTheLink) {
    MaintenanceSim sim;
    Connect(sim);
    SimFaults faults;
    faults.return_code = 7;
    faults.once = true;
    sim.SetFaults(faults);
    EXPECT_EQ(manager_->Restart(), -1);
    EXPECT_EQ(manager_->errorMessage(),
              "Auto reboot failed, ret_code: 7. Please reboot lidar manually.");
    EXPECT_TRUE(manager_->IsConnected());
}

TEST_F(MaintenanceTest, Restart_HeaderNeverArrives_ShowsMinusTwo) {
    MaintenanceSim sim;
    Connect(sim);
    // The sensor hangs up instead of answering: the header read fails at once.
    TableSim& table = sim.Table();
    table.Device().SetHandler(kCmdRestart, [&table](const SimRequest&) {
        table.Server().DropConnections();
        SimReply reply;
        reply.send = false;
        return reply;
    });
    EXPECT_EQ(manager_->Restart(), -1);
    EXPECT_EQ(manager_->errorMessage(),
              "Auto reboot failed, ret_code: -2. Please reboot lidar manually.");
}

TEST_F(MaintenanceTest, Reset_SensorAcceptsAndTheLinkEnds) {
    MaintenanceSim sim;
    Connect(sim);
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    EXPECT_EQ(manager_->Reset(), 0);
    EXPECT_FALSE(manager_->IsConnected());
    const Bytes commands = sim.Table().Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCmdReset), 1);
    EXPECT_EQ(errors.count(), 0);
}

TEST_F(MaintenanceTest, Reset_RefusedBySensor_StillEndsTheLinkWithoutAMessage) {
    MaintenanceSim sim;
    Connect(sim);
    SimFaults faults;
    faults.return_code = 3;
    faults.once = true;
    sim.SetFaults(faults);
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    EXPECT_EQ(manager_->Reset(), -1);
    EXPECT_FALSE(manager_->IsConnected());
    EXPECT_EQ(errors.count(), 0);
}

TEST_F(MaintenanceTest, Reset_FailureTexts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Can not find reset name"},
        {"6,6,Reset,,0xQ1,,0,raw,,,,,,,,,,", "retset error: invalid command text \"0xQ1\""},
    };
    for (const auto& c : cases) {
        MaintenanceSim sim;
        Connect(sim, TableFrom({{kCorvelResetRow, c.first}}));
        EXPECT_EQ(manager_->Reset(), -1) << c.second;
        EXPECT_EQ(manager_->errorMessage(), Text(c.second));
        EXPECT_TRUE(manager_->IsConnected()) << "nothing was sent: " << c.second;
    }
}

TEST_F(MaintenanceTest, NotConnected_EveryOperationIsRefusedWithoutAMessage) {
    manager_ = std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    manager_->InitConfigFileParser("Corvel");
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    EXPECT_EQ(manager_->Restart(), -1);
    EXPECT_EQ(manager_->Reset(), -1);
    EXPECT_EQ(manager_->DownloadOperationLog(Url(Out("run"))), -1);
    EXPECT_EQ(manager_->DownloadLog(Url(Out("")), "Boot Log"), -1);
    krell::test::SpinEvents(50);
    EXPECT_EQ(errors.count(), 0);
    EXPECT_FALSE(manager_->IsDownloadLog());
}

// The sensor side: restart and reset answer, then hang up like a rebooting sensor.
TEST(SimMaintenanceTest, RestartAndResetAnswerThenDropTheConnection) {
    krell::test::EnsureManagerApp();
    MaintenanceSim sim;
    ASSERT_TRUE(sim.Ok());
    for (uint8_t cmd : {kCmdRestart, kCmdReset}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(sim.Port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        Bytes frame;
        krell::lidar::CmxParser(1).CmxRequestEncode({}, frame, cmd);
        ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(frame.size()));
        Bytes received;
        uint8_t buffer[64];
        for (;;) {
            pollfd pfd{fd, POLLIN, 0};
            ASSERT_EQ(::poll(&pfd, 1, 3000), 1) << "the sensor neither answered nor hung up";
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) break;  // hung up
            received.insert(received.end(), buffer, buffer + n);
        }
        ::close(fd);
        EXPECT_EQ(received, (Bytes{0x47, 0x74, cmd, 0, 0, 0, 0, 0})) << int(cmd);
    }
}

// ---- The operation-log archive ----

TEST_F(MaintenanceTest, OperationLog_ArchiveHoldsTheFourPartsWithTheSensorsBytes) {
    MaintenanceSim sim;
    const size_t size = 1024 * 1024 + 7;  // more than one read, not a round number
    sim.Logs().SetLogBytes(size);
    Connect(sim);
    QSignalSpy flag(manager_.get(), &DeviceBenchManager::isDownloadLogChanged);
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    ASSERT_TRUE(DownloadArchive(Out("run")));
    EXPECT_EQ(manager_->successMessage(), "Operation log download successful.");
    EXPECT_EQ(errors.count(), 0) << manager_->errorMessage().toStdString();
    EXPECT_EQ(flag.count(), 2);
    EXPECT_FALSE(manager_->IsDownloadLog());
    EXPECT_EQ(Entries(Out("")), QStringList{"run.tar"}) << "no partial file stays beside it";
    EXPECT_FALSE(QFileInfo::exists(staging_)) << "the staged parts stay behind";

    const QStringList names = Tar({"-tf", Out("run.tar")}).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(names.size(), 4) << Tar({"-tf", Out("run.tar")}).toStdString();
    const QRegularExpression stamp("^[a-z_]+_(\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d)\\.bin$");
    const QString first_stamp = stamp.match(names[0]).captured(1);
    ASSERT_FALSE(first_stamp.isEmpty()) << names[0].toStdString();
    TempDir extracted;
    ASSERT_NE(Tar({"-xf", Out("run.tar"), "-C", Text(extracted.Path())}), "<failed>");
    for (int part = 0; part < 4; ++part) {
        EXPECT_EQ(names[part], kPrefixes[part] + first_stamp + ".bin");
        const Bytes expected =
            SimMaintenance::OperationLogBytes(kSelectors[part][0], kSelectors[part][1], size);
        EXPECT_TRUE(ReadFile(Text(extracted.File(names[part].toStdString()))) == expected)
            << names[part].toStdString();
    }
}

TEST_F(MaintenanceTest, OperationLog_TarPathIsKeptAndAnOlderArchiveReplaced) {
    MaintenanceSim sim;
    sim.Logs().SetLogBytes(4096);
    Connect(sim);
    const QString path = Out("old.tar");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older archive");
    }
    // The direct invokable runs on this thread.
    EXPECT_EQ(manager_->DownloadOperationLogThread(Url(path)), 0);
    EXPECT_EQ(Entries(Out("")), QStringList{"old.tar"});
    EXPECT_EQ(Tar({"-tf", path}).count(".bin"), 4);
    // Made by tar with the usual mode, not the private one of a temporary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(QFileInfo(path).permission(QFileDevice::ReadOther), (mask & S_IROTH) == 0);
}

TEST_F(MaintenanceTest, OperationLog_SensorSilentMidDownload_KeepsThePartsFetchedAndSaysWhere) {
    MaintenanceSim sim;
    const size_t size = 64 * 1024;
    sim.Logs().SetLogBytes(size);
    // While the second part is answered, the switch is set for the third: it comes without its
    // last bytes, and the sensor says nothing more.
    TableSim& table = sim.Table();
    sim.OnLogRequest([&table](int n) {
        if (n != 1) return;
        SimFaults faults;
        faults.truncate_payload_bytes = 1000;
        faults.once = true;
        table.Server().SetFaults(faults);
    });
    Connect(sim);
    const QString path = Out("run.tar");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older archive");
    }
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    EXPECT_FALSE(DownloadArchive(path));
    const QString error = manager_->errorMessage();
    EXPECT_TRUE(error.startsWith("Operation log download failed. bsw_error_"))
        << error.toStdString();
    EXPECT_TRUE(error.contains("return code: -3")) << error.toStdString();
    EXPECT_TRUE(error.endsWith("the parts downloaded so far are in " + staging_ + "."))
        << error.toStdString();
    const QStringList errors = LinesOf(log, "ERROR");
    ASSERT_EQ(errors.size(), 1) << errors.join("\n").toStdString();
    EXPECT_TRUE(errors[0].contains(QRegularExpression(
        "^Operation Log download error: bsw_error_[0-9_]+\\.bin download failed\\. "
        "return code: -3$")))
        << errors[0].toStdString();
    // The two parts that arrived are kept whole; the broken third is not.
    const QStringList kept = Entries(staging_);
    ASSERT_EQ(kept.size(), 2) << kept.join(" ").toStdString();
    for (int part = 0; part < 2; ++part) {
        const QStringList named = kept.filter(QRegularExpression(QString("^") + kPrefixes[part]));
        ASSERT_EQ(named.size(), 1) << kPrefixes[part];
        EXPECT_TRUE(
            ReadFile(staging_ + "/" + named[0]) ==
            SimMaintenance::OperationLogBytes(kSelectors[part][0], kSelectors[part][1], size))
            << named[0].toStdString();
    }
    EXPECT_EQ(ReadFile(path), (Bytes{'a', 'n', ' ', 'o', 'l', 'd', 'e', 'r', ' ', 'a', 'r', 'c',
                                     'h', 'i', 'v', 'e'}))
        << "the older archive is untouched";
    EXPECT_EQ(Entries(Out("")), QStringList{"run.tar"});
    EXPECT_FALSE(manager_->IsDownloadLog());
}

TEST_F(MaintenanceTest, OperationLog_TarMissing_KeepsTheFourPartsAndSaysWhere) {
    MaintenanceSim sim;
    sim.Logs().SetLogBytes(1024);
    Connect(sim);
    TempDir empty_path;
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    QSignalSpy successes(manager_.get(), &DeviceBenchManager::successMessageChanged);
    {
        ScopedEnv path("PATH", empty_path.Path());
        EXPECT_FALSE(DownloadArchive(Out("run")));
    }
    const QString error = manager_->errorMessage();
    EXPECT_TRUE(error.startsWith("Operation log download failed. the archiver \"tar\" could not"))
        << error.toStdString();
    EXPECT_TRUE(error.endsWith("the parts downloaded so far are in " + staging_ + "."))
        << error.toStdString();
    const QStringList errors = LinesOf(log, "ERROR");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(
        "Operation Log download error: the archiver \"tar\" could not be started"))
        << errors[0].toStdString();
    EXPECT_EQ(successes.count(), 0);
    EXPECT_EQ(Entries(Out("")), QStringList());
    const QStringList kept = Entries(staging_);
    ASSERT_EQ(kept.size(), 4) << kept.join(" ").toStdString();
    for (int part = 0; part < 4; ++part)
        EXPECT_EQ(kept.filter(QRegularExpression(QString("^") + kPrefixes[part])).size(), 1);
}

TEST_F(MaintenanceTest, OperationLog_TarFails_ShowsItsExitCodeAndWords) {
    MaintenanceSim sim;
    sim.Logs().SetLogBytes(1024);
    Connect(sim);
    TempDir bin;
    {
        std::ofstream script(bin.File("tar"));
        script << "#!/bin/sh\necho 'tar: simulated write error' >&2\nexit 2\n";
    }
    QFile::setPermissions(Text(bin.File("tar")), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    {
        ScopedEnv path("PATH", bin.Path());
        EXPECT_FALSE(DownloadArchive(Out("run")));
    }
    const QStringList errors = LinesOf(log, "ERROR");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0],
              "Operation Log download error: the archiver \"tar\" failed (exit code 2): "
              "tar: simulated write error");
    EXPECT_TRUE(manager_->errorMessage().startsWith("Operation log download failed. "));
    EXPECT_EQ(Entries(staging_).size(), 4);
    EXPECT_EQ(Entries(Out("")), QStringList());
}

TEST_F(MaintenanceTest, OperationLog_TableWithoutTheRow_NamesTheLookup) {
    MaintenanceSim sim;
    Connect(sim, TableFrom({{kCorvelOperationLogRow, ""}}));
    QSignalSpy log(manager_.get(), &DeviceBenchManager::sendLogMessage);
    EXPECT_FALSE(DownloadArchive(Out("run")));
    EXPECT_EQ(LinesOf(log, "ERROR"),
              QStringList{"Operation Log download error: Can not find Operation Log name"});
    EXPECT_EQ(manager_->errorMessage(),
              "Operation log download failed. Can not find Operation Log name");
}

TEST_F(MaintenanceTest, Download_WhileAnotherRuns_EverythingElseIsRefusedQuietly) {
    MaintenanceSim sim;
    sim.Logs().SetLogBytes(1024);
    Connect(sim);
    SimFaults slow;
    slow.reply_delay_ms = 300;
    sim.SetFaults(slow);
    QSignalSpy errors(manager_.get(), &DeviceBenchManager::errorMessageChanged);
    QSignalSpy finished(manager_.get(), &DeviceBenchManager::downloadOperationLogFinished);
    ASSERT_EQ(manager_->DownloadOperationLog(Url(Out("first"))), 0);
    EXPECT_TRUE(manager_->IsDownloadLog());
    EXPECT_EQ(manager_->DownloadOperationLog(Url(Out("second"))), -1);
    EXPECT_EQ(manager_->DownloadOperationLogThread(Url(Out("third"))), -1);
    EXPECT_EQ(manager_->DownloadLog(Url(Out("")), "Boot Log"), -1);
    EXPECT_EQ(manager_->Restart(), -1);
    EXPECT_EQ(manager_->Reset(), -1);
    ASSERT_TRUE(WaitWithEvents([&] { return finished.count() == 1; }, kDownloadWaitMs));
    EXPECT_TRUE(finished.at(0).at(0).toBool());
    EXPECT_EQ(errors.count(), 0);
    EXPECT_EQ(Entries(Out("")), QStringList{"first.tar"});
    EXPECT_TRUE(manager_->IsConnected()) << "the refused restart and reset sent nothing";
    sim.SetFaults(SimFaults{});
    EXPECT_TRUE(DownloadArchive(Out("again"))) << "free again after the first one ended";
}

// ---- Single logs ----

TEST_F(MaintenanceTest, SingleLog_WritesTheReplyUnderItsNameAndStamp) {
    MaintenanceSim sim;
    Connect(sim);
    DownloadOne(Out(""), "Boot Log");
    EXPECT_EQ(manager_->successMessage(), "Boot Log download successful.");
    const QStringList files = Entries(Out(""));
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].contains(QRegularExpression("^Boot Log_\\d{8}-\\d{6}\\.bin$")))
        << files[0].toStdString();
    SimRequest request;
    request.cmd = 0x60;  // Corvel's Boot Log row
    EXPECT_EQ(ReadFile(Out(files[0])), sim.Table().Responder().Answer(request).payload);
    EXPECT_FALSE(manager_->IsDownloadLog());
}

TEST_F(MaintenanceTest, SingleLog_FailureTextsAndNoFile) {
    MaintenanceSim sim;
    Connect(sim);
    SimFaults refused;
    refused.return_code = 5;
    refused.once = true;
    sim.SetFaults(refused);
    DownloadOne(Out(""), "Boot Log");
    EXPECT_EQ(manager_->errorMessage(), "Boot Log download failed. return code: 5");
    DownloadOne(Out(""), "Nope");
    EXPECT_EQ(manager_->errorMessage(), "Can not find Nope name");
    DownloadOne(Out("missing-folder"), "Boot Log");
    EXPECT_EQ(manager_->errorMessage(), "Boot Log: Failed to open file.");
    EXPECT_EQ(Entries(Out("")), QStringList());
}

// The table loader drops rows without any command, so a row that has lost its commands can only
// be met by the operations themselves: they are driven here on a session of their own.
TEST(MaintenanceOperationTest, RowWithoutCommand_SaysSoForEveryOperation) {
    krell::test::EnsureManagerApp();
    MaintenanceSim sim;
    ASSERT_TRUE(sim.Ok());
    auto table = std::make_unique<ConfigParser>(std::string(KRELL_DEVICEBENCH_DIR) +
                                                "/Config/varID/Corvel.csv");
    table->ExtractConfigInfo();
    for (const char* id : {"6-1", "6-5", "6-6"}) {  // Boot Log, Restart, Reset
        VarInfo* var = table->FindById(id);
        ASSERT_NE(var, nullptr) << id;
        var->get_cmd.clear();
        var->set_cmd.clear();
    }
    DeviceSession session;
    session.table.Adopt(std::move(table), "Corvel");
    auto client = std::make_shared<krell::lidar::CmxClient>("127.0.0.1", sim.Port(), false, 0, 1,
                                                            "", "", "", 4000, 4000, 0.0f);
    ASSERT_TRUE(WaitWithEvents([&] { return client->IsOpen(); }));
    session.link.SetCmx(client);
    session.link.connected = true;
    krell::test::RecordingReporter reporter;
    MaintenanceOperation operation(session, reporter);
    EXPECT_EQ(operation.Restart(), -1);
    EXPECT_EQ(operation.Reset(), -1);
    TempDir folder;
    EXPECT_EQ(operation.DownloadLog(folder.Path(), "Boot Log"), -1);
    EXPECT_EQ(reporter.Errors(), (std::vector<std::string>{"Can not find restart command",
                                                           "Can not find reset command",
                                                           "Can not find Boot Log command"}));
    EXPECT_EQ(reporter.EventCount(ManagerEvent::kLinkEnded), 0);
    EXPECT_FALSE(session.link.downloading);
}

TEST_F(MaintenanceTest, SingleLog_NameThatWouldLeaveTheFolder_IsRefused) {
    MaintenanceSim sim;
    Connect(sim);
    TempDir parent;
    const QString folder = Text(parent.File("chosen"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& name : {QString("../Boot Log"), QString("a/b"), QString("..\\x")}) {
        EXPECT_EQ(manager_->DownloadLog(Url(folder), name), -1) << name.toStdString();
        EXPECT_EQ(
            manager_->errorMessage(),
            "Invalid log name \"" + name + "\": a log name can be neither empty nor hold / or \\.");
    }
    krell::test::SpinEvents(50);
    EXPECT_EQ(Entries(Text(parent.Path())), QStringList{"chosen"});
    EXPECT_EQ(Entries(folder), QStringList());
    EXPECT_FALSE(manager_->IsDownloadLog());
}

// ---- Configuration file ----

//! Standard output into a file for one scope.
class CapturedStdout {
public:
    CapturedStdout() : path_(dir_.File("stdout")) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        std::FILE* file = std::fopen(path_.c_str(), "w");
        ::dup2(::fileno(file), STDOUT_FILENO);
        std::fclose(file);
    }
    ~CapturedStdout() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    std::string Text() const {
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    TempDir dir_;
    std::string path_;
    int saved_ = -1;
};

TEST_F(MaintenanceTest, ConfigFile_RequestReachesTheSensorAndThePrintedOutcome) {
    MaintenanceSim sim;
    Connect(sim);
    {
        CapturedStdout out;
        manager_->StartGetConfigFile();
        EXPECT_TRUE(WaitWithEvents([&] { return !out.Text().empty(); }));
        EXPECT_EQ(out.Text(), "[SUCCESS]: Get config file from lidar success! \n");
    }
    EXPECT_EQ(sim.ConfigRequests(), 1);
    manager_->Stop();
    {
        CapturedStdout out;
        manager_->StartGetConfigFile();
        EXPECT_TRUE(WaitWithEvents([&] { return !out.Text().empty(); }));
        EXPECT_EQ(out.Text(), "[FAILED]: Get config file from lidar failed! \n");
    }
}

TEST(SimMaintenanceTest, ConfigFileNamesTheModel) {
    const Bytes config = SimMaintenance::ConfigFile("Corvel");
    EXPECT_NE(std::string(config.begin(), config.end()).find("model=Corvel\n"), std::string::npos);
}

}  // namespace
