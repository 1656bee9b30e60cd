// cmx-demo: a short scripted CMX session against a sensor (or the virtual one): probes, field of
// view, and a set followed by a get. Prints what it read; exits 0 when every step succeeded.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/Frame/hex_text.h"

namespace {

using krell::lidar::CmxClient;
using krell::lidar::FovTable;
using krell::lidar::kCmdProbeInfo;
using krell::lidar::kCmdProbeNetwork;
using krell::lidar::kCmxFailed;
using krell::lidar::kCmxOk;
using krell::lidar::kFovChannels;
using krell::lidar::kFovModeMulti;
using krell::lidar::ToHexText;

constexpr uint32_t kTimeoutMs = 2000;
constexpr float kConnectTimeoutS = 3.0f;
constexpr int kOpenWaitMs = 5000;
constexpr int kOpenPollMs = 20;
constexpr uint8_t kDemoStoreCmd = 0x41;

bool WaitOpen(CmxClient& client) {
    for (int waited = 0; waited < kOpenWaitMs; waited += kOpenPollMs) {
        if (client.IsOpen()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kOpenPollMs));
    }
    return client.IsOpen();
}

std::string Printable(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
    }
    return text;
}

bool Probe(CmxClient& client, uint8_t cmd) {
    std::vector<uint8_t> reply;
    const int32_t ret = client.QueryCommand({}, reply, cmd, false);
    std::printf("probe 0x%02x: result %d, %zu bytes: %s| \"%s\"\n", cmd, ret, reply.size(),
                ToHexText(reply).c_str(), Printable(reply).c_str());
    return ret == kCmxOk;
}

bool ShowFov(CmxClient& client, const char* label) {
    FovTable table{};
    uint8_t channels = 0;
    uint8_t mode = 0;
    const int32_t ret = client.GetFov(table, channels, mode);
    std::printf("%s: result %d, mode %u, %u channel(s):", label, ret, mode, channels);
    for (size_t i = 0; i < channels && i < kFovChannels; ++i) {
        std::printf(" [%.1f, %.1f]", table[i], table[kFovChannels + i]);
    }
    std::printf("\n");
    return ret == kCmxOk;
}

bool SetThenGet(CmxClient& client) {
    const std::string text = "hello sensor";
    std::vector<uint8_t> reply;
    client.SetByteFlowCallback(
        [](const std::string& line) { std::printf("  %s\n", line.c_str()); });
    const int32_t set_ret =
        client.QueryCommand(std::vector<uint8_t>(text.begin(), text.end()), reply, kDemoStoreCmd);
    reply.clear();
    const int32_t get_ret = client.QueryCommand({}, reply, kDemoStoreCmd);
    client.SetByteFlowCallback(nullptr);
    std::printf("set 0x%02x \"%s\": result %d; get 0x%02x: result %d, \"%s\"\n", kDemoStoreCmd,
                text.c_str(), set_ret, kDemoStoreCmd, get_ret, Printable(reply).c_str());
    return set_ret == kCmxOk && get_ret == kCmxOk && Printable(reply) == text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cmx-demo IP PORT\n");
        return 2;
    }
    const std::string ip = argv[1];
    const auto port = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 10));
    CmxClient client(ip, port, false, 0, 1, "", "", "", kTimeoutMs, kTimeoutMs, kConnectTimeoutS);
    if (!WaitOpen(client)) {
        std::fprintf(stderr, "cmx-demo: no CMX connection to %s:%u\n", ip.c_str(), port);
        return 1;
    }
    std::printf("connected to %s:%u (CMX 1.0 over TCP)\n", ip.c_str(), port);
    bool ok = Probe(client, kCmdProbeInfo) && Probe(client, kCmdProbeNetwork);
    ok = ok && ShowFov(client, "field of view");
    FovTable wanted{10.0f, 80.0f, 150.0f, 220.0f, 290.0f, 70.0f, 140.0f, 210.0f, 280.0f, 350.0f};
    const int32_t set_ret = ok ? client.SetFov(wanted, kFovChannels, kFovModeMulti) : kCmxFailed;
    std::printf("set field of view (mode 3, 5 channels): result %d\n", set_ret);
    ok = ok && set_ret == kCmxOk && ShowFov(client, "field of view after set");
    ok = ok && SetThenGet(client);
    std::printf("%s\n", ok ? "demo session complete" : "demo session FAILED");
    return ok ? 0 : 1;
}
