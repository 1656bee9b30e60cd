#pragma once
// ConnectionOps: opens and probes the device connection of each kind. Runs on the manager's
// connection thread (the probe also on the UI thread). A failed attempt throws ConnectError
// with the window text and the log reason; the manager shows them.

#include <cstdint>
#include <memory>
#include <string>

#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;

//! A failed connection attempt: `user_text` for the error window, what() for the log line.
class ConnectError : public OperationError {
public:
    ConnectError(const std::string& user_text, const std::string& reason)
        : OperationError(reason), user_text(user_text) {}
    std::string user_text;
};

//! What an attempt needs, copied from the manager when it starts.
struct ConnectSettings {
    std::string ip_address;
    std::string port;
    std::string serial_port_485;
    std::string serial_port_232;
    int32_t baud_rate = 0;
    uint16_t udp_port = 2368;  // the point packets' port, read by the Minka information loop
    std::string cert_path;  // all three set: CMX over TLS
    std::string key_path;
    std::string ca_path;
};

class ConnectionOps {
public:
    static constexpr uint32_t kTcpTimeoutMs = 4000;
    static constexpr uint32_t kSerialCmxTimeoutMs = 5000;
    static constexpr int kOpenWaitMs = 200;
    static constexpr uint32_t kRs485CommandBaud = 115200;
    static constexpr uint32_t kUartCommandBaud = 9600;
    static constexpr uint32_t kUartPointCloudBaud = 3125000;

    //! Both are borrowed and must outlive the operations.
    ConnectionOps(DeviceSession& session, Reporter& reporter);

    //! Kind 0: the CMX client over TCP (TLS when the settings name certificates), probed.
    void ConnectTcp(const ConnectSettings& settings);
    //! Kind 2: the CMX client for the serial CMX models; sends the point-cloud line speed.
    void ConnectSerialCmx(const ConnectSettings& settings);
    //! Kind 1: the two Minka serial ports and their client.
    void ConnectMinka(const ConnectSettings& settings);
    //! True when command 0x07 or else 0x08 succeeds on the open CMX client; the probes never
    //! reach the byte flow.
    bool Probe();
    //! Hands the client's byte-flow lines to the log window while the log-bytes flag is set.
    void AttachByteFlow();

private:
    //! Makes the CMX client and waits for it to open; throws ConnectError when it does not.
    void OpenCmx(const ConnectSettings& settings, uint32_t timeout_ms);

    DeviceSession& session_;
    Reporter& reporter_;
};
