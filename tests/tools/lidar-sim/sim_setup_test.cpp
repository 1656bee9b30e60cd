// The virtual sensor with the handler set the lidar-sim program installs (SetUpSimulator), for
// every shipped model: each command of the model's table is answered, the tunnelled ones too,
// while the 0xFF tunnel still carries serial frames and line-speed operations.
#include "tools/lidar-sim/sim_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/CmxClient/cmx_tunnel.h"
#include "libkrell/Frame/serial_frame.h"
#include "tools/lidar-sim/sim_server.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kClientTimeoutMs = 2000;
constexpr int kConnectWaitSteps = 300;
constexpr uint8_t kChangeModeCmd = 3;

std::vector<std::string> ShippedModels() {
    std::vector<std::string> models;
    for (const auto& entry : std::filesystem::directory_iterator(KRELL_SHIPPED_TABLE_DIR)) {
        if (entry.path().extension() == ".csv") models.push_back(entry.path().stem().string());
    }
    std::sort(models.begin(), models.end());
    return models;
}

bool IsRestartOrReset(const std::vector<VarInfo*>& vars) {
    return std::all_of(vars.begin(), vars.end(), [](const VarInfo* var) {
        std::string name = var->var_name;
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        return name == "restart" || name == "reset";
    });
}

// One model set up as the program sets it up, with no pty lines.
struct ShippedSim {
    explicit ShippedSim(const std::string& model)
        : device(std::make_shared<SimDevice>()),
          setup(SetUpSimulator(*device, model, serial, SerialSideOptions{})) {}

    SimReply Ask(uint8_t cmd, Bytes payload) {
        SimRequest request;
        request.cmd = cmd;
        request.payload = std::move(payload);
        return device->Handle(request);
    }

    SerialSide serial;
    std::shared_ptr<SimDevice> device;
    SimSetup setup;
};

TEST(SimSetup, EveryShippedModel_AnswersEveryGetOfItsTableTunnelledOrNot) {
    const std::vector<std::string> models = ShippedModels();
    ASSERT_GE(models.size(), 5u);
    for (const std::string& model : models) {
        ShippedSim sim(model);
        ASSERT_TRUE(sim.setup.ok) << model << ": " << sim.setup.error;
        ASSERT_TRUE(sim.setup.table) << model;
        int tunnelled = 0;
        for (const auto& group : sim.setup.table->Table().get_groups()) {
            const VarInfo& lead = *group.second.front();
            if (lead.get_cmd == "0x23") continue;  // the built-in field of view
            uint8_t code = 0;
            Bytes payload;
            ASSERT_TRUE(TableResponder::CommandBytes(lead.get_cmd, code, payload));
            payload.insert(payload.end(), lead.get_payload_bytes.begin(),
                           lead.get_payload_bytes.end());
            const SimReply reply = sim.Ask(code, payload);
            EXPECT_EQ(reply.ret_code, 0) << model << " get " << group.first;
            if (code != kCmdTunnel) continue;
            ++tunnelled;
            ASSERT_GE(reply.payload.size(), kTunnelPrefixBytes) << model << " " << group.first;
            EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + kTunnelPrefixBytes,
                                   reply.payload.begin()))
                << model << " " << group.first << ": the reply starts with the request's prefix";
        }
        if (model == "Corvel" || model == "Rusko-CMX" || model == "Minka-CMX") {
            EXPECT_GT(tunnelled, 0) << model;
        }
    }
}

TEST(SimSetup, EveryShippedModel_AcceptsEverySetOfItsTable) {
    for (const std::string& model : ShippedModels()) {
        ShippedSim sim(model);
        ASSERT_TRUE(sim.setup.ok) << model << ": " << sim.setup.error;
        for (const auto& group : sim.setup.table->Table().set_groups()) {
            const std::vector<VarInfo*>& vars = group.second;
            if (group.first == "0x22" || std::any_of(vars.begin(), vars.end(),
                                                     [](const VarInfo* v) { return v->type == 4; }))
                continue;  // field of view and firmware upgrade have handlers of their own
            uint8_t code = 0;
            Bytes payload;
            ASSERT_TRUE(TableResponder::CommandBytes(group.first, code, payload));
            for (const VarInfo* var : vars)
                payload.resize(payload.size() + static_cast<size_t>(var->offset), 0x5A);
            const SimReply reply = sim.Ask(code, payload);
            EXPECT_EQ(reply.ret_code, 0) << model << " set " << group.first;
            EXPECT_EQ(reply.close_after_reply, IsRestartOrReset(vars))
                << model << " " << group.first;
        }
    }
}

