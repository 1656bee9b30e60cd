#pragma once
// Request/response exchanges over two serial lines: requests leave on the send source (the UART
// line), replies are taken from the reply queue of the receive source (the RS-485 line, whose
// receive thread also carries point-cloud packets). No lock of its own: one exchange at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libkrell/Source/source.h"
#include "libkrell/Source/udp_packet.h"

namespace krell {
namespace lidar {

class SerialClient {
public:
    using ByteFlowCallback = std::function<void(const std::string&)>;

    //! Results of SerialQuery besides 0.
    static constexpr int32_t kNotReady = -1;
    static constexpr int32_t kInvalidReply = -2;
    static constexpr int32_t kNoReply = -3;
    static constexpr uint8_t kChangeModeCmd = 3;
    static constexpr int32_t kChangeModeTimeoutMs = 3000;

    SerialClient() = default;

    //! Stores the two sources (shared with whoever opened them). Either may be null.
    void Init(std::shared_ptr<Source> send_source, std::shared_ptr<Source> receive_source);

    //! Sends `cmd` with `payload` and waits up to `timeout_ms` for the reply. 0: `out` holds the reply
    //! body (length byte up to the random word); -1 a source missing, closed or the send failed;
    //! -2 the reply broke the reply rule; -3 no reply in time. `out` is untouched unless 0.
    int32_t SerialQuery(uint8_t cmd, const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                        int32_t timeout_ms);

    //! Switches the sensor's mode (command 3, payload mode and `arg`, 3000 ms). The reply's status
    //! byte (0 success), a failed query's code, or -2 for a reply of the wrong shape.
    int32_t ChangeMode(uint8_t mode, uint8_t arg);

    // Firmware streaming (serial_client_upgrade.cpp); OTA frames travel on the receive source.

    static constexpr int32_t kStateQueryTimeoutMs = 2000;
    static constexpr int32_t kUpgradeRequestTimeoutMs = 5000;
    static constexpr int32_t kReadyAckTimeoutMs = 4000;
    static constexpr int32_t kOtaReplyTimeoutMs = 30000;

    //! Serial OTA upgrade of `image`: state query, mode change and upgrade request when the sensor
    //! runs its application, then the frames; both ports are closed at the end. `mode`
    //! kUpgradeModeApp upgrades application and FPGA, any other the boot loader. `progress` holds
    //! the acknowledged frames (any thread may read it). 0 on success; -1, -2, -3, -5, -6, -7,
    //! -status of a refused request, the status of a refused frame, kUpgradeFrameRefused or
    //! kUpgradeEmptyImage otherwise. The upgrade worker's thread only.
    int32_t SerialUpgrade(const std::vector<uint8_t>& image, int32_t mode,
                          std::atomic<int32_t>& progress);
    //! Sends the state-query frame on the receive source and waits for one reply. 0 with the reply
    //! from its length byte up to its CRC (unchecked; empty for a reply too short to have one),
    //! -1 when the source is missing or closed or the send failed, -3 on time-out.
    int32_t QueryOtaState(std::vector<uint8_t>& reply);
    //! Asks for upgrade mode `type` (command 2, payload 5, `type`), then waits on the reopened
    //! receive source for the ready acknowledgement. 0; the query's failure; -2 a reply of the
    //! wrong shape; -status when refused; -3/-2 no or an invalid ready reply; -7 a wrong one.
    int32_t RequestUpgrade(uint8_t type);
    //! Sends one OTA frame on the receive source and waits for its reply. 0 with reply type and
    //! status; -1 source closed or send failed; -2 invalid reply; -3 no reply in time.
    int32_t SendOtaFrame(uint32_t total, uint32_t index, uint32_t length, const uint8_t* data,
                         uint8_t& reply_type, uint8_t& reply_status, uint32_t type);
    //! Wait for each OTA frame's reply (default kOtaReplyTimeoutMs). Set before an upgrade.
    void SetOtaReplyTimeoutMs(int32_t timeout_ms) { ota_reply_timeout_ms_ = timeout_ms; }

    //! Hands `text` to the byte-flow callback when one is set.
    void ReportByteFlow(const std::string& text) const;

    std::shared_ptr<Source> SendSource() const { return send_source_; }
    std::shared_ptr<Source> ReceiveSource() const { return receive_source_; }
    uint8_t CurrentMode() const { return current_mode_; }
    void SetCurrentMode(uint8_t mode) { current_mode_ = mode; }

    //! Receives the "SEND: " and "RECV: " lines; assigned by the owner before exchanges start.
    ByteFlowCallback byte_flow_callback;

private:
    //! Closes the receive source, sets `type` and opens it again; false when it did not open.
    bool ReopenReceive(int32_t type);
    //! Waits for one reply packet on the receive source and hands it to the callback.
    bool ReceiveReply(UdpPacket& packet, int32_t timeout_ms);
    //! Sends `frame` on the receive source after emptying its reply queue; false when it failed.
    bool SendOnReceiveSource(const std::vector<uint8_t>& frame);
    //! Steps of SerialUpgrade before the frames: state query, mode change, upgrade request.
    int32_t PrepareUpgrade(int32_t mode);
    int32_t EnterUpgradeMode(int32_t mode);
    void CloseBoth();

    int32_t ota_reply_timeout_ms_ = kOtaReplyTimeoutMs;
    uint8_t current_mode_ = 0;
    std::shared_ptr<Source> send_source_;
    std::shared_ptr<Source> receive_source_;
};

}  // namespace lidar
}  // namespace krell
