#include "libkrell/CmxClient/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "libkrell/CmxClient/tcp_socket.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

bool IsTransientErrno(int err) {
    return err == EINTR || err == EAGAIN || err == EWOULDBLOCK;
}

}  // namespace

TcpClient::~TcpClient() {
    Close();
}

bool TcpClient::Open(const char* ip, uint16_t port, bool, const char*, const char*, const char*) {
    if (SameAddress(ip, port)) {
        return true;
    }
    SLOG_INFO("Open() IP %s port %u", ip ? ip : "", static_cast<unsigned>(port));
    Close();
    StoreAddress(ip, port);
    return Open();
}

bool TcpClient::Open() {
    Close();
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket_ < 0) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server_port_);
    if (::inet_pton(AF_INET, server_ip_.c_str(), &addr.sin_addr) != 1) {
        Close();
        SLOG_ERROR("Open inet_pton error:%s", server_ip_.c_str());
        return false;
    }
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        const int err = errno;
        if (err == EINPROGRESS) {
            SLOG_WARNING("connect lidar time out");
        } else if (err != EWOULDBLOCK) {
            SLOG_ERROR("connect failed %d", err);
        }
        Close();
        SLOG_ERROR("connect lidar fail errno %d", err);
        return false;
    }
    RestoreTimeouts();
    SLOG_INFO(" succeed, IP %s port %u", server_ip_.c_str(), static_cast<unsigned>(server_port_));
    opened_ = true;
    return true;
}

bool TcpClient::TryOpen(uint16_t local_port, const char* ip, uint16_t port, bool, const char*,
                        const char*, const char*, uint32_t timeout_s) {
    if (SameAddress(ip, port)) {
        return true;
    }
    Close();
    StoreAddress(ip, port);
    socket_ = TcpConnectWithTimeout(local_port, server_ip_.c_str(), port, timeout_s, "TryOpen");
    if (socket_ < 0) {
        return false;
    }
    RestoreTimeouts();
    SLOG_INFO("TryOpen succeed, IP %s port %u", server_ip_.c_str(), static_cast<unsigned>(port));
    opened_ = true;
    return true;
}

void TcpClient::Close() {
    opened_ = false;
    CloseSocket();
}

int32_t TcpClient::Send(const uint8_t* data, uint16_t len, int32_t flags) {
    if (!opened_.load() && !Open()) {
        return -1;
    }
    // MSG_NOSIGNAL: a peer that has gone away must give an error result, not kill the process.
    const ssize_t sent = ::send(socket_, data, len, flags | MSG_NOSIGNAL);
    if (sent < 0 && !IsTransientErrno(errno)) {
        SLOG_ERROR("Send errno %d", errno);
    }
    return static_cast<int32_t>(sent);
}

int32_t TcpClient::Receive(uint8_t* buf, uint32_t len, int32_t flags) {
    if (!opened_.load() && !Open()) {
        return -1;
    }
    const int64_t start_us = MonotonicMicros();
    const bool no_wait = flags == kReceiveNoWait;
    const ssize_t got = ::recv(socket_, buf, len, no_wait ? MSG_DONTWAIT : flags);
    if (!no_wait) {
        if (got == 0) {
            SLOG_ERROR("Connection closed by peer, recv returned 0");
        } else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ETIMEDOUT) {
            SLOG_ERROR("Receive failed, WSA error: %d", errno);
        }
    }
    const int64_t elapsed_us = MonotonicMicros() - start_us;
    if (elapsed_us >= kSlowReceiveUs) {
        SLOG_DEBUG("Receive executed: %dus", static_cast<int>(elapsed_us));
    }
    return static_cast<int32_t>(got);
}

}  // namespace lidar
}  // namespace krell
