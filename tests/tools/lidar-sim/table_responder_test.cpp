// The virtual sensor answering from a model's variable table: byte layouts written out by hand
// from the Corvel table, writes that later reads return, and a round trip of every readable and
// writable Corvel variable through a real CmxClient on loopback.

#include "tools/lidar-sim/table_responder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/parsers/make_str_parser.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "tools/lidar-sim/builtin_handlers.h"
#include "tools/lidar-sim/sim_server.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

std::shared_ptr<TableResponder> LoadCorvel() {
    std::string error;
    auto responder = TableResponder::Load(TableResponder::FindTable("Corvel"), "Corvel", error);
    EXPECT_NE(responder, nullptr) << error;
    return responder;
}

SimReply Ask(TableResponder& responder, uint8_t cmd, Bytes payload = {}) {
    SimRequest request;
    request.cmd = cmd;
    request.payload = std::move(payload);
    return responder.Answer(request);
}

Bytes Text(const std::string& text, size_t length) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(TableResponderTest, Reads_AreLaidOutAsTheTableSays) {
    auto corvel = LoadCorvel();
    ASSERT_TRUE(corvel);
    EXPECT_EQ(Ask(*corvel, 0x08).payload,
              (Bytes{192, 168, 1,   201, 255, 255, 255,  0,    192,  168,
                     1,   1,   192, 168, 1,   102, 0x09, 0x40, 0x27, 0x7E}));
    const Bytes product =
        Cat({Text("CORVEL-128", 16), Text("CV128A2411000137", 16), Text("KR-CORVEL128-A02", 16),
             Cat({Text("CV_HW_RB_", 9), {2, 1, 0x00, 0x0F, 0x00, 0x00, 0}}),
             Cat({Text("CV_APP_V1.4_", 12), {24, 11, 30, 0}})});
    EXPECT_EQ(Ask(*corvel, 0x07).payload, product);
    // Work mode, rpm, 12.00 V in mV, 14.5 W as a float, 725 s, 7250 frames, no fault.
    EXPECT_EQ(Ask(*corvel, 0x06).payload,
              (Bytes{0x01, 0x02, 0x58, 0x2E, 0xE0, 0x41, 0x68, 0x00, 0x00, 0x00, 0x00, 0x02, 0xD5,
                     0,    0,    0,    0,    0,    0,    0x1C, 0x52, 0,    0,    0,    0}));
    // One command, two request payloads: the board temperature and the laser temperature.
    EXPECT_EQ(Ask(*corvel, 0x0E, {0x01}).payload, (Bytes{0x0D, 0xDE}));
    EXPECT_EQ(Ask(*corvel, 0x0E, {0x02}).payload, (Bytes{0x10, 0x1D}));
    EXPECT_EQ(Ask(*corvel, 0x0E, {0x03}).ret_code, kRetTableMismatch);
    // A tunnelled read answers behind the 4-byte prefix: -3.20 C in hundredths, 18 %.
    EXPECT_EQ(Ask(*corvel, 0xFF, {0x00, 0x00, 0x01, 0x5A}).payload,
              (Bytes{0x00, 0x00, 0x01, 0x5A, 0xFE, 0xC0, 0x12}));
    // The mounting block: 0.75 as a float, -150, 1.85 as a double, 5 tenths.
    EXPECT_EQ(Ask(*corvel, 0x1C).payload, (Bytes{0x3F, 0x40, 0x00, 0x00, 0xFF, 0x6A, 0x3F, 0xFD,
                                                 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A, 0x05}));
    EXPECT_EQ(Ask(*corvel, 0x31).payload, Text("CV128-PSK-ID-01", 15));
}

TEST(TableResponderTest, Writes_AreKeptAndMismatchesRefused) {
    auto corvel = LoadCorvel();
    ASSERT_TRUE(corvel);
    // Destination 10.0.0.7, point port 3000, IMU port 4000.
    EXPECT_EQ(Ask(*corvel, 0x20, {10, 0, 0, 7, 0x0B, 0xB8, 0x0F, 0xA0}).ret_code, 0);
    const Bytes network = Ask(*corvel, 0x08).payload;
    EXPECT_EQ(Bytes(network.begin() + 12, network.end()),
              (Bytes{10, 0, 0, 7, 0x0B, 0xB8, 0x0F, 0xA0}));
    EXPECT_EQ(Bytes(network.begin(), network.begin() + 4), (Bytes{192, 168, 1, 201}));
    // The set order differs from the read order: enable first on the wire, last in the reply.
    EXPECT_EQ(Ask(*corvel, 0x2E, {0x00, 0x07, 0x01}).ret_code, 0);
    EXPECT_EQ(Ask(*corvel, 0x1E).payload, (Bytes{0x07, 0x01, 0x00}));
    EXPECT_EQ(Ask(*corvel, 0x20, {10, 0, 0, 8}).ret_code, kRetTableMismatch);
    EXPECT_EQ(corvel->ValueOf("2-4"), (Bytes{10, 0, 0, 7}));

    const SimReply restart = Ask(*corvel, 0x10);
    EXPECT_EQ(restart.ret_code, 0);
    EXPECT_TRUE(restart.close_after_reply);
    EXPECT_EQ(corvel->ValueOf("2-4"), (Bytes{10, 0, 0, 7}));  // a restart keeps the settings
    EXPECT_TRUE(Ask(*corvel, 0x11).close_after_reply);
    EXPECT_EQ(corvel->ValueOf("2-4"), (Bytes{192, 168, 1, 102}));  // a reset restores defaults
}

