#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/var_info.h"
#include "libkrell/Source/socket_source.h"
#include "tests/support/scribe_capture.h"
#include "tools/lidar-sim/info_packets.h"
#include "tools/lidar-sim/table_responder.h"
#include "tools/lidar-sim/udp_info_sender.h"

namespace {

// Sends the log to a file of this test program before anything logs.
const std::string& kLogPath = krell::test::ScribeCapture::Path();

using krell::lidar::SocketSource;
using krell::lidar::UdpPacket;
using krell::lidar::sim::TableResponder;
using krell::lidar::sim::UdpInfoOptions;
using krell::lidar::sim::UdpInfoSender;
namespace info_packet = krell::lidar::sim::info_packet;
using Clock = std::chrono::steady_clock;

constexpr char kGroup[] = "239.255.77.32";

std::shared_ptr<TableResponder> LoadMinka() {
    std::string error;
    auto table = TableResponder::Load(TableResponder::FindTable("Minka"), "Minka", error);
    EXPECT_TRUE(table) << error;
    return table;
}

bool IsInfoPacket(const UdpPacket& packet) {
    static const uint8_t kHead[] = {0xEE, 0xFF, 0x01, 0x08};
    return packet.length == info_packet::kBytes && std::memcmp(packet.data, kHead, 4) == 0;
}

// Receives within ~2 s; the first information packet, or a zero-length packet when none came.
UdpPacket FirstInfoPacket(SocketSource& source) {
    UdpPacket packet{};
    for (int i = 0; i < 100; ++i) {
        if (source.Receive(packet, 1500, 0, 20000) > 0 && IsInfoPacket(packet)) return packet;
    }
    packet.length = 0;
    return packet;
}

TEST(InfoPackets, CarryEachInformationVariableOfTheTable_AsTheInformationPageDecodesIt) {
    auto table = LoadMinka();
    ASSERT_TRUE(table);
    std::map<int, const VarInfo*> by_id;
    for (const VarInfo* var : table->Table().pages().at(0).at(0)) by_id[var->index] = var;
    ASSERT_FALSE(by_id.empty());

    std::map<int, std::string> shown;
    std::string serial;
    for (const std::vector<uint8_t>& packet : info_packet::Cycle(*table)) {
        ASSERT_EQ(packet.size(), 80u);
        ASSERT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 4),
                  (std::vector<uint8_t>{0xEE, 0xFF, 0x01, 0x08}));
        const VarInfo* var = by_id.at(packet[71]);
        uint32_t raw = 0;
        std::memcpy(&raw, packet.data() + 72, 4);
        if (var->var_name == "SN") {
            if (serial.size() < packet[72] + 1u) serial.resize(packet[72] + 1u, ' ');
            serial[packet[72]] = static_cast<char>(packet[73]);
        } else if (var->var_type == "string") {
            shown[var->index] = std::string{static_cast<char>(packet[73]),
                                            static_cast<char>(packet[72])};
        } else {
            const double value = raw * static_cast<double>(var->coefficient);
            EXPECT_NEAR(value, std::strtod(var->default_val.c_str(), nullptr),
                        std::fabs(var->coefficient) / 2 + 1e-9)
                << var->var_name;
            shown[var->index] = var->default_val;
        }
    }
    for (const auto& [id, var] : by_id) {
        if (var->var_name == "SN") {
            const std::vector<uint8_t> held = table->ValueOf(var->var_id);
            std::string expected(held.begin(), held.end());
            EXPECT_EQ(serial, expected.substr(0, expected.find('\0')));
            EXPECT_FALSE(serial.empty());
        } else {
            EXPECT_TRUE(shown.count(id)) << var->var_name << " never sent";
        }
    }
}

TEST(UdpInfoSender, SendsToALoopbackPort_WhereTheSocketSourceSeesTheSendersPort) {
    auto table = LoadMinka();
    ASSERT_TRUE(table);
    SocketSource source(0, "127.0.0.1", "");
    ASSERT_TRUE(source.Open());
    UdpInfoSender sender;
    UdpInfoOptions options;
    options.ip = "127.0.0.1";
    options.port = source.LocalPort();
    ASSERT_TRUE(sender.Start(options, info_packet::Cycle(*table))) << sender.LastError();
    const UdpPacket packet = FirstInfoPacket(source);
    ASSERT_EQ(packet.length, 80);
    EXPECT_EQ(packet.port, sender.SourcePort());
    EXPECT_EQ(packet.ip, htonl(INADDR_LOOPBACK));
}

TEST(UdpInfoSender, SendsToAGroupOnTheLoopbackInterface_WhichAJoinedSourceReceives) {
    auto table = LoadMinka();
    ASSERT_TRUE(table);
    SocketSource source(0, "127.0.0.1", kGroup);
    ASSERT_TRUE(source.Open());
    UdpInfoSender sender;
    UdpInfoOptions options;
    options.ip = kGroup;
    options.port = source.LocalPort();
    ASSERT_TRUE(sender.Start(options, info_packet::Cycle(*table))) << sender.LastError();
    EXPECT_EQ(FirstInfoPacket(source).length, 80);
}

TEST(UdpInfoSender, StopsWithin100ms_EvenBetweenSlowPackets) {
    UdpInfoSender sender;
    UdpInfoOptions options;
    options.ip = "127.0.0.1";
    options.port = 9;  // nobody listens; the datagrams are dropped on this host
    options.packets_per_second = 1;
    ASSERT_TRUE(sender.Start(options, {std::vector<uint8_t>(80, 0xEE)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const Clock::time_point stop = Clock::now();
    sender.Stop();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stop).count(),
              100);
    EXPECT_EQ(sender.SentCount(), 1u);
}

TEST(UdpInfoSender, RefusesDestinationsOffThisMachine) {
    UdpInfoSender sender;
    UdpInfoOptions options;
    options.ip = "192.0.2.1";
    EXPECT_FALSE(sender.Start(options, {std::vector<uint8_t>(80, 0)}));
    EXPECT_EQ(sender.SentCount(), 0u);

    const char* argv[] = {"lidar-sim", "--udp", "10.1.2.3:2368", "--udp-multicast", "127.0.0.1:5",
                          "--udp", "127.0.0.2:2368", "--udp-multicast", "239.1.2.3:2369"};
    char** args = const_cast<char**>(argv);
    UdpInfoOptions parsed;
    int i = 1;
    EXPECT_FALSE(UdpInfoSender::ParseOption(9, args, i, parsed));
    i = 3;
    EXPECT_FALSE(UdpInfoSender::ParseOption(9, args, i, parsed));
    i = 5;
    EXPECT_TRUE(UdpInfoSender::ParseOption(9, args, i, parsed));
    EXPECT_EQ(i, 6);
    EXPECT_EQ(parsed.ip, "127.0.0.2");
    i = 7;
    EXPECT_TRUE(UdpInfoSender::ParseOption(9, args, i, parsed));
    EXPECT_EQ(parsed.ip, "239.1.2.3");
    EXPECT_EQ(parsed.port, 2369);
}

TEST(LidarSimProgram, UdpOption_SendsInformationPacketsToTheLoopbackPort) {
    SocketSource source(0, "127.0.0.1", "");
    ASSERT_TRUE(source.Open());
    const std::string endpoint = "127.0.0.1:" + std::to_string(source.LocalPort());
    const char* argv[] = {KRELL_LIDAR_SIM_PROGRAM, "--model", "Minka", "--tcp", "127.0.0.1:0",
                          "--udp", endpoint.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    const UdpPacket packet = FirstInfoPacket(source);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(packet.length, 80);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
