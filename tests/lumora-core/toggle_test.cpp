// Toggles and sources: defaults, signals, extension matching, source replacement and lifetime,
// the "Time" meta-type on the cursor, and the lidar SDK driver's start/stop and receiving.
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lumora-core/input_file_toggle.h"
#include "lumora-core/input_net_toggle.h"
#include "lumora-core/input_sdk_toggle.h"
#include "lumora-core/time_cursor_toggle.h"
#include "test_support.h"

namespace {

using namespace krell::lumora;

TEST(NetToggle, NewToggle_ReportsDefaults) {
    InputNetToggle toggle;
    EXPECT_EQ(toggle.defaultPort(), 2368);
    EXPECT_EQ(toggle.defaultHostAddress(), "Any");
    EXPECT_EQ(static_cast<int>(toggle.defaultProtocol()), 0);
    EXPECT_TRUE(toggle.productModelName().isEmpty());
    EXPECT_EQ(toggle.receiveBufferSize(), 25165824);
    EXPECT_EQ(toggle.property("receiveBufferSize").toInt(), 25165824);
    EXPECT_TRUE(toggle.netSource().isNull());
}

TEST(Toggles, SetExts_OnlyTheNetFormSignals) {
    InputFileToggle file;
    InputNetToggle net;
    QSignalSpy file_spy(&file, &FileToggle::onExtSet);
    QSignalSpy net_spy(&net, &NetToggle::onExtSet);
    QSignalSpy size_spy(&net, &InputNetToggle::onReceiveBufferSizeSet);
    ASSERT_TRUE(file.setProperty("exts", QVariant::fromValue(QList<QString>{"pcap", "bag"})));
    net.setExts({"udp"});
    net.setReceiveBufferSize(1024);
    net.setDefaultPort(2369);
    EXPECT_EQ(file_spy.count(), 0);
    EXPECT_EQ(net_spy.count(), 1);
    EXPECT_EQ(size_spy.count(), 1);
    EXPECT_EQ(file.exts(), (QList<QString>{"pcap", "bag"}));

    bool supported = false;
    ASSERT_TRUE(QMetaObject::invokeMethod(&file, "isSupportedExt", Q_RETURN_ARG(bool, supported),
                                          Q_ARG(QString, QStringLiteral("pcap"))));
    EXPECT_TRUE(supported);
    EXPECT_FALSE(file.isSupportedExt("PCAP"));
    EXPECT_FALSE(file.isSupportedExt("pca"));
    EXPECT_TRUE(net.isSupportedExt("udp"));
}

TEST(Toggles, NewSource_ReplacesHeldSourceButViewerReferenceKeepsItAlive) {
    auto* toggle = new InputFileToggle;
    QSharedPointer<FileSource> first = toggle->newFileSource();
    QSharedPointer<FileSource> second = toggle->newFileSource();
    EXPECT_NE(first, second);
    EXPECT_EQ(toggle->fileSource(), second);
    EXPECT_EQ(second->parent(), toggle);

    QPointer<FileSource> first_watch(first.data());
    QPointer<FileSource> second_watch(second.data());
    first.reset();
    EXPECT_TRUE(first_watch.isNull()) << "the replaced source dies with its last reference";
    delete toggle;
    ASSERT_FALSE(second_watch.isNull()) << "the viewer's reference outlives the toggle";
    second->setFilePath(QStringLiteral("still usable"));
    second.reset();
    EXPECT_TRUE(second_watch.isNull());
}

TEST(Toggles, DestroyedToggle_DeletesPlainChildSourcesAndKeepsTheHeldOnes) {
    auto* toggle = new InputFileToggle;
    QSharedPointer<FileSource> replaced = toggle->newFileSource();
    QSharedPointer<FileSource> current = toggle->newFileSource();
    // Qt children that no shared pointer holds: Qt owns them, so they go with the toggle.
    QPointer<FileSource> plain(new FileSource(toggle));
    QPointer<NetSource> other_kind(new NetSource(toggle));
    QPointer<FileSource> replaced_watch(replaced.data());
    QPointer<FileSource> current_watch(current.data());
    delete toggle;
    EXPECT_TRUE(plain.isNull()) << "a plain child source was let go and leaked";
    EXPECT_TRUE(other_kind.isNull()) << "a plain child source was let go and leaked";
    delete plain.data();  // no-ops unless the checks above failed
    delete other_kind.data();
    ASSERT_FALSE(replaced_watch.isNull()) << "the viewer's reference outlives the toggle";
    ASSERT_FALSE(current_watch.isNull()) << "the viewer's reference outlives the toggle";
    EXPECT_EQ(replaced->parent(), nullptr);
    EXPECT_EQ(current->parent(), nullptr);
    replaced.reset();
    current.reset();
    EXPECT_TRUE(replaced_watch.isNull());
    EXPECT_TRUE(current_watch.isNull());

    // A source only the toggle holds goes with the toggle, through its shared pointer.
    auto* net = new InputNetToggle;
    QPointer<NetSource> only(net->newNetSource().data());
    QPointer<NetSource> net_plain(new NetSource(net));
    ASSERT_FALSE(only.isNull());
    delete net;
    EXPECT_TRUE(only.isNull());
    EXPECT_TRUE(net_plain.isNull()) << "a plain child source was let go and leaked";
    delete net_plain.data();
}

TEST(TimeCursorToggle, CursorProperty_UsesRegisteredTimeType) {
    TimeCursorToggle toggle;
    EXPECT_EQ(toggle.timeCursor().time_since_epoch().count(), 0);
    const int time_type = QMetaType::type("Time");
    ASSERT_NE(time_type, QMetaType::UnknownType);
    const int index = toggle.metaObject()->indexOfProperty("timeCursor");
    ASSERT_GE(index, 0);
    EXPECT_EQ(toggle.metaObject()->property(index).userType(), time_type);

    const Time t(TimeTicks(17040000001234567));
    ASSERT_TRUE(toggle.setProperty("timeCursor", QVariant::fromValue(t)));
    EXPECT_EQ(toggle.property("timeCursor").value<Time>(), t);

    bool same = false;
    ASSERT_TRUE(QMetaObject::invokeMethod(&toggle, "isCursorChanged", Q_RETURN_ARG(bool, same),
                                          QGenericArgument("Time", &t)));
    EXPECT_TRUE(same);
    EXPECT_FALSE(toggle.isCursorChanged(t + TimeTicks(1)));

    const QDateTime when(QDate(2024, 5, 6), QTime(7, 8, 9, 10), Qt::UTC);
    toggle.setCursorDateTime(when);
    EXPECT_EQ(toggle.cursorDateTime(), when);
    EXPECT_EQ(toggle.timeCursor().time_since_epoch().count(), when.toMSecsSinceEpoch() * 10000);
}

// A UDP socket on 127.0.0.1 that sends to a loopback port.
void sendDatagram(uint16_t port, const std::string& payload) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    ::close(fd);
}

