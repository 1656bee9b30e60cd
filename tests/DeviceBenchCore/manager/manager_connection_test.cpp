// The manager's lifecycle: model selection and its cache, the settings file, the three
// connection modes with their success and failure texts, and the refresh thread.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>

#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/support/cert_factory.h"

namespace {

using krell::test::TableSim;
using krell::test::WaitWithEvents;

QStringList Lines(const QSignalSpy& spy) {
    QStringList lines;
    for (const QList<QVariant>& call : spy)
        lines << call.at(1).toString() + "|" + call.at(0).toString();
    return lines;
}

// A loopback port nobody listens on: bound, read back and closed again.
uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

class ManagerConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        krell::test::EnsureManagerApp();
        QFile::remove(DeviceBenchManager::SettingsFilePath());
    }

    std::unique_ptr<DeviceBenchManager> Make(const QString& model = "Corvel") {
        auto manager =
            std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
        manager->InitConfigFileParser(model);
        manager->setIpAddress("127.0.0.1");
        return manager;
    }

    //! Starts an attempt and waits until it has ended (either way).
    static void Attempt(DeviceBenchManager& manager, int limit_ms = 15000) {
        ASSERT_TRUE(manager.ConnectLidar());
        EXPECT_TRUE(WaitWithEvents([&] { return !manager.GetIsConnectingLidar(); }, limit_ms));
        krell::test::SpinEvents(50);
    }
};

TEST_F(ManagerConnectionTest, ModelSelection_EmitsInOrderAndReusesTheCachedTable) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    QStringList order;
    const auto record = [&](void (DeviceBenchManager::*signal)(), const char* name) {
        QObject::connect(&manager, signal, &manager, [&order, name] { order << name; });
    };
    record(&DeviceBenchManager::connectTypeChanged, "connectTypeChanged");
    record(&DeviceBenchManager::lidarClearModel, "lidarClearModel");
    record(&DeviceBenchManager::lidarModelChanged, "lidarModelChanged");
    record(&DeviceBenchManager::lidarShowModel, "lidarShowModel");
    EXPECT_TRUE(manager.myMap().isEmpty());
    EXPECT_TRUE(manager.level2List().isEmpty());
    EXPECT_FALSE(manager.isTimerUpdate(0, 0, 0));
    manager.InitConfigFileParser("Corvel");
    EXPECT_EQ(order, (QStringList{"connectTypeChanged", "lidarClearModel", "lidarModelChanged",
                                  "lidarShowModel"}));
    manager.InitConfigFileParser("Corvel");  // the same model again changes nothing
    EXPECT_EQ(order.size(), 4);
    // An edit survives a switch to another model and back: the table is cached.
    manager.SetText(1, 2, 3, 3, "2.25");  // Point Cloud / Mounting / Roll Offset
    manager.InitConfigFileParser("Tovin");
    EXPECT_EQ(manager.connectType(), 0);
    manager.InitConfigFileParser("Corvel");
    const QVariantList pages = manager.myMap();
    ASSERT_EQ(pages.size(), 6);
    const QVariantMap roll = pages[2].toList()[3].toList()[3].toMap();
    EXPECT_EQ(roll["var_name"].toString(), "Roll Offset");
    EXPECT_EQ(roll["current_val"].toString(), "2.25");
    EXPECT_EQ(manager.level1List().first().toString(), "Device Info");
    manager.InitConfigFileParser("Minka");
    EXPECT_EQ(manager.connectType(), 1);
    EXPECT_TRUE(manager.level1List().isEmpty());
    EXPECT_TRUE(manager.myMap().isEmpty());
    manager.InitConfigFileParser("Rusko-CMX");
    EXPECT_EQ(manager.connectType(), 2);
    const QVariantList models = manager.LidarModelList();
    EXPECT_TRUE(models.contains("Corvel") && models.contains("Minka-CMX"));
    EXPECT_FALSE(models.contains("Rusko-CMX"));
}

TEST_F(ManagerConnectionTest, ModuleName_FixesTheModelListOnlyForKnownModels) {
    DeviceBenchManager manager(true, DeviceBenchManager::kDefaultTablePath);
    manager.SetModuleName("NoSuchModel");
    EXPECT_EQ(manager.getLMNowName(), "");
    QSignalSpy list_changed(&manager, &DeviceBenchManager::lidarModelListChanged);
    manager.SetModuleName("Tovin");
    EXPECT_EQ(list_changed.count(), 1);
    EXPECT_EQ(manager.getLMNowName(), "Tovin");
    EXPECT_EQ(manager.LidarModelList(), (QVariantList{"Tovin"}));
}

