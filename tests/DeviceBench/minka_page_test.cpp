// The Minka information page live against the virtual serial CMX Minka: the window connects
// over CMX, the sensor's UDP information packets fill the rows, and malformed datagrams show up
// in the drop count. Leaves a picture for review under Xvfb.
#include <gtest/gtest.h>

#include <QDir>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>

#include <memory>
#include <string>
#include <vector>

#include "DeviceBench/demo_script.h"
#include "DeviceBench/main_window.h"
#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tests/DeviceBench/qt_environment.h"
#include "tests/libkrell/Source/udp_peer.h"
#include "tools/lidar-sim/info_packets.h"
#include "tools/lidar-sim/serial_side.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/sim_setup.h"
#include "tools/lidar-sim/table_responder.h"
#include "tools/lidar-sim/udp_info_sender.h"

namespace {

using devicebench_test::ScreenshotDir;
using devicebench_test::Spin;
using devicebench_test::SpinFor;
using devicebench_test::TakeWarnings;
using Bytes = std::vector<uint8_t>;
namespace sim = krell::lidar::sim;

class MinkaPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup_ = sim::SetUpSimulator(*device_, "Minka-CMX", side_, sim::SerialSideOptions{});
        ASSERT_TRUE(setup_.ok) << setup_.error;
        server_ = std::make_unique<sim::SimServer>(device_);
        ASSERT_TRUE(server_->Start(sim::SimServerOptions{}));
        manager_ =
            std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
        manager_->InitConfigFileParser("Corvel");
        view_ = std::make_unique<QQuickView>();
        MainWindow::LoadPages(*view_, *manager_);
        view_->resize(1300, 900);
        view_->show();
        ASSERT_NE(view_->rootObject(), nullptr);
        SpinFor(100);
        TakeWarnings();
        // Chosen the way a user chooses it.
        QObject* models = Find("modelCombo");
        ASSERT_NE(models, nullptr);
        const int index = models->property("model").toStringList().indexOf("Minka-CMX");
        ASSERT_GE(index, 0);
        ASSERT_TRUE(QMetaObject::invokeMethod(models, "activated", Q_ARG(int, index)));
        ASSERT_TRUE(Spin([&] { return manager_->connectType() == 2 && Find("udpPortField"); }));
        SpinFor(100);
    }
    void TearDown() override {
        sender_.Stop();
        view_.reset();
        manager_.reset();
        server_->Stop();
        side_.Stop();
        EXPECT_EQ(TakeWarnings(), QStringList());
    }

    QObject* Find(const QString& name) const { return FindInPages(view_->rootObject(), name); }
    QString Text(const QString& name) const {
        QObject* object = Find(name);
        return object ? object->property("text").toString() : QString("<no " + name + ">");
    }
    //! The packets of the information variable `name` holding `text`.
    std::vector<Bytes> PacketsOf(const std::string& name, const std::string& text) {
        for (const VarInfo* var : setup_.table->Table().pages()[0][0]) {
            if (var->var_name == name)
                return sim::info_packet::ForVariable(*var, Bytes(text.begin(), text.end()));
        }
        ADD_FAILURE() << "no information variable " << name;
        return {};
    }

    std::shared_ptr<sim::SimDevice> device_ = std::make_shared<sim::SimDevice>();
    sim::SerialSide side_;
    sim::SimSetup setup_;
    std::unique_ptr<sim::SimServer> server_;
    std::unique_ptr<DeviceBenchManager> manager_;
    std::unique_ptr<QQuickView> view_;
    sim::UdpInfoSender sender_;
};

TEST_F(MinkaPageTest, InformationRowsFollowTheSensorsPacketsAndShowTheDropCount) {
    const uint16_t udp_port = [] {
        krell::test::UdpPeer probe;
        return probe.Port();
    }();
    Find("ipField")->setProperty("text", "127.0.0.1");
    Find("portField")->setProperty("text", QString::number(server_->Port()));
    Find("udpPortField")->setProperty("text", QString::number(udp_port));
    ASSERT_TRUE(QMetaObject::invokeMethod(Find("connectButton"), "clicked"));
    ASSERT_TRUE(Spin([&] { return manager_->IsConnected(); }, 15000));

    std::vector<Bytes> packets;
    for (auto part : {PacketsOf("Motor Speed", "1200"), PacketsOf("Internal Temperature", "41.37"),
                      PacketsOf("Supply Voltage", "12.34"), PacketsOf("Operating Time", "2716"),
                      PacketsOf("Return Mode", "DR"), PacketsOf("Laser Status", "1"),
                      PacketsOf("Window Blockage", "3"), PacketsOf("Sync Status", "1"),
                      PacketsOf("Fault Code", "0"), PacketsOf("Heater Status", "0")}) {
        packets.insert(packets.end(), part.begin(), part.end());
    }
    sim::UdpInfoOptions options;
    options.ip = "127.0.0.1";
    options.port = udp_port;
    options.packets_per_second = 400;
    ASSERT_TRUE(sender_.Start(options, packets)) << sender_.LastError();

    EXPECT_TRUE(Spin([&] { return Text("infoValue_Motor Speed (rpm)") == "1200"; }, 5000))
        << Text("infoValue_Motor Speed (rpm)").toStdString();
    EXPECT_TRUE(Spin([&] { return Text("infoValue_Internal Temperature (°C)") == "41.37"; }, 5000));
    EXPECT_TRUE(Spin([&] { return Text("infoValue_Return Mode") == "DR"; }, 5000));
    EXPECT_EQ(Text("infoValue_Lidar IP"), "127.0.0.1");
    EXPECT_EQ(Text("infoValue_SN"), "KR0000MINKA0001");
    EXPECT_TRUE(Spin([&] { return Text("infoValue_PBL Version") == "PBL 1.0.3"; }, 3000));
    EXPECT_EQ(Text("dropCount"), "0");

    krell::test::UdpPeer stray;
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(stray.SendTo("127.0.0.1", udp_port, Bytes(80, 0x41)));
    EXPECT_TRUE(Spin([&] { return Text("dropCount") == "2"; }, 3000))
        << Text("dropCount").toStdString();

    // The rows stay live: a new value replaces the old one on the page.
    sender_.Stop();
    ASSERT_TRUE(sender_.Start(options, PacketsOf("Motor Speed", "1260")));
    EXPECT_TRUE(Spin([&] { return Text("infoValue_Motor Speed (rpm)") == "1260"; }, 5000));
    ASSERT_TRUE(sender_.Start(options, packets));
    SpinFor(400);
    if (view_->isExposed()) {
        const QImage image = view_->grabWindow();
        if (!image.isNull()) {
            EXPECT_TRUE(image.save(QDir(ScreenshotDir()).filePath("minka-info.png")));
        }
    }
}

}  // namespace
