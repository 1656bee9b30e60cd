#include "libkrell/CmxClient/cmx_client.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_tunnel.h"
#include "libkrell/CmxClient/general_cmx_parser.h"
#include "libkrell/Frame/hex_text.h"
#include "libkrell/CmxClient/tcp_client.h"
#include "libkrell/CmxClient/tcp_ssl_client.h"
#include "libkrell/CmxClient/tcp_socket.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

// Client type of a client made over an injected transport: makes none of its own.
constexpr uint32_t kInjectedTransport = 0xFFFFFFFFu;
constexpr int kConnectRetrySleepMs = 100;
constexpr int kIpPollSleepMs = 100;
constexpr uint32_t kDrainTimeoutMs = 50;
constexpr size_t kDrainScratchBytes = 1500;
// Bounds on the drain so that a peer that never stops sending cannot hold an exchange.
constexpr int kMaxNoWaitDrainReads = 4096;
constexpr int64_t kMaxWaitingDrainUs = 1000000;
constexpr size_t kMaxSendChunkBytes = 0xFFFF;

int64_t WallMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

float AngleAt(const std::vector<uint8_t>& reply, size_t pos) {
    return static_cast<float>((reply[pos] << 8) | reply[pos + 1]) * kFovUnitDeg;
}

// Angles travel as tenths of a degree; rounding (not truncating) keeps 12.3 from becoming 122.
void PutAngle(std::vector<uint8_t>& payload, float degrees) {
    const auto tenths = static_cast<uint16_t>(static_cast<int16_t>(std::lround(degrees * 10.0f)));
    payload.push_back(static_cast<uint8_t>(tenths >> 8));
    payload.push_back(static_cast<uint8_t>(tenths));
}

}  // namespace

CmxClient::CmxClient(const std::string& lidar_ip, uint16_t port, bool auto_receive,
                     uint32_t client_type, uint8_t protocol_version, const std::string& cert_path,
                     const std::string& private_key_path, const std::string& ca_path,
                     uint32_t recv_timeout_ms, uint32_t send_timeout_ms, float connect_timeout_s,
                     uint16_t local_port)
    : client_type_(client_type),
      protocol_version_(protocol_version),
      parser_(std::make_shared<CmxParser>(protocol_version)),
      lidar_ip_(lidar_ip),
      port_(port),
      local_port_(local_port),
      auto_receive_(auto_receive),
      cert_path_(cert_path),
      private_key_path_(private_key_path),
      ca_path_(ca_path),
      configured_recv_timeout_ms_(recv_timeout_ms),
      configured_send_timeout_ms_(send_timeout_ms),
      connect_timeout_s_(connect_timeout_s) {
    connect_thread_ = std::thread([this] { TryOpen(); });
}

CmxClient::CmxClient(std::shared_ptr<ClientBase> transport, uint8_t protocol_version,
                     uint32_t recv_timeout_ms, uint32_t send_timeout_ms)
    : client_type_(kInjectedTransport),
      protocol_version_(protocol_version),
      transport_(std::move(transport)),
      parser_(std::make_shared<CmxParser>(protocol_version)),
      port_(0),
      local_port_(0),
      auto_receive_(false),
      configured_recv_timeout_ms_(recv_timeout_ms),
      configured_send_timeout_ms_(send_timeout_ms),
      connect_timeout_s_(0.0f) {
    if (!transport_ || !transport_->IsOpened()) {
        return;
    }
    ever_connected_ = true;
    if (recv_timeout_ms != 0 && send_timeout_ms != 0) {
        current_recv_timeout_ms_ = recv_timeout_ms;
        current_send_timeout_ms_ = send_timeout_ms;
        transport_->SetTimeout(recv_timeout_ms, send_timeout_ms);
    }
}

CmxClient::~CmxClient() {
    running_ = false;
    if (connect_thread_.joinable()) {
        connect_thread_.join();
    }
    std::lock_guard<std::mutex> lock(transport_mutex_);
    transport_.reset();
}

bool CmxClient::ConnectTimedOut(int64_t start_us) const {
    const double elapsed_s = static_cast<double>(MonotonicMicros() - start_us) / 1e6;
    return connect_timeout_s_ >= 0.0f && elapsed_s > connect_timeout_s_;
}