TEST_F(ManagerConnectionTest, Settings_ReadAtStartAndWrittenByConnectWithoutUdpPort) {
    {
        QSettings settings(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat);
        settings.setValue("device_ip_address", "127.0.0.9");
        settings.setValue("cmx_port", "1234");
        settings.setValue("point_cloud_baudrate", 921600);
    }
    auto manager =
        std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    EXPECT_EQ(manager->ip_address(), "127.0.0.9");
    EXPECT_EQ(manager->port(), "1234");
    EXPECT_EQ(manager->baud_rate(), "921600");
    EXPECT_EQ(manager->udpPort(), "2368");
    EXPECT_EQ(manager->serial_port_485(), "/dev/ttyUSB0");
    // A QML call that threw would end the program: bad text is refused and the port kept.
    for (const char* bad : {"abc", "", "0", "65536", "70000", "-1", "12x"}) {
        EXPECT_NO_THROW(manager->setUdpPort(bad)) << bad;
        EXPECT_EQ(manager->udpPort(), "2368") << bad;
    }
    EXPECT_TRUE(manager->errorMessage().startsWith("invalid UDP port \"12x\""))
        << manager->errorMessage().toStdString();
    manager->setBaudRate("fast");
    EXPECT_EQ(manager->baud_rate(), "0");
    manager->setUdpPort("5000");
    manager->InitConfigFileParser("Corvel");
    manager->setIpAddress("127.0.0.1");
    manager->setPort(QString::number(ClosedPort()));
    Attempt(*manager);
    QSettings settings(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(settings.value("device_ip_address").toString(), "127.0.0.1");
    EXPECT_EQ(settings.value("point_cloud_baudrate").toString(), "0");
    EXPECT_FALSE(settings.contains("udp_port"));
}

TEST_F(ManagerConnectionTest, Tcp_ConnectsProbesAndStops) {
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    auto manager = Make();
    manager->setPort(QString::number(sim.Port()));
    QSignalSpy log(manager.get(), &DeviceBenchManager::sendLogMessage);
    QSignalSpy connected(manager.get(), &DeviceBenchManager::isConnectedChanged);
    ASSERT_TRUE(manager->ConnectLidar());
    ASSERT_TRUE(WaitWithEvents([&] { return manager->IsConnected(); }));
    ASSERT_TRUE(WaitWithEvents([&] { return connected.count() == 1; }));
    EXPECT_TRUE(Lines(log).contains("INFO|Lidar connected"));
    EXPECT_TRUE(manager->CheckLidarConnection());
    manager->Stop();
    EXPECT_FALSE(manager->IsConnected());
    EXPECT_FALSE(manager->CheckLidarConnection());
    EXPECT_TRUE(Lines(log).contains("INFO|Lidar disconnected"));
    manager->Stop();  // harmless when not connected
}

TEST_F(ManagerConnectionTest, ByteFlow_ShowsExchangesButNeverTheProbes) {
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    auto manager = Make();
    manager->setPort(QString::number(sim.Port()));
    Attempt(*manager);
    ASSERT_TRUE(manager->IsConnected());
    QSignalSpy log(manager.get(), &DeviceBenchManager::sendLogMessage);
    manager->SetLogBytesFlowStatus(true);
    EXPECT_TRUE(manager->CheckLidarConnection());
    krell::test::SpinEvents(50);
    EXPECT_TRUE(Lines(log).filter("BYTES|").isEmpty());
    manager->GetLidarModuleInfo(3);  // Time Sync: two get commands
    EXPECT_TRUE(WaitWithEvents([&] { return Lines(log).filter("BYTES|").size() == 4; }));
    EXPECT_TRUE(Lines(log).filter("BYTES|SEND: 47 74 0b 00 ").size() == 1)
        << Lines(log).join("\n").toStdString();
    manager->SetLogBytesFlowStatus(false);
    manager->GetLidarModuleInfo(3);
    krell::test::SpinEvents(50);
    EXPECT_EQ(Lines(log).filter("BYTES|").size(), 4);
}

TEST_F(ManagerConnectionTest, Tls_ConnectsWithCertificates) {
    krell::test::CertFactory certs;
    ASSERT_TRUE(certs.Ok());
    TableSim sim("Corvel", "", true, certs.ServerCertPath(), certs.ServerKeyPath(), certs.CaPath());
    ASSERT_TRUE(sim.Ok());
    auto manager = Make();
    manager->setPort(QString::number(sim.Port()));
    manager->SetTlsFiles(certs.ClientCertPath(), certs.ClientKeyPath(), certs.CaPath());
    Attempt(*manager);
    EXPECT_TRUE(manager->IsConnected());
    EXPECT_TRUE(manager->CheckLidarConnection());
}

TEST_F(ManagerConnectionTest, TcpFailures_GiveTheirTexts) {
    struct Case {
        QString port;
        QString log;
    };
    TableSim silent("Corvel");
    ASSERT_TRUE(silent.Ok());
    krell::lidar::sim::SimFaults faults;
    faults.no_reply = true;
    silent.Server().SetFaults(faults);
    for (const Case& c :
         {Case{"port", "ERROR|Connection Error: Unknown"},
          Case{QString::number(ClosedPort()), "ERROR|Connection Error: TCP connection failed."},
          Case{QString::number(silent.Port()),
               "ERROR|Connection Error: Lidar has No CMX reply."}}) {
        auto manager = Make();
        manager->setPort(c.port);
        QSignalSpy log(manager.get(), &DeviceBenchManager::sendLogMessage);
        QSignalSpy error(manager.get(), &DeviceBenchManager::errorMessageChanged);
        Attempt(*manager);
        EXPECT_FALSE(manager->IsConnected());
        EXPECT_EQ(manager->errorMessage(),
                  "Connection Failed. Please check your network settings.");
        EXPECT_EQ(error.count(), 1);
        EXPECT_TRUE(Lines(log).contains(c.log)) << Lines(log).join("\n").toStdString();
    }
}

TEST_F(ManagerConnectionTest, SerialCmx_SendsThePointCloudLineSpeed) {
    TableSim sim("Minka-CMX");
    ASSERT_TRUE(sim.Ok());
    auto manager = Make("Minka-CMX");
    manager->setPort(QString::number(sim.Port()));
    manager->setBaudRate("921600");
    Attempt(*manager);
    EXPECT_TRUE(manager->IsConnected());
    const std::vector<uint8_t> commands = sim.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), 0xFF);  // the tunnelled line speed, no probes
    EXPECT_TRUE(manager->myMap().isEmpty());
}

