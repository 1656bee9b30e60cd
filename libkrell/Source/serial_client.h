#pragma once
// Request/response exchanges over two serial lines: requests leave on the send source (the UART
// line), replies are taken from the reply queue of the receive source (the RS-485 line, whose
// receive thread also carries point-cloud packets). No lock of its own: one exchange at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libkrell/Source/source.h"

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

    //! Hands `text` to the byte-flow callback when one is set.
    void ReportByteFlow(const std::string& text) const;

    std::shared_ptr<Source> SendSource() const { return send_source_; }
    std::shared_ptr<Source> ReceiveSource() const { return receive_source_; }
    uint8_t CurrentMode() const { return current_mode_; }
    void SetCurrentMode(uint8_t mode) { current_mode_ = mode; }

    //! Receives the "SEND: " and "RECV: " lines; assigned by the owner before exchanges start.
    ByteFlowCallback byte_flow_callback;

private:
    uint8_t current_mode_ = 0;
    std::shared_ptr<Source> send_source_;
    std::shared_ptr<Source> receive_source_;
};

}  // namespace lidar
}  // namespace krell