TEST(TableResponderTest, Tunnel_PassesUnknownPrefixesToTheHandlerBefore) {
    auto corvel = LoadCorvel();
    ASSERT_TRUE(corvel);
    SimDevice device;
    int passed_on = 0;
    device.SetHandler(0xFF, [&passed_on](const SimRequest&) {
        ++passed_on;
        return SimReply{};
    });
    corvel->Install(device);
    SimRequest speed;
    speed.cmd = 0xFF;
    speed.payload = {0x00, 0x00, 0x01, 0x3A};
    device.Handle(speed);
    EXPECT_EQ(passed_on, 1);
    SimRequest log = speed;
    log.payload = {0x00, 0x00, 0x01, 0x40, 0x01, 0x00};  // operation log, error selector
    const SimReply reply = device.Handle(log);
    EXPECT_EQ(passed_on, 1);
    ASSERT_GT(reply.payload.size(), 4u);
    EXPECT_EQ(Bytes(reply.payload.begin(), reply.payload.begin() + 4), (Bytes{0, 0, 1, 0x40}));
}

TEST(TableResponderTest, EveryShippedModel_AnswersEachReadOfItsTable) {
    for (const char* model : {"Corvel", "Tovin", "Minka", "Minka-CMX", "Rusko-CMX"}) {
        std::string error;
        auto responder = TableResponder::Load(TableResponder::FindTable(model), model, error);
        ASSERT_NE(responder, nullptr) << model << ": " << error;
        for (const auto& group : responder->Table().get_groups()) {
            const VarInfo& lead = *group.second.front();
            if (lead.get_cmd == "0x23") continue;
            SimRequest request;
            ASSERT_TRUE(TableResponder::CommandBytes(lead.get_cmd, request.cmd, request.payload));
            request.payload.insert(request.payload.end(), lead.get_payload_bytes.begin(),
                                   lead.get_payload_bytes.end());
            const SimReply reply = responder->Answer(request);
            EXPECT_EQ(reply.ret_code, 0) << model << " " << group.first;
            for (const VarInfo* var : group.second) {
                EXPECT_GE(reply.payload.size(),
                          static_cast<size_t>(var->get_start_pos + var->offset))
                    << model << " " << var->var_name;
            }
        }
    }
}

TEST(TableResponderTest, NegativeLength_IsRefusedAtLoad) {
    const std::string path = ::testing::TempDir() + "table_responder_negative.csv";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(
        "GroupID,Index,VarName,Get,Set,SetIndex,Permission,VarType,DefaultValue,Options,Unit,"
        "Coefficient,OptionDescription,FunctionModule,VarLen,TimerUpdate,SetCoefficient,"
        "GetCmdPayload\n1,1,Speed,0x06,,,0,uint16,600,,,,,,-2,,,\n",
        file);
    std::fclose(file);
    std::string error;
    EXPECT_EQ(TableResponder::Load(path, "Broken", error), nullptr);
    EXPECT_NE(error.find("negative or oversized VarLen"), std::string::npos) << error;
    std::remove(path.c_str());
}

// Display text of a variable's bytes, as the read path shows it.
std::string Display(const VarInfo& var, Bytes bytes) {
    uint64_t raw = 0;
    for (uint8_t b : bytes)
        raw = (raw << 8) | b;
    char text[64];
    const std::string& t = var.var_type;
    if (t == "IP") {
        std::snprintf(text, sizeof(text), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    } else if (t == "MAC") {
        std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1],
                      bytes[2], bytes[3], bytes[4], bytes[5]);
    } else if (t == "float32" || t == "double") {
        double v = 0;
        if (t == "float32") {
            float f = 0;
            const uint32_t bits = static_cast<uint32_t>(raw);
            std::memcpy(&f, &bits, 4);
            v = static_cast<double>(f * var.coefficient);
        } else {
            std::memcpy(&v, &raw, 8);
            v *= var.coefficient;
        }
        std::snprintf(text, sizeof(text), "%.2f", v);
    } else if (t.find("int") != std::string::npos) {
        const int bits = static_cast<int>(bytes.size() * 8);
        int64_t value = static_cast<int64_t>(raw);
        if (t[0] == 'i' && bits < 64 && (raw >> (bits - 1)) != 0) value -= int64_t(1) << bits;
        if (var.coefficient == 1.0f) {
            return t[0] == 'u' ? std::to_string(raw) : std::to_string(value);
        }
        std::snprintf(text, sizeof(text), "%.2f",
                      static_cast<double>(static_cast<float>(value) * var.coefficient));
    } else {
        return std::string();
    }
    return text;
}

