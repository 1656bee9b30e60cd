// The Minka information page's loop against the virtual sensor: the values of its point packets
// (UDP for the serial CMX Minka, the RS-485 line for the serial Minka) become the page's rows,
// malformed packets are counted, and the loop ends at once when the link stops.
#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/minka_info_loop.h"
#include "DeviceBenchCore/manager/model_operation.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"
#include "tests/DeviceBenchCore/manager/recording_reporter.h"
#include "tests/DeviceBenchCore/manager/upgrade_fixture.h"
#include "tests/libkrell/Source/udp_peer.h"
#include "tools/lidar-sim/info_packets.h"
#include "tools/lidar-sim/table_responder.h"
#include "tools/lidar-sim/udp_info_sender.h"

namespace krell {
namespace test {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
namespace info_packet = lidar::sim::info_packet;

//! A UDP port nothing is bound to right now.
uint16_t FreeUdpPort() {
    UdpPeer probe;
    return probe.Port();
}

class MinkaInfoTest : public UpgradeTest {
protected:
    //! Connects a manager to the sensor of `model`; its UDP port is `udp_port`.
    bool Connect(const std::string& model, uint16_t udp_port) {
        EnsureManagerApp();
        QSettings(DeviceBenchManager::SettingsFilePath(), QSettings::IniFormat)
            .setValue("udp_port", udp_port);
        return Start(model);
    }

    //! The packets of the information variable `name` holding `text`.
    std::vector<Bytes> PacketsOf(const std::string& name, const std::string& text) {
        for (const VarInfo* var : setup_.table->Table().pages()[0][0]) {
            if (var->var_name == name)
                return info_packet::ForVariable(*var, Bytes(text.begin(), text.end()));
        }
        ADD_FAILURE() << "no information variable " << name;
        return {};
    }
    //! Motor speed, temperature, return mode and a serial number no table holds.
    std::vector<Bytes> LivePackets() {
        std::vector<Bytes> packets;
        for (auto part :
             {PacketsOf("Motor Speed", "1200"), PacketsOf("Internal Temperature", "41.37"),
              PacketsOf("Return Mode", "DR"), PacketsOf("SN", "LIVE00420000077")}) {
            packets.insert(packets.end(), part.begin(), part.end());
        }
        return packets;
    }

    //! The value of the page row `label`; empty when there is none.
    QString Row(const QVariantList& rows, const QString& label) const {
        for (const QVariant& row : rows) {
            const QVariantList pair = row.toList();
            if (pair.size() == 2 && pair[0].toString() == label) return pair[1].toString();
        }
        return QString();
    }
    QString Info(const QString& label) const { return Row(manager_->MinkaLidarInfo(), label); }

