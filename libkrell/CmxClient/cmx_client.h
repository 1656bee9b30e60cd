#pragma once
// CmxClient: the CMX command link to one sensor over TCP or TLS.
//
// The constructor starts a connect thread; once the transport stands, QueryCommand runs one
// request/response exchange at a time (the query lock covers the whole exchange). Failures are
// integer results; the outcome of the last exchange is kept as the last return code:
//   0 success, -2 header not read, -3 payload not read (or refused as too large),
//   -4 request not sent, 1..255 the sensor's own return code.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/CmxClient/client_base.h"
#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_parser.h"

namespace krell {
namespace lidar {

//! Field-of-view table: entries 0-4 start angles, 5-9 end angles, in degrees.
constexpr size_t kFovTableSize = 10;
using FovTable = std::array<float, kFovTableSize>;

class CmxClient {
public:
    using ByteFlowCallback = std::function<void(const std::string&)>;

    //! Payload lengths above this are logged as unusually large (and still read).
    static constexpr uint32_t kLargePayloadBytes = 10240;
    //! Payload lengths above this are refused: a corrupt length field must not exhaust memory.
    static constexpr uint32_t kMaxPayloadBytes = 16u * 1024u * 1024u;
    //! Time-outs of QueryCommandLongTimeout (restart, log download).
    static constexpr uint32_t kLongTimeoutMs = 5000;
    //! Bound of one connect attempt (TCP connect plus TLS handshake).
    static constexpr uint32_t kConnectWindowS = 1;

    //! Stores the arguments and starts the connect thread; returns at once. client_type 0 = TCP,
    //! 1 = TLS; protocol_version 1 = CMX 1.0, 2 = CMX 2.0. connect_timeout_s < 0: retry until
    //! destroyed; 0: one attempt. An empty lidar_ip makes the thread wait for SetLidarIp.
    CmxClient(const std::string& lidar_ip, uint16_t port, bool auto_receive, uint32_t client_type,
              uint8_t protocol_version, const std::string& cert_path,
              const std::string& private_key_path, const std::string& ca_path,
              uint32_t recv_timeout_ms, uint32_t send_timeout_ms, float connect_timeout_s,
              uint16_t local_port = 0);
    //! A client over `transport`, already opened by the caller (an in-memory transport, a test
    //! rig): no connect thread runs. A transport that later reports closed is reopened by the
    //! next exchange through its own TryOpen (one attempt). The time-outs are applied when both
    //! are non-zero and the transport is open.
    CmxClient(std::shared_ptr<ClientBase> transport, uint8_t protocol_version,
              uint32_t recv_timeout_ms, uint32_t send_timeout_ms);
    //! Stops and joins the connect thread, closes the link. Waits at most about one connect
    //! window (kConnectWindowS; it bounds TCP connect and TLS handshake together).
    ~CmxClient();
    CmxClient(const CmxClient&) = delete;
    CmxClient& operator=(const CmxClient&) = delete;

    //! True when the transport exists and is open; false from the moment a lost link is noticed
    //! until an exchange has reopened it. Any thread.
    bool IsOpen();
    //! Sends `payload` with command `cmd` and waits for the reply, all of it within one receive
    //! time-out after the send. 0 on success with the payload (header first when
    //! `include_header`) in `out`; -1 on any failure (see GetLastRetCode). A link lost since the
    //! last exchange is reopened first, within the connect time-out (one attempt when that is
    //! not positive). Any thread; exchanges are serialised.
    int32_t QueryCommand(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                         uint8_t cmd, bool include_header = false);
    //! QueryCommand without header under kLongTimeoutMs time-outs, then back to the configured
    //! ones. For cmd 0xFF the first 4 reply bytes (the tunnel prefix) are removed. 0 or -1.
    int32_t QueryCommandLongTimeout(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                                    uint8_t cmd);
    //! The parser's stream decode (cuts variables out of a reply). False on a bad range.
    bool CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                         int32_t offset, int32_t length, std::vector<uint8_t>& output);
    //! Reads the field of view (command 0x23). 0 on success; -1 when the query fails or the reply
    //! is empty or too short for its mode (then nothing is filled). An unknown mode fills nothing.
    int32_t GetFov(FovTable& table, uint8_t& channels, uint8_t& mode);
    //! Writes the field of view (command 0x22) for mode 0 (one channel) or 3 (`channels` <= 5);
    //! the QueryCommand result, or -1 without sending when `channels` exceeds the table.
    int32_t SetFov(const FovTable& table, uint8_t channels, uint8_t mode);

    //! Ends the link from any thread without waiting for the query lock: an exchange in flight
    //! fails at once (its socket is shut down) and every later one is refused. For an owner
    //! that is about to drop the client and must not wait for a silent sensor.
    void Abort();