bool CmxClient::WaitForLidarIp(int64_t start_us, std::string& ip) {
    {
        std::lock_guard<std::mutex> lock(ip_mutex_);
        ip = lidar_ip_;
    }
    if (!ip.empty()) {
        return true;
    }
    SLOG_WARNING(
        "CmxClient::CmxClient() lidar_ip_ is empty, wait recv could point to get lidar ip");
    for (;;) {
        SleepMs(kIpPollSleepMs);
        if (!running_.load()) {
            SLOG_WARNING("cmx connect exit 1");
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(ip_mutex_);
            ip = lidar_ip_;
        }
        if (!ip.empty()) {
            return true;
        }
        if (ConnectTimedOut(start_us)) {
            SLOG_WARNING("cmx connect : get lidar ip timeout");
            return false;
        }
    }
}

void CmxClient::TryOpen() {
    const int64_t start_us = MonotonicMicros();
    std::string ip;
    if (!WaitForLidarIp(start_us, ip)) {
        return;
    }
    SLOG_INFO("CmxClient::CmxClient() %s %u", ip.c_str(), static_cast<unsigned>(port_));
    std::shared_ptr<ClientBase> transport;
    if (client_type_ == 0) {
        transport = std::make_shared<TcpClient>();
    } else if (client_type_ == 1) {
        transport = std::make_shared<TcpSslClient>();
    }
    if (transport) {
        std::lock_guard<std::mutex> lock(transport_mutex_);
        transport_ = transport;
    }
    while (transport && running_.load()) {
        // The query lock is held per attempt so that no exchange starts on a freshly opened
        // transport before its time-outs are applied below.
        std::unique_lock<std::mutex> query_lock(query_mutex_);
        if (transport->TryOpen(local_port_, ip.c_str(), port_, auto_receive_, cert_path_.c_str(),
                               private_key_path_.c_str(), ca_path_.c_str(), kConnectWindowS)) {
            if (configured_recv_timeout_ms_ != 0 && configured_send_timeout_ms_ != 0) {
                SLOG_INFO("u32RecvTimeoutMs %u", configured_recv_timeout_ms_);
                SLOG_INFO("u32SendTimeoutMs %u", configured_send_timeout_ms_);
                current_recv_timeout_ms_ = configured_recv_timeout_ms_;
                current_send_timeout_ms_ = configured_send_timeout_ms_;
                transport->SetTimeout(current_recv_timeout_ms_, current_send_timeout_ms_);
            }
            ever_connected_ = true;
            break;
        }
        query_lock.unlock();
        if (ConnectTimedOut(start_us)) {
            break;
        }
        SleepMs(kConnectRetrySleepMs);
    }
    if (running_.load() && transport && transport->IsOpened()) {
        SLOG_INFO("cmx connect success");
    } else {
        SLOG_WARNING("cmx connect exit 2");
    }
}

std::shared_ptr<ClientBase> CmxClient::Transport() {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    return transport_;
}

bool CmxClient::IsOpen() {
    auto transport = Transport();
    return transport && transport->IsOpened();
}

void CmxClient::SetByteFlowCallback(ByteFlowCallback callback) {
    std::lock_guard<std::mutex> lock(query_mutex_);
    byte_flow_callback_ = std::move(callback);
}

void CmxClient::SetLidarIp(const std::string& lidar_ip) {
    std::lock_guard<std::mutex> lock(ip_mutex_);
    lidar_ip_ = lidar_ip;
}

void CmxClient::EmitByteFlow(const std::string& line) {
    if (byte_flow_callback_) {
        byte_flow_callback_(line);
    }
}

void CmxClient::Abort() {
    aborted_ = true;
    running_ = false;  // a connect attempt still running gives up too
    if (const std::shared_ptr<ClientBase> transport = Transport()) transport->ShutDown();
}

bool CmxClient::ReadyForExchange(const std::shared_ptr<ClientBase>& transport) {
    if (aborted_.load()) {
        SLOG_WARNING("CmxClient: the link was closed, command not sent.");
        return false;
    }
    if (!transport || (!transport->IsOpened() && !ever_connected_.load())) {
        SLOG_ERROR("Client is not open, cannot send command.");
        return false;
    }
    return true;
}