// A value other than the default that the variable accepts.
std::string NewValue(const VarInfo& var) {
    if (var.var_type == "IP") return "10.20.30.40";
    if (var.option_num > 1) return std::to_string(var.options.back());
    if (var.range_max != 0) return std::to_string(var.range_max - 1);
    if (var.var_type == "float32" || var.var_type == "double") return "-2.25";
    if (var.coefficient != 1.0f) return var.var_type[0] == 'i' ? "-0.70" : "0.70";
    return "42";
}

// Sends each set command of the table (field of view and upgrade aside) with a new value for every
// variable it carries, encoded as the write path encodes it. Returns the number of variables.
int WriteEveryWritable(CmxClient& client, const ConfigParser& table) {
    int written = 0;
    for (const auto& group : table.set_groups()) {
        const VarInfo& lead = *group.second.front();
        if (lead.get_cmd.empty() || lead.get_cmd == "0x23" || lead.type == 4) continue;
        uint8_t code = 0;
        Bytes payload;
        EXPECT_TRUE(TableResponder::CommandBytes(lead.set_cmd, code, payload));
        for (const VarInfo* var : group.second) {
            Bytes bytes = MakeStrParser(var->var_type)->Parse(NewValue(*var), var->set_coefficient);
            payload.insert(payload.end(), bytes.begin(), bytes.end());
        }
        Bytes reply;
        EXPECT_EQ(client.QueryCommand(payload, reply, code), 0) << lead.set_cmd;
        written += static_cast<int>(group.second.size());
    }
    return written;
}

TEST(TableResponderTest, CorvelOverLoopback_RoundTripsEveryReadableAndWritableVariable) {
    auto corvel = LoadCorvel();
    ASSERT_TRUE(corvel);
    auto device = std::make_shared<SimDevice>();
    RegisterBuiltinHandlers(*device, "Corvel");
    corvel->Install(*device);
    SimServer server(device);
    ASSERT_TRUE(server.Start(SimServerOptions{}));
    CmxClient client("127.0.0.1", server.Port(), false, 0, 1, "", "", "", 2000, 2000, 2.0f);
    for (int i = 0; i < 200 && !client.IsOpen(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(client.IsOpen());
    const ConfigParser& table = corvel->Table();
    auto read = [&](const VarInfo& var, Bytes& reply) {
        uint8_t code = 0;
        Bytes payload;
        ASSERT_TRUE(TableResponder::CommandBytes(var.get_cmd, code, payload));
        payload.insert(payload.end(), var.get_payload_bytes.begin(), var.get_payload_bytes.end());
        ASSERT_EQ(client.QueryCommand(payload, reply, code), 0) << var.var_name;
    };
    // Writes first: each set command carries every variable it writes, in set order.
    const int written = WriteEveryWritable(client, table);
    EXPECT_GE(written, 20);
    int checked = 0;
    for (const VarInfo* var : table.all_vars()) {
        if (var->get_cmd.empty() || var->get_cmd == "0x23") continue;
        Bytes reply;
        read(*var, reply);
        if (var->offset == 0) {
            EXPECT_FALSE(reply.empty()) << var->var_name;
            continue;
        }
        ASSERT_GE(reply.size(), static_cast<size_t>(var->get_start_pos + var->offset))
            << var->var_name;
        const Bytes bytes(reply.begin() + var->get_start_pos,
                          reply.begin() + var->get_start_pos + var->offset);
        const std::string expected = var->set_cmd.empty() ? var->default_val : NewValue(*var);
        const std::string shown = Display(*var, bytes);
        if (!shown.empty()) {
            EXPECT_EQ(shown, expected) << var->var_name;
        } else {
            EXPECT_EQ(bytes, TableResponder::EncodeValue(*var, var->default_val)) << var->var_name;
        }
        ++checked;
    }
    EXPECT_GE(checked, 40);
    server.Stop();
}

}  // namespace
}  // namespace sim
}  // namespace lidar
}  // namespace krell
