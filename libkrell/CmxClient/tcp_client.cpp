#include "libkrell/CmxClient/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "libkrell/CmxClient/tcp_socket.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {

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
    if (!AdoptSocket(::socket(AF_INET, SOCK_STREAM, 0))) {
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
    // The recorded send time-out also bounds connect(), so that the automatic reopen cannot hang
    // on a sensor that is still booting (connect then fails with EINPROGRESS).
    RestoreTimeouts();
    if (::connect(socket_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
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
    if (!AdoptSocket(
            TcpConnectWithTimeout(local_port, server_ip_.c_str(), port, timeout_s, "TryOpen"))) {
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
    const ssize_t sent = ::send(socket_.get(), data, len, flags | MSG_NOSIGNAL);
    if (sent < 0) {
        const int err = errno;
        if (!IsTransientErrno(err)) {
            SLOG_ERROR("Send errno %d", err);
            // EPIPE, ECONNRESET and the like: the link is gone; closing lets the next use reopen.
            Close();
        }
        errno = err;
    }
    return static_cast<int32_t>(sent);
}

int32_t TcpClient::Receive(uint8_t* buf, uint32_t len, int32_t flags) {
    if (!opened_.load() && !Open()) {
        return -1;
    }
    const int64_t start_us = MonotonicMicros();
    const bool no_wait = flags == kReceiveNoWait;
    const ssize_t got = ::recv(socket_.get(), buf, len, no_wait ? MSG_DONTWAIT : flags);
    const int err = errno;
    // A time-out is EAGAIN here; ETIMEDOUT means the kernel gave the connection up.
    const bool lost = got == 0 || (got < 0 && !IsTransientErrno(err));
    if (!no_wait) {
        if (got == 0) {
            SLOG_ERROR("Connection closed by peer, recv returned 0");
        } else if (lost && err != ETIMEDOUT) {
            SLOG_ERROR("Receive failed, WSA error: %d", err);
        }
    }
    if (lost) {
        Close();
    }
    const int64_t elapsed_us = MonotonicMicros() - start_us;
    if (elapsed_us >= kSlowReceiveUs) {
        SLOG_DEBUG("Receive executed: %dus", static_cast<int>(elapsed_us));
    }
    errno = err;
    return static_cast<int32_t>(got);
}

}  // namespace lidar
}  // namespace krell
