// Golden reply layouts of the Corvel table, written out by hand from its rows (the variables of
// a get command laid out in Index order, each VarLen long, numbers most significant byte first,
// the DefaultValue divided by Coefficient), checked against what the simulator as the program
// ships it sends to a real client. The simulator computes its layouts with the product's own
// table parser and encoders, so only bytes derived independently can catch a wrong position,
// length or byte order in either.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "tools/lidar-sim/sim_server.h"
#include "tools/lidar-sim/sim_setup.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kClientTimeoutMs = 2000;
constexpr int kConnectWaitSteps = 300;

struct Golden {
    const char* var_id;
    uint8_t cmd;
    Bytes request;  // the get payload as sent
    size_t position;
    Bytes bytes;
};

Bytes Text(const std::string& text, size_t length) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

const std::vector<Golden>& CorvelGoldens() {
    static const std::vector<Golden> goldens = {
        // 0x06: Work Mode, Motor Speed, Supply Voltage, Power, Uptime, Total Frames, Fault Code.
        {"1-10", 0x06, {}, 0, {0x01}},                                             // uint8 1
        {"1-11", 0x06, {}, 1, {0x02, 0x58}},                                       // uint16 600
        {"1-12", 0x06, {}, 3, {0x2E, 0xE0}},                                       // 12.00 / 0.001
        {"1-13", 0x06, {}, 5, {0x41, 0x68, 0x00, 0x00}},                           // float32 14.5
        {"1-14", 0x06, {}, 9, {0x00, 0x00, 0x02, 0xD5}},                           // DT 725 s
        {"1-15", 0x06, {}, 13, {0, 0, 0, 0, 0, 0, 0x1C, 0x52}},                    // uint64 7250
        {"4-4", 0x0B, {}, 3, {0x00, 0x00, 0x25, 0x80}},                            // uint32 9600
        {"4-11", 0x0C, {}, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x88}},   // int64 -120
        {"4-12", 0x0C, {}, 9, {0x00, 0x00, 0x03, 0x52}},                           // int32 850
        {"4-13", 0x0C, {}, 13, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}},  // uint64 id
        {"3-5", 0x0D, {}, 7, {0xFB}},                                              // int8 -5
        {"3-4", 0x0D, {}, 5, {0x00, 0x32}},                                        // 0.50 / 0.01
        {"1-20", 0x0E, {0x01}, 0, {0x0D, 0xDE}},  // int16 35.50 / 0.01, selected by payload 01
        {"3-11", 0x1C, {}, 4, {0xFF, 0x6A}},      // int16 -1.50 / 0.01
        {"3-12", 0x1C, {}, 6, {0x3F, 0xFD, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}},  // double 1.85
        {"3-13", 0x1C, {}, 14, {0x05}},                                           // 0.50 / 0.1
        {"1-2", 0x07, {}, 16, Text("CV128A2411000137", 16)},                      // string SN
        {"1-4", 0x07, {}, 48, Cat(Text("CV_HW_RB_", 9), {2, 1, 0x00, 0x0F, 0x00, 0x00, 0})},
        {"1-5", 0x07, {}, 64, Cat(Text("CV_APP_V1.4_", 12), {24, 11, 30, 0})},  // SWVER_YMD
        {"2-1", 0x08, {}, 0, {192, 168, 1, 201}},                               // IP
        {"2-4", 0x08, {}, 12, {192, 168, 1, 102}},                              // IP
        {"2-5", 0x08, {}, 16, {0x09, 0x40}},                                    // uint16 2368
        {"1-6", 0x0A, {}, 0, {0x00, 0x1C, 0xB7, 0x3A, 0x10, 0x42}},             // MAC
        // Tunnelled: the reply repeats the 4-byte prefix, then -3.20 / 0.01 and 18.
        {"1-22", 0xFF, {0x00, 0x00, 0x01, 0x5A}, 4, {0xFE, 0xC0}},
        {"1-23", 0xFF, {0x00, 0x00, 0x01, 0x5A}, 6, {0x12}},
    };
    return goldens;
}

class CorvelGoldenTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup_ = SetUpSimulator(*device_, "Corvel", serial_, SerialSideOptions{});
        ASSERT_TRUE(setup_.ok) << setup_.error;
        ASSERT_TRUE(server_.Start(SimServerOptions{}));
        client_ = std::make_unique<CmxClient>("127.0.0.1", server_.Port(), false, 0, 1, "", "", "",
                                              kClientTimeoutMs, kClientTimeoutMs, 2.0f);
        for (int i = 0; i < kConnectWaitSteps && !client_->IsOpen(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(client_->IsOpen());
    }

    void TearDown() override {
        client_.reset();
        server_.Stop();
    }

    SerialSide serial_;
    std::shared_ptr<SimDevice> device_ = std::make_shared<SimDevice>();
    SimSetup setup_;
    SimServer server_{device_};
    std::unique_ptr<CmxClient> client_;
};

TEST_F(CorvelGoldenTest, EveryTypeSitsWhereTheRowsPutItInTheOrderTheyPrescribe) {
    for (const Golden& golden : CorvelGoldens()) {
        const VarInfo* var = setup_.table->Table().FindById(golden.var_id);
        ASSERT_NE(var, nullptr) << golden.var_id;
        // The table's own layout must agree with the one worked out by hand.
        const size_t table_position = static_cast<size_t>(var->get_start_pos);
        EXPECT_EQ(table_position, golden.position) << var->var_name;
        EXPECT_EQ(static_cast<size_t>(var->offset), golden.bytes.size()) << var->var_name;

        Bytes reply;
        ASSERT_EQ(client_->QueryCommand(golden.request, reply, golden.cmd), 0) << var->var_name;
        ASSERT_GE(reply.size(), golden.position + golden.bytes.size()) << var->var_name;
        const Bytes got(reply.begin() + golden.position,
                        reply.begin() + golden.position + golden.bytes.size());
        EXPECT_EQ(got, golden.bytes) << var->var_name << " (" << var->var_type << ")";
    }
}

TEST_F(CorvelGoldenTest, WrittenBytesComeBackAtTheirReadPositions) {
    // 0x2D writes Return Mode (1), Spin Rate (2), Max Range (2), Min Range (2), Intensity (1) and
    // Spin Direction (1); 0x0D reads the same six back at the same positions.
    const Bytes write = {0x02, 0x04, 0xB0, 0x00, 0x96, 0x00, 0x0A, 0x80, 0x00};
    Bytes reply;
    ASSERT_EQ(client_->QueryCommand(write, reply, 0x2D), 0);
    ASSERT_EQ(client_->QueryCommand({}, reply, 0x0D), 0);
    EXPECT_EQ(reply, write);
}

}  // namespace
}  // namespace sim
}  // namespace lidar
}  // namespace krell