bool CmxClient::ReopenLocked(ClientBase& transport) {
    if (aborted_.load()) {
        return false;
    }
    if (transport.IsOpened()) {
        return true;
    }
    std::string ip;
    {
        std::lock_guard<std::mutex> lock(ip_mutex_);
        ip = lidar_ip_;
    }
    SLOG_WARNING("CmxClient: link to %s:%u lost, reconnecting", ip.c_str(),
                 static_cast<unsigned>(port_));
    const int64_t start_us = MonotonicMicros();
    for (;;) {
        if (transport.TryOpen(local_port_, ip.c_str(), port_, auto_receive_, cert_path_.c_str(),
                              private_key_path_.c_str(), ca_path_.c_str(), kConnectWindowS)) {
            // The drain may have left its short time-outs recorded in the transport.
            if (current_recv_timeout_ms_ != 0 && current_send_timeout_ms_ != 0) {
                transport.SetTimeout(current_recv_timeout_ms_, current_send_timeout_ms_);
            }
            return true;
        }
        // An exchange never waits without bound: a negative connect time-out gives one attempt.
        if (!running_.load() || connect_timeout_s_ <= 0.0f || ConnectTimedOut(start_us)) {
            break;
        }
        SleepMs(kConnectRetrySleepMs);
    }
    SLOG_ERROR("CmxClient: reconnect to %s:%u failed", ip.c_str(), static_cast<unsigned>(port_));
    return false;
}

int32_t CmxClient::QueryCommand(const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                                uint8_t cmd, bool include_header) {
    auto transport = Transport();
    if (!ReadyForExchange(transport)) {
        return kCmxFailed;
    }
    std::lock_guard<std::mutex> lock(query_mutex_);
    return QueryLocked(*transport, payload, out, cmd, include_header);
}

int32_t CmxClient::QueryCommandLongTimeout(const std::vector<uint8_t>& payload,
                                           std::vector<uint8_t>& out, uint8_t cmd) {
    auto transport = Transport();
    if (!ReadyForExchange(transport)) {
        return kCmxFailed;
    }
    // The whole sequence holds the query lock, so another thread's exchange never runs under the
    // long time-outs nor has them reset under it.
    std::lock_guard<std::mutex> lock(query_mutex_);
    current_recv_timeout_ms_ = kLongTimeoutMs;
    current_send_timeout_ms_ = kLongTimeoutMs;
    if (transport->IsOpened()) {
        transport->SetTimeout(kLongTimeoutMs, kLongTimeoutMs);
    }
    const int32_t result = QueryLocked(*transport, payload, out, cmd, false);
    current_recv_timeout_ms_ = configured_recv_timeout_ms_;
    current_send_timeout_ms_ = configured_send_timeout_ms_;
    if (transport->IsOpened()) {
        transport->SetTimeout(current_recv_timeout_ms_, current_send_timeout_ms_);
    }
    if (result != kCmxOk) {
        return kCmxFailed;
    }
    if (cmd == kCmdTunnel && out.size() >= kTunnelPrefixBytes) {
        out.erase(out.begin(), out.begin() + kTunnelPrefixBytes);
    }
    return kCmxOk;
}

int32_t CmxClient::ApplyTimeouts(uint32_t recv_ms, uint32_t send_ms) {
    auto transport = Transport();
    if (!transport || !transport->IsOpened()) {
        return kCmxFailed;
    }
    std::lock_guard<std::mutex> lock(query_mutex_);
    current_recv_timeout_ms_ = recv_ms;
    current_send_timeout_ms_ = send_ms;
    return transport->SetTimeout(recv_ms, send_ms);
}

int32_t CmxClient::RestoreConfiguredTimeouts() {
    return ApplyTimeouts(configured_recv_timeout_ms_, configured_send_timeout_ms_);
}

bool CmxClient::CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                                int32_t offset, int32_t length, std::vector<uint8_t>& output) {
    return parser_->CmxStreamDecode(cmd, extra, input, offset, length, output);
}