TEST_F(ManagerConnectionTest, MinkaSerial_NamesThePortThatDidNotOpen) {
    auto manager = Make("Minka");
    manager->setSerialPort485("/nonexistent/rs485");
    manager->setSerialPort232("/nonexistent/uart");
    QSignalSpy log(manager.get(), &DeviceBenchManager::sendLogMessage);
    Attempt(*manager);
    EXPECT_FALSE(manager->IsConnected());
    EXPECT_EQ(manager->errorMessage(), "Connection Failed. Please check your RS485 serial port.");
    EXPECT_TRUE(Lines(log).contains("ERROR|Connection Error: RS485 serial open fail"));
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    manager->setSerialPort485(name);
    Attempt(*manager);
    close(slave);
    close(master);
    EXPECT_EQ(manager->errorMessage(), "Connection Failed. Please check your UART serial port.");
    EXPECT_TRUE(Lines(log).contains("ERROR|Connection Error: UART serial open fail"));
}

TEST_F(ManagerConnectionTest, Refresh_TicksAboutEveryThreeSecondsAndStopsWithStop) {
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    auto manager = Make();
    manager->setPort(QString::number(sim.Port()));
    QSignalSpy ticks(manager.get(), &DeviceBenchManager::myTimerMapChanged);
    Attempt(*manager);
    ASSERT_TRUE(manager->IsConnected());
    manager->setModuleIndexUse(0);
    krell::test::SpinEvents(2500);
    EXPECT_EQ(ticks.count(), 0);  // the first read comes about 3 s after connecting
    EXPECT_TRUE(WaitWithEvents([&] { return ticks.count() == 1; }, 1500));
    EXPECT_TRUE(WaitWithEvents([&] { return ticks.count() == 2; }, 3500));
    manager->Stop();
    krell::test::SpinEvents(3500);
    EXPECT_EQ(ticks.count(), 2);
}

// The periodic read of page 0 asks three get groups in turn, each bounded by a 4 s time-out; a
// model change, a disconnect or a closing window must not wait for them.
TEST_F(ManagerConnectionTest, SilentSensor_ModelChangeStopAndDestructionReturnAtOnce) {
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    for (const bool destroy : {false, true}) {
        auto manager = Make();
        manager->setPort(QString::number(sim.Port()));
        Attempt(*manager);
        ASSERT_TRUE(manager->IsConnected());
        manager->setModuleIndexUse(0);
        const uint64_t before = sim.Server().RequestCount();
        krell::lidar::sim::SimFaults faults;
        faults.no_reply = true;
        sim.Server().SetFaults(faults);
        // The refresh's first exchange is now waiting for a reply that never comes.
        ASSERT_TRUE(WaitWithEvents([&] { return sim.Server().RequestCount() > before; }, 5000));
        krell::test::SpinEvents(200);
        QElapsedTimer timer;
        timer.start();
        if (destroy) {
            manager.reset();
        } else {
            manager->InitConfigFileParser("Tovin");  // never waits for the link
            EXPECT_LT(timer.elapsed(), 500) << "model change";
            manager->Stop();
            EXPECT_FALSE(manager->IsConnected());
            EXPECT_FALSE(manager->CheckLidarConnection());
        }
        EXPECT_LT(timer.elapsed(), 1500) << (destroy ? "destruction" : "model change and Stop");
        sim.Server().SetFaults(krell::lidar::sim::SimFaults());
    }
}

TEST_F(ManagerConnectionTest, SerialCmxFailure_PrintsTheLineOfItsOwnAttempt) {
    auto manager = Make("Minka-CMX");
    manager->setPort(QString::number(ClosedPort()));
    testing::internal::CaptureStdout();
    Attempt(*manager);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("DeviceBenchManager::InitCmxForSerial(): init lidar error"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("DeviceBenchManager::Init():"), std::string::npos) << out;
}

TEST_F(ManagerConnectionTest, Destruction_MidConnectNeitherCrashesNorHangs) {
    TableSim sim("Corvel");
    ASSERT_TRUE(sim.Ok());
    for (int i = 0; i < 3; ++i) {
        auto manager = Make();
        manager->setPort(QString::number(sim.Port()));
        ASSERT_TRUE(manager->ConnectLidar());
    }
}

}  // namespace