    bool WaitForInfo(const QString& label, const QString& value) {
        return WaitWithEvents([&] { return Info(label) == value; }, 5000);
    }
};

TEST_F(MinkaInfoTest, SerialCmxMinkaShowsUdpValuesCountsMalformedAndKeepsItsQueriedSn) {
    const uint16_t port = FreeUdpPort();
    ASSERT_TRUE(Connect("Minka-CMX", port));
    QSignalSpy changed(manager_.get(), &DeviceBenchManager::minkaLidarInfoChanged);
    lidar::sim::UdpInfoSender sender;
    lidar::sim::UdpInfoOptions options;
    options.ip = "127.0.0.1";
    options.port = port;
    options.packets_per_second = 400;
    ASSERT_TRUE(sender.Start(options, LivePackets())) << sender.LastError();

    EXPECT_TRUE(WaitForInfo("Motor Speed (rpm)", "1200"))
        << Info("Motor Speed (rpm)").toStdString();
    EXPECT_TRUE(WaitForInfo("Internal Temperature (°C)", "41.37"));
    EXPECT_TRUE(WaitForInfo("Return Mode", "DR"));
    EXPECT_EQ(Info("Lidar IP"), "127.0.0.1");
    // Id 10 is the queried serial number's, not the packets'.
    EXPECT_EQ(Info("SN"), "KR0000MINKA0001");
    // Not read yet: no table default is passed off as the sensor's.
    EXPECT_EQ(Info("Supply Voltage (V)"), "xxxxxxxx");
    EXPECT_EQ(Row(manager_->MinkaLidarVersionInfo(), "PBL Version"), "PBL 1.0.3");

    UdpPeer stray;
    Bytes cut(79, 0);
    cut[0] = 0xEE, cut[1] = 0xFF, cut[2] = 0x01, cut[3] = 0x08;
    Bytes foreign(80, 0x41);
    Bytes oversized(2000, 0);
    oversized[0] = 0xEE, oversized[1] = 0xFF;
    for (const Bytes& bad : {cut, foreign, oversized})
        ASSERT_TRUE(stray.SendTo("127.0.0.1", port, bad));
    EXPECT_TRUE(WaitWithEvents([&] { return manager_->MinkaInfoDropCount() == 3; }, 3000))
        << manager_->MinkaInfoDropCount();

    // Live: the page hears of values that keep moving several times a second (not once per
    // 8000 passes), yet not once per packet.
    sender.Stop();
    std::vector<Bytes> moving = PacketsOf("Motor Speed", "1260");
    for (const Bytes& packet : PacketsOf("Motor Speed", "1320"))
        moving.push_back(packet);
    ASSERT_TRUE(sender.Start(options, moving));
    SpinEvents(100);
    const int before = changed.count();
    SpinEvents(1000);
    const int heard = changed.count() - before;
    EXPECT_GE(heard, 3);
    EXPECT_LE(heard, 1000 / MinkaInfoLoop::kNotifyIntervalMs + 2);
}

TEST_F(MinkaInfoTest, SerialMinkaShowsTheRs485ValuesAndPutsTheSnTogether) {
    ASSERT_TRUE(Connect("Minka", FreeUdpPort()));
    // As set up, the sensor's RS-485 packets carry its table's values.
    EXPECT_TRUE(WaitForInfo("Motor Speed (rpm)", "600")) << Info("Motor Speed (rpm)").toStdString();
    side_.SetInfoPackets(LivePackets());
    EXPECT_TRUE(WaitForInfo("Motor Speed (rpm)", "1200"))
        << Info("Motor Speed (rpm)").toStdString();
    EXPECT_TRUE(WaitForInfo("Internal Temperature (°C)", "41.37"));
    EXPECT_TRUE(WaitForInfo("SN", "LIVE00420000077")) << Info("SN").toStdString();
    EXPECT_EQ(Info("Lidar IP"), "");  // a serial line has no sender address
    EXPECT_EQ(Row(manager_->MinkaLidarVersionInfo(), "PBL Version"), "PBL 1.0.3");
    EXPECT_EQ(manager_->MinkaInfoDropCount(), 0);
}

TEST_F(MinkaInfoTest, RuskoPageShowsItsFirmwareVersionsAfterThePblVersion) {
    ASSERT_TRUE(Connect("Rusko-CMX", FreeUdpPort()));
    const QStringList labels = {"PBL Version", "BMB FPGA Version", "TMB FPGA Version",
                                "BMB MCU Version"};
    const QStringList expected = {"PBL 1.0.3", "BMB-FPGA 2.4.1", "TMB-FPGA 2.4.0", "BMB-MCU 1.9.7"};
    EXPECT_TRUE(WaitWithEvents([&] {
        const QVariantList rows = manager_->MinkaLidarVersionInfo();
        QStringList values;
        for (const QString& label : labels)
            values << Row(rows, label);
        return values == expected;
    }));
}

class MinkaInfoRouteTest : public MinkaInfoTest,
                           public ::testing::WithParamInterface<std::string> {};

// The loop leaves at once when the link stops: no join waits for a receive time-out.
TEST_P(MinkaInfoRouteTest, StopEndsTheLoopWithinATenthOfASecond) {
    ASSERT_TRUE(Connect(GetParam(), FreeUdpPort()));
    if (GetParam() == "Minka") side_.SetInfoPackets(LivePackets());
    SpinEvents(300);  // past the identity queries, into the packet wait
    const auto start = Clock::now();
    manager_->Stop();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_LT(took, 150) << "Stop took " << took << " ms";
}

INSTANTIATE_TEST_SUITE_P(Routes, MinkaInfoRouteTest, ::testing::Values("Minka-CMX", "Minka"));

TEST_F(MinkaInfoTest, UdpPortInUseSaysTheInformationCannotBeUpdated) {
    UdpPeer holder;  // bound without address reuse: nobody else may bind the port
    ASSERT_TRUE(Connect("Minka-CMX", holder.Port()));
    EXPECT_TRUE(WaitWithEvents(
        [&] { return manager_->errorMessage() == MinkaInfoLoop::kUdpOpenFailure; }, 3000))
        << manager_->errorMessage().toStdString();
}

// The loop alone: a Stop while it waits for a packet that never comes returns at once.
TEST(MinkaInfoLoopAlone, StopDuringAnIdleWaitReturnsAtOnce) {
    RecordingReporter reporter;
    DeviceSession session;
    ModelOperation model(session, reporter);
    session.link.kind = Link::kKindSerialCmx;
    MinkaInfoLoop loop(session, reporter, model);
    for (bool connected : {false, true}) {
        session.link.connected = connected;  // idle pause, then the UDP wait
        loop.Start(FreeUdpPort());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto start = Clock::now();
        loop.Stop();
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_LT(took, 100) << "connected " << connected;
        EXPECT_FALSE(loop.Running());
    }
}

}  // namespace
}  // namespace test
}  // namespace krell