TEST(SimSetup, TunnelWithATable_StillCarriesSerialFramesAndLineSpeed) {
    for (const std::string& model : ShippedModels()) {
        ShippedSim sim(model);
        ASSERT_TRUE(sim.setup.ok) << model;
        Bytes request = TunnelPrefix(kTunnelOpSerialFrame);
        const Bytes frame = SerialFrame::EncodeRequest(kChangeModeCmd, {10, 30});
        request.insert(request.end(), frame.begin(), frame.end());
        const SimReply reply = sim.Ask(kCmdTunnel, request);
        ASSERT_EQ(reply.ret_code, 0) << model;
        ASSERT_GT(reply.payload.size(), kTunnelPrefixBytes) << model;
        Bytes body;
        EXPECT_TRUE(SerialFrame::CheckReply(reply.payload.data() + kTunnelPrefixBytes,
                                            reply.payload.size() - kTunnelPrefixBytes, &body))
            << model;
        EXPECT_EQ(sim.serial.Responder().Snapshot().spin_rate, 30) << model;

        Bytes speed = TunnelPrefix(kTunnelOpSetSerialBaud);
        speed.insert(speed.end(), {0x00, 0x01, 0xC2, 0x00});
        EXPECT_EQ(sim.Ask(kCmdTunnel, speed).ret_code, 0) << model;
        EXPECT_EQ(sim.Ask(kCmdTunnel, TunnelPrefix(kTunnelOpGetSerialBaud)).payload,
                  (Bytes{0, 0, 1, kTunnelOpGetSerialBaud, 0x00, 0x01, 0xC2, 0x00}))
            << model;
        // What neither the table nor the serial side knows is still refused.
        EXPECT_EQ(sim.Ask(kCmdTunnel, {0, 0, 1, 0x3B}).ret_code, kTunnelRefused) << model;
    }
}

// Over loopback with a real client, as DeviceBench reaches the program.
class ShippedSimOverTcp : public ::testing::Test {
protected:
    void Connect(const std::string& model) {
        sim_ = std::make_unique<ShippedSim>(model);
        ASSERT_TRUE(sim_->setup.ok) << sim_->setup.error;
        server_ = std::make_unique<SimServer>(sim_->device);
        ASSERT_TRUE(server_->Start(SimServerOptions{}));
        client_ = std::make_unique<CmxClient>("127.0.0.1", server_->Port(), false, 0, 1, "", "", "",
                                              kClientTimeoutMs, kClientTimeoutMs, 2.0f);
        for (int i = 0; i < kConnectWaitSteps && !client_->IsOpen(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(client_->IsOpen());
    }

    void TearDown() override {
        client_.reset();
        if (server_) server_->Stop();
    }

    std::unique_ptr<ShippedSim> sim_;
    std::unique_ptr<SimServer> server_;
    std::unique_ptr<CmxClient> client_;
};

TEST_F(ShippedSimOverTcp, Corvel_TunnelledOperationLogAndReceiverTemperatureAnswer) {
    Connect("Corvel");
    Bytes reply;
    ASSERT_EQ(client_->QueryCommand({0x00, 0x00, 0x01, 0x40}, reply, kCmdTunnel), 0)
        << "return code " << client_->GetLastRetCode();
    EXPECT_GT(reply.size(), kTunnelPrefixBytes);
    ASSERT_EQ(client_->QueryCommand({0x00, 0x00, 0x01, 0x5A}, reply, kCmdTunnel), 0)
        << "return code " << client_->GetLastRetCode();
    // -3.20 C in hundredths, then 18 % humidity, behind the prefix.
    EXPECT_EQ(reply, (Bytes{0x00, 0x00, 0x01, 0x5A, 0xFE, 0xC0, 0x12}));
    Bytes body;
    EXPECT_EQ(client_->SerialTunnelQuery({10, 30}, body, kChangeModeCmd), 0);
}

TEST_F(ShippedSimOverTcp, MinkaCmx_TunnelledRestartIsAccepted) {
    Connect("Minka-CMX");
    Bytes reply;
    // Restart shares its first four bytes with the serial-frame operation; the table decides.
    ASSERT_EQ(client_->QueryCommand({0x00, 0x00, 0x01, 0x38, 0x00}, reply, kCmdTunnel), 0)
        << "return code " << client_->GetLastRetCode();
}

}  // namespace
}  // namespace sim
}  // namespace lidar
}  // namespace krell