    //! Outcome of the last exchange (see the file comment).
    int32_t GetLastRetCode() const { return last_ret_code_.load(); }
    //! Sets the byte-flow callback ("SEND: ..." and "RECV: ..." lines). Called with the query
    //! lock held, from the querying thread. Safe to call at any time.
    void SetByteFlowCallback(ByteFlowCallback callback);
    //! Supplies the sensor address to a client made with an empty one.
    void SetLidarIp(const std::string& lidar_ip);
    //! Applies `recv_ms`/`send_ms` to the open transport and records them as current; -1 when
    //! no transport is open. Takes the query lock, so it waits for a running exchange.
    int32_t ApplyTimeouts(uint32_t recv_ms, uint32_t send_ms);
    //! Re-applies the configured time-outs (recorded as current). -1 when not open.
    int32_t RestoreConfiguredTimeouts();

    uint32_t FirstBaudRate() const { return first_baud_rate_.load(); }
    void SetFirstBaudRate(uint32_t baud) { first_baud_rate_ = baud; }
    uint32_t SecondBaudRate() const { return second_baud_rate_.load(); }
    void SetSecondBaudRate(uint32_t baud) { second_baud_rate_ = baud; }

    // Serial tunnel (cmx_client_tunnel.cpp): serial command frames carried in command 0xFF.

    //! Sends serial command `cmd` (at most 0xFF) with `payload` as a "$LDCMD," frame behind the
    //! prefix 00 00 01 38 and checks the reply (less its 4-byte prefix) as a serial reply. 0 with
    //! the reply body in `out`; -1 for an invalid or empty reply or a `cmd` above 0xFF; when the
    //! CMX exchange failed, its last return code (-2, -3, -4 or the sensor's). Any thread.
    int32_t SerialTunnelQuery(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                              uint16_t cmd);
    //! Sets the sensor's serial line speed (prefix 00 00 01 39, `baud` big-endian). The
    //! QueryCommand result; the reply is not checked. Any thread.
    int32_t SetSerialBaudRate(uint32_t baud);
    //! Tunnelled mode change (serial command 3, payload `mode`, `arg`): the reply's status byte
    //! (0 success), -1 for a failed exchange or an invalid reply, -2 for a reply of the wrong shape.
    int32_t ChangeMode(uint8_t mode, uint8_t arg);
    //! Tunnelled upgrade request (serial command 2, payload 5, `type`): 0 when granted, -1 for a
    //! failed exchange or an invalid reply, -2 for a reply of the wrong shape, -status when refused.
    int32_t RequestUpgrade(uint8_t type);
    //! Sends one OTA frame behind the prefix 00 00 01 38 and reads the sensor's reply type and
    //! status from the reply (less its prefix). 0, or -1 for a failed exchange or invalid reply.
    int32_t SendOtaFrame(uint32_t total, uint32_t index, uint32_t length, const uint8_t* data,
                         uint8_t& reply_type, uint8_t& reply_status, uint32_t type);

    // Firmware streaming (cmx_client_upgrade.cpp). Each route runs on the caller's thread, one
    // exchange per frame, and writes the number of acknowledged frames into `progress` (any thread
    // may read it). Texts for the log window go to the byte-flow callback.