int32_t CmxClient::QueryLocked(ClientBase& transport, const std::vector<uint8_t>& payload,
                               std::vector<uint8_t>& out, uint8_t cmd, bool include_header) {
    const int64_t start_us = WallMicros();
    GeneralCmxParser* version = parser_->Get();
    if (version == nullptr) {
        SLOG_ERROR("CmxClient::QueryCommand, no parser for protocol version %u",
                   static_cast<unsigned>(protocol_version_));
        last_ret_code_ = kCmxRequestNotSent;
        return kCmxFailed;
    }
    std::vector<uint8_t> frame;
    parser_->CmxRequestEncode(payload, frame, cmd);
    // A link lost since the last exchange is reopened; the drain may find that the sensor hung up
    // while idle (restart, reset), and then the request goes out on a fresh link too.
    bool link_open = ReopenLocked(transport);
    if (link_open) {
        DrainStaleInput(transport);
        link_open = ReopenLocked(transport);
    }
    const uint32_t sent = link_open ? SendFrame(transport, frame) : 0;
    if (byte_flow_callback_ && link_open) {
        EmitByteFlow("SEND: " + ToHexText(frame));
    }
    // One deadline for the whole reply, so that a peer trickling bytes cannot stretch it.
    const int64_t deadline_us =
        current_recv_timeout_ms_ == 0
            ? -1
            : MonotonicMicros() + static_cast<int64_t>(current_recv_timeout_ms_) * 1000;
    std::vector<uint8_t> header(version->GetHeaderSize(), 0);
    int32_t result = kCmxFailed;
    bool reply_complete = false;
    if (sent < frame.size()) {
        SLOG_WARNING("send failure, %d.", static_cast<int>(sent));
        last_ret_code_ = kCmxRequestNotSent;
    } else if (!ReceiveHeader(transport, header, deadline_us)) {
        last_ret_code_ = kCmxHeaderNotRead;
    } else if (HeaderAccepted(header, cmd)) {
        result = ReadReplyBody(transport, header, out, include_header, deadline_us, reply_complete);
    }
    if (receive_timeout_narrowed_ && transport.IsOpened()) {
        transport.SetReceiveTimeout(current_recv_timeout_ms_);
    }
    receive_timeout_narrowed_ = false;
    if (!reply_complete && include_header) {
        out = header;
    }
    previous_exchange_failed_ = result != kCmxOk;
    if (result == kCmxOk) {
        last_ret_code_ = 0;
    }
    if (byte_flow_callback_) {
        const std::string text = result == kCmxOk
                                     ? ToHexText(out)
                                     : "ret_code is " + std::to_string(last_ret_code_.load());
        EmitByteFlow("RECV: " + text);
    }
    SLOG_DEBUG("exec time: %fms", static_cast<double>(WallMicros() - start_us) / 1000.0);
    return result;
}

int32_t CmxClient::ReadReplyBody(ClientBase& transport, const std::vector<uint8_t>& header,
                                 std::vector<uint8_t>& out, bool include_header,
                                 int64_t deadline_us, bool& reply_complete) {
    // The length field is the last four header bytes in both versions. Read unsigned: a value
    // with the top bit set is a corrupt length, not "no payload".
    const uint32_t length = GetU32Be(&header[header.size() - 4]);
    if (length == 0) {
        return kCmxOk;
    }
    if (length > kMaxPayloadBytes) {
        SLOG_WARNING("CmxClient::QueryCommand, nPayLoadLen %u above limit %u, reply refused",
                     length, kMaxPayloadBytes);
        last_ret_code_ = kCmxPayloadNotRead;
        reply_complete = true;  // `out` stays as the caller passed it
        return kCmxFailed;
    }
    if (length > kLargePayloadBytes) {
        SLOG_WARNING("CmxClient::QueryCommand, warning, nPayLoadLen too large:%d",
                     static_cast<int>(length));
    }
    reply_complete = true;
    if (!ReceivePayload(transport, length, receive_buffer_, deadline_us)) {
        last_ret_code_ = kCmxPayloadNotRead;
        return kCmxFailed;
    }
    if (include_header) {
        out = header;
        out.insert(out.end(), receive_buffer_.begin(), receive_buffer_.end());
    } else {
        out.assign(receive_buffer_.begin(), receive_buffer_.end());
    }
    return kCmxOk;
}

