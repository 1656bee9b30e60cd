#include "DeviceBenchCore/manager/connection_ops.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <thread>

#include "DeviceBenchCore/manager/device_session.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

constexpr const char* kNetworkFailure = "Connection Failed. Please check your network settings.";
using krell::lidar::kCmdProbeInfo;
using krell::lidar::kCmdProbeNetwork;
constexpr uint32_t kClientTcp = 0;
constexpr uint32_t kClientTls = 1;
constexpr uint8_t kCmxVersion1 = 1;

uint16_t PortNumber(const std::string& text) {
    try {
        size_t used = 0;
        const int value = std::stoi(text, &used, 10);
        if (value >= 0 && value <= std::numeric_limits<uint16_t>::max())
            return static_cast<uint16_t>(value);
    } catch (const std::exception&) {}
    throw ConnectError(kNetworkFailure, "Unknown");
}

}  // namespace

ConnectionOps::ConnectionOps(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

void ConnectionOps::OpenCmx(const ConnectSettings& settings, uint32_t timeout_ms) {
    session_.link.SetCmx(nullptr);
    session_.link.connected = false;
    const uint16_t port = PortNumber(settings.port);
    const bool tls =
        !settings.cert_path.empty() && !settings.key_path.empty() && !settings.ca_path.empty();
    auto client = std::make_shared<krell::lidar::CmxClient>(
        settings.ip_address, port, false, tls ? kClientTls : kClientTcp, kCmxVersion1,
        tls ? settings.cert_path : "", tls ? settings.key_path : "", tls ? settings.ca_path : "",
        timeout_ms, timeout_ms, 0.0f);
    session_.link.SetCmx(client);
    // The client connects on its own thread; a TLS handshake needs a little longer than TCP.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(tls ? 5 * kOpenWaitMs : kOpenWaitMs);
    while (!client->IsOpen() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!client->IsOpen()) throw ConnectError(kNetworkFailure, "TCP connection failed.");
    AttachByteFlow();
}

void ConnectionOps::ConnectTcp(const ConnectSettings& settings) {
    std::printf("DeviceBenchManager::Init(): try to connect to lidar with TCP connection.\n");
    OpenCmx(settings, kTcpTimeoutMs);
    if (!Probe()) {
        std::printf("DEBUG: heckLidarConnection() == false\n");
        throw ConnectError(kNetworkFailure, "Lidar has No CMX reply.");
    }
}

void ConnectionOps::ConnectSerialCmx(const ConnectSettings& settings) {
    std::printf(
        "DeviceBenchManager::InitCmxForSerial(): try to connect to lidar with TCP connection.\n");
    OpenCmx(settings, kSerialCmxTimeoutMs);
    const std::shared_ptr<krell::lidar::CmxClient> client = session_.link.Cmx();
    client->SetFirstBaudRate(static_cast<uint32_t>(settings.baud_rate));
    client->SetSerialBaudRate(static_cast<uint32_t>(settings.baud_rate));  // reply not checked
}

void ConnectionOps::ConnectMinka(const ConnectSettings& settings) {
    session_.link.SetSerial(nullptr, nullptr, nullptr);
    auto rs485 = std::make_shared<krell::lidar::SerialSource>(
        settings.serial_port_485, kRs485CommandBaud, static_cast<uint32_t>(settings.baud_rate));
    auto uart = std::make_shared<krell::lidar::SerialSource>(settings.serial_port_232,
                                                             kUartCommandBaud, kUartPointCloudBaud);
    if (!rs485->Open()) {
        throw ConnectError("Connection Failed. Please check your RS485 serial port.",
                           "RS485 serial open fail");
    }
    if (!uart->Open()) {
        throw ConnectError("Connection Failed. Please check your UART serial port.",
                           "UART serial open fail");
    }
    auto client = std::make_shared<krell::lidar::SerialClient>();
    client->Init(uart, rs485);
    session_.link.SetSerial(rs485, uart, client);
    AttachByteFlow();
}

bool ConnectionOps::Probe() {
    const std::shared_ptr<krell::lidar::CmxClient> client = session_.link.Cmx();
    if (!client || !client->IsOpen()) return false;
    session_.link.probing = true;
    std::vector<uint8_t> reply;
    const bool ok = client->QueryCommand({}, reply, kCmdProbeInfo) == 0 ||
                    client->QueryCommand({}, reply, kCmdProbeNetwork) == 0;
    session_.link.probing = false;
    return ok;
}

void ConnectionOps::AttachByteFlow() {
    Link* link = &session_.link;
    Reporter* reporter = &reporter_;
    session_.link.AttachByteFlow([link, reporter](const std::string& line) {
        const bool upgrading_tcp = link->upgrading.load() && link->kind.load() == Link::kKindTcp;
        if (link->log_bytes.load() && !link->probing.load() && !link->downloading.load() &&
            !upgrading_tcp) {
            reporter->Log(line, "BYTES");
        }
    });
}