    //! CMX file streaming of `image` with the command of `command_text` (base 16; exactly 4
    //! characters such as "0x83" send that command, any other spelling sends 0xFF behind the
    //! prefix 00 00 00 <low byte>). 0 when every frame was acknowledged; -1 otherwise (a named
    //! text to the callback tells which frame and the sensor's code); kUpgradeEmptyImage for an
    //! empty image. Throws std::invalid_argument or std::out_of_range for a command text that is
    //! not a base-16 number of at most 32 bits. The configured time-outs are back afterwards.
    int32_t FileStreamUpgrade(const std::vector<uint8_t>& image, const std::string& command_text,
                              std::atomic<int32_t>& progress);
    //! Tunnelled OTA upgrade: line speed to the first baud rate, mode change and upgrade request
    //! (results ignored), the mode-switch pause, line speed to the second baud rate, then the
    //! frames. `mode` kUpgradeModeApp upgrades application and FPGA, any other the boot loader.
    //! 0 on success; -1 when not open or a line-speed change failed; otherwise as OtaStreamer.
    int32_t TunnelUpgrade(const std::vector<uint8_t>& image, int32_t mode,
                          std::atomic<int32_t>& progress);
    //! Tunnelled OTA streaming of one component of a packaged upgrade with frame type `type`,
    //! under the component time-outs. -1 when not open; otherwise as OtaStreamer.
    int32_t SendComponent(const std::vector<uint8_t>& data, uint32_t type,
                          std::atomic<int32_t>& progress);
    //! Time-outs of the file-stream and component routes and the pause of the tunnelled upgrade
    //! (defaults kFileStreamTimeoutMs, kComponentTimeoutMs, kTunnelModeSwitchPauseMs). Set before
    //! an upgrade starts.
    void SetUpgradeTimings(uint32_t file_stream_timeout_ms, uint32_t component_timeout_ms,
                           uint32_t mode_switch_pause_ms);

private:
    //! Hands `text` to the byte-flow callback under the query lock (between exchanges).
    void Report(const std::string& text);
    //! Streams `image` as OTA frames of `type` through the tunnel.
    int32_t StreamOtaImage(const std::vector<uint8_t>& image, uint32_t type,
                           const std::string& progress_text, std::atomic<int32_t>& progress);
    //! Sends the file-stream frames of `image` for command `code` (behind the tunnel prefix when
    //! `prefixed`), each cut by `cutter` just before it goes out; `first` is frame 1, already cut.
    int32_t SendFileStreamFrames(const std::vector<uint8_t>& image, uint8_t code, bool prefixed,
                                 CmxParser& cutter, std::vector<uint8_t> first,
                                 std::atomic<int32_t>& progress);
    void TryOpen();
    bool WaitForLidarIp(int64_t start_us, std::string& ip);
    bool ConnectTimedOut(int64_t start_us) const;
    std::shared_ptr<ClientBase> Transport();
    //! False (logged) when no exchange can start: no transport, or no link ever stood.
    bool ReadyForExchange(const std::shared_ptr<ClientBase>& transport);
    //! Reopens a lost link with the current time-outs; true when open. Query lock held.
    bool ReopenLocked(ClientBase& transport);
    //! One exchange; the query lock must be held.
    int32_t QueryLocked(ClientBase& transport, const std::vector<uint8_t>& payload,
                        std::vector<uint8_t>& out, uint8_t cmd, bool include_header);
    void DrainStaleInput(ClientBase& transport);
    //! Shortens the receive time-out of the next read to what is left until `deadline_us`
    //! (negative: no deadline); false when nothing is left.
    bool NarrowReceiveTimeout(ClientBase& transport, int64_t deadline_us);
    uint32_t SendFrame(ClientBase& transport, const std::vector<uint8_t>& frame);
    //! Steps after an accepted header: length check and payload. Sets `reply_complete` when `out`
    //! is final (filled, or deliberately left as passed).
    int32_t ReadReplyBody(ClientBase& transport, const std::vector<uint8_t>& header,
                          std::vector<uint8_t>& out, bool include_header, int64_t deadline_us,
                          bool& reply_complete);
    bool ReceiveHeader(ClientBase& transport, std::vector<uint8_t>& header, int64_t deadline_us);
    bool ReceivePayload(ClientBase& transport, uint32_t length, std::vector<uint8_t>& payload,
                        int64_t deadline_us);
    bool HeaderAccepted(const std::vector<uint8_t>& header, uint8_t cmd);
    void EmitByteFlow(const std::string& line);

    std::atomic<uint32_t> first_baud_rate_{3125000};
    std::atomic<uint32_t> second_baud_rate_{115200};
    std::atomic<uint32_t> file_stream_timeout_ms_{kFileStreamTimeoutMs};
    std::atomic<uint32_t> component_timeout_ms_{kComponentTimeoutMs};
    std::atomic<uint32_t> mode_switch_pause_ms_{kTunnelModeSwitchPauseMs};
    std::atomic<bool> running_{true};
    // Set once the connect thread has opened the link: from then on a lost link is reopened by
    // the next exchange, while a client that never connected stays refused.
    std::atomic<bool> ever_connected_{false};
    std::atomic<bool> aborted_{false};  // set by Abort: no exchange and no reconnect any more
    std::atomic<int32_t> last_ret_code_{0};
    std::mutex query_mutex_;  // guards one whole exchange, the current time-outs and the callback
    uint32_t client_type_;
    uint8_t protocol_version_;
    std::mutex transport_mutex_;  // guards the transport pointer (made by the connect thread)
    std::shared_ptr<ClientBase> transport_;
    std::shared_ptr<CmxParser> parser_;
    std::thread connect_thread_;
    std::mutex ip_mutex_;  // guards lidar_ip_
    std::string lidar_ip_;
    uint16_t port_;
    uint16_t local_port_;
    bool auto_receive_;
    std::string cert_path_;
    std::string private_key_path_;
    std::string ca_path_;
    uint32_t configured_recv_timeout_ms_;
    uint32_t configured_send_timeout_ms_;
    uint32_t current_recv_timeout_ms_ = 0;
    uint32_t current_send_timeout_ms_ = 0;
    float connect_timeout_s_;
    ByteFlowCallback byte_flow_callback_;
    // True when the previous exchange failed: its late bytes may still be on the way, so the next
    // exchange waits briefly for them before sending. Guarded by query_mutex_.
    bool previous_exchange_failed_ = false;
    // Where reply payloads are received (under query_mutex_). Kept from one exchange to the next:
    // a fresh multi-MiB buffer per reply would fault in page by page, which costs more than the
    // transfer itself on loopback; the caller's vector gets a copy.
    std::vector<uint8_t> receive_buffer_;
    // True while a read of this exchange runs under a shortened receive time-out. Guarded by
    // query_mutex_.
    bool receive_timeout_narrowed_ = false;
};

}  // namespace lidar
}  // namespace krell