void CmxClient::DrainStaleInput(ClientBase& transport) {
    uint8_t scratch[kDrainScratchBytes];
    // What is already waiting is discarded without waiting (a TLS transport cannot read without
    // waiting and discards nothing here).
    for (int i = 0; i < kMaxNoWaitDrainReads; ++i) {
        if (!transport.IsOpened() ||
            transport.Receive(scratch, sizeof(scratch), kReceiveNoWait) <= 0) {
            break;
        }
    }
    if (!previous_exchange_failed_ || !transport.IsOpened()) {
        return;
    }
    // The last exchange failed, so the rest of its reply may still be in flight: wait briefly.
    transport.SetTimeout(kDrainTimeoutMs, kDrainTimeoutMs);
    const int64_t start_us = MonotonicMicros();
    while (MonotonicMicros() - start_us < kMaxWaitingDrainUs && transport.IsOpened() &&
           transport.Receive(scratch, sizeof(scratch), 0) > 0) {}
    if (transport.IsOpened()) {
        transport.SetTimeout(current_recv_timeout_ms_, current_send_timeout_ms_);
    }
}

uint32_t CmxClient::SendFrame(ClientBase& transport, const std::vector<uint8_t>& frame) {
    // The transport takes at most 65535 bytes per call; larger frames go out in pieces.
    size_t sent = 0;
    while (sent < frame.size()) {
        const size_t chunk = std::min(kMaxSendChunkBytes, frame.size() - sent);
        const int32_t n = transport.Send(frame.data() + sent, static_cast<uint16_t>(chunk), 0);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        }
        if (n != static_cast<int32_t>(chunk)) {
            break;
        }
    }
    return static_cast<uint32_t>(sent);
}

bool CmxClient::NarrowReceiveTimeout(ClientBase& transport, int64_t deadline_us) {
    if (deadline_us < 0) {
        return true;
    }
    const int64_t left_us = deadline_us - MonotonicMicros();
    if (left_us <= 0) {
        SLOG_WARNING("CmxClient::QueryCommand, reply not complete within %u ms",
                     current_recv_timeout_ms_);
        return false;
    }
    // Rounded up: a time-out of 0 would mean "wait for ever".
    const auto left_ms = static_cast<uint32_t>((left_us + 999) / 1000);
    if (left_ms < current_recv_timeout_ms_) {
        transport.SetReceiveTimeout(left_ms);
        receive_timeout_narrowed_ = true;
    }
    return true;
}

bool CmxClient::ReceiveHeader(ClientBase& transport, std::vector<uint8_t>& header,
                              int64_t deadline_us) {
    GeneralCmxParser* version = parser_->Get();
    const uint8_t id0 = version->GetHeaderIdentifier0();
    const uint8_t id1 = version->GetHeaderIdentifier1();
    const size_t size = header.size();
    uint8_t buf[16];
    size_t have = 0;
    bool found = false;
    while (have < size) {
        if (!NarrowReceiveTimeout(transport, deadline_us)) {
            return false;
        }
        const int32_t n = transport.Receive(buf, static_cast<uint32_t>(size - have), 0);
        if (n <= 0) {
            return false;
        }
        if (found) {
            std::memcpy(&header[have], buf, static_cast<size_t>(n));
            have += static_cast<size_t>(n);
            continue;
        }
        // Scan the bytes kept from the last read (at most one identifier byte) plus this read.
        std::vector<uint8_t> window(header.begin(), header.begin() + have);
        window.insert(window.end(), buf, buf + n);
        size_t start = 0;
        while (start + 1 < window.size() && !(window[start] == id0 && window[start + 1] == id1)) {
            ++start;
        }
        if (start + 1 < window.size()) {
            found = true;
            have = window.size() - start;
            std::copy(window.begin() + start, window.end(), header.begin());
        } else {
            // A frame may start in the last byte of a read; keep it for the next one.
            have = window.back() == id0 ? 1 : 0;
            header[0] = have ? id0 : 0;
        }
    }
    return true;
}