KrellLidarSdkParam loopbackParam() {
    KrellLidarSdkParam param;
    param.host_address = "127.0.0.1";
    param.data_port = 0;
    return param;
}

TEST(SDKSource, ConstructAndDestroy_PrintBannerAndLogStopOnce) {
    const int stops_before =
        lumora_test::countOf(lumora_test::readScribeLog(), "Krell Lidar SDK is stopping...");
    ::testing::internal::CaptureStdout();
    {
        InputSDKToggle toggle;
        EXPECT_EQ(toggle.newSDKSource()->sdkParam().data_port, NetToggle::kDefaultPort);
    }
    const std::string banner = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(banner, "-------- Krell Lidar SDK V2.0.12 --------\n");
    const std::string log = lumora_test::readScribeLog();
    EXPECT_EQ(lumora_test::countOf(log, "Krell Lidar SDK is stopping..."), stops_before + 1);
    EXPECT_NE(log.find("krell_lidar_sdk.h:"), std::string::npos) << "the driver names itself";
}

TEST(KrellLidarSdk, StartStopInAnyOrder_ReceivesLoopbackPackets) {
    KrellLidarSdk<SDKPointInfo> sdk;
    sdk.stop();  // before any start
    ASSERT_TRUE(sdk.setParam(loopbackParam()));
    std::mutex mutex;
    std::vector<std::string> packets;
    sdk.setPacketCallback([&](const uint8_t* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        packets.emplace_back(reinterpret_cast<const char*>(data), size);
    });
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(sdk.start());
        EXPECT_TRUE(sdk.start()) << "a second start is harmless";
        EXPECT_FALSE(sdk.setParam(loopbackParam())) << "settings are fixed while running";
        const uint16_t port = sdk.boundPort();
        ASSERT_NE(port, 0);
        const uint64_t expected = sdk.packetCount() + 1;
        sendDatagram(port, "packet-" + std::to_string(round));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sdk.packetCount() < expected && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        sdk.stop();
        sdk.stop();
        EXPECT_FALSE(sdk.isRunning());
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(packets, (std::vector<std::string>{"packet-0", "packet-1"}));
}

TEST(KrellLidarSdk, PortInUse_StartFailsWithLogLine) {
    KrellLidarSdk<SDKPointInfo> first;
    ASSERT_TRUE(first.setParam(loopbackParam()));
    ASSERT_TRUE(first.start());
    KrellLidarSdkParam taken = loopbackParam();
    taken.data_port = first.boundPort();
    KrellLidarSdk<SDKPointInfo> second;
    second.setParam(taken);
    EXPECT_FALSE(second.start());
    EXPECT_FALSE(second.isRunning());
    const std::string needle = "Krell Lidar SDK bind 127.0.0.1:" + std::to_string(taken.data_port);
    EXPECT_EQ(lumora_test::countOf(lumora_test::readScribeLog(), needle), 1);
}

}  // namespace