bool CmxClient::ReceivePayload(ClientBase& transport, uint32_t length,
                               std::vector<uint8_t>& payload, int64_t deadline_us) {
    payload.resize(length);
    uint32_t got = 0;
    while (got < length) {
        if (!NarrowReceiveTimeout(transport, deadline_us)) {
            return false;
        }
        const int32_t n = transport.Receive(payload.data() + got, length - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<uint32_t>(n);
    }
    return true;
}

bool CmxClient::HeaderAccepted(const std::vector<uint8_t>& header, uint8_t cmd) {
    const bool v1 = protocol_version_ == 1;
    const uint8_t ret_code = v1 ? header[3] : header[4];
    const uint8_t ret_cmd = v1 ? header[2] : header[3];
    const bool ids_ok = v1 ? (header[0] == kCmx1Id0 && header[1] == kCmx1Id1)
                           : (header[0] == kCmx2Id0 && header[1] == kCmx2Id1);
    if (ids_ok && ret_code == 0 && ret_cmd == cmd) {
        return true;
    }
    if (v1) {
        SLOG_WARNING("CmxClient::QueryCommand, RspCode invalid:%u, return_cmd:%u, cmd:%u",
                     static_cast<unsigned>(ret_code), static_cast<unsigned>(ret_cmd),
                     static_cast<unsigned>(cmd));
    } else {
        SLOG_WARNING("CmxClient::QueryCommand,RspCode invalid:%u, return_cmd:%u, cmd:%u",
                     static_cast<unsigned>(ret_code), static_cast<unsigned>(ret_cmd),
                     static_cast<unsigned>(cmd));
    }
    last_ret_code_ = ret_code;
    return false;
}

int32_t CmxClient::GetFov(FovTable& table, uint8_t& channels, uint8_t& mode) {
    std::vector<uint8_t> reply;
    if (QueryCommand({}, reply, kCmdGetFov, false) != kCmxOk || reply.empty()) {
        return kCmxFailed;
    }
    const uint8_t reply_mode = reply[0];
    const size_t needed = reply_mode == kFovModeSingle  ? kFovSingleBytes
                          : reply_mode == kFovModeMulti ? kFovMultiReplyBytes
                                                        : 0;
    if (reply.size() < needed) {
        SLOG_WARNING("CmxClient::GetFov, reply of %u bytes too short for mode %u",
                     static_cast<unsigned>(reply.size()), static_cast<unsigned>(reply_mode));
        return kCmxFailed;
    }
    if (reply_mode == kFovModeSingle) {
        channels = 1;
        mode = kFovModeSingle;
        table[0] = AngleAt(reply, 1);
        table[kFovChannels] = AngleAt(reply, 3);
    } else if (reply_mode == kFovModeMulti) {
        channels = reply[1];
        mode = kFovModeMulti;
        for (size_t i = 0; i < kFovChannels; ++i) {
            table[i] = AngleAt(reply, 2 + 4 * i);
            table[kFovChannels + i] = AngleAt(reply, 4 + 4 * i);
        }
    }
    return kCmxOk;
}

int32_t CmxClient::SetFov(const FovTable& table, uint8_t channels, uint8_t mode) {
    std::vector<uint8_t> payload;
    if (mode == kFovModeMulti) {
        if (channels > kFovChannels) {
            SLOG_ERROR("CmxClient::SetFov, %u channels do not fit the table",
                       static_cast<unsigned>(channels));
            return kCmxFailed;
        }
        payload = {kFovModeMulti, channels};
        // End angles sit at entry 5 + i, where GetFov puts them.
        for (size_t i = 0; i < channels; ++i) {
            PutAngle(payload, table[i]);
            PutAngle(payload, table[kFovChannels + i]);
        }
    } else if (mode == kFovModeSingle) {
        payload = {kFovModeSingle};
        PutAngle(payload, table[0]);
        PutAngle(payload, table[kFovChannels]);
    }
    std::vector<uint8_t> reply;
    return QueryCommand(payload, reply, kCmdSetFov, false);
}

}  // namespace lidar
}  // namespace krell
