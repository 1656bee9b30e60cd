#include "libkrell/CmxClient/socket_client.h"

#include <sys/socket.h>
#include <unistd.h>

#include "libkrell/CmxClient/tcp_socket.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {

bool SocketClient::SameAddress(const char* ip, uint16_t port) const {
    return opened_.load() && ip != nullptr && server_ip_ == ip && server_port_ == port;
}

void SocketClient::StoreAddress(const char* ip, uint16_t port) {
    server_ip_ = ip ? ip : "";
    server_port_ = port;
}

void SocketClient::CloseSocket() {
    std::lock_guard<std::mutex> lock(fd_mutex_);
    socket_.reset();
}

bool SocketClient::AdoptSocket(int fd) {
    std::lock_guard<std::mutex> lock(fd_mutex_);
    if (shut_down_.load()) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    socket_.reset(fd);
    return socket_.valid();
}

void SocketClient::ShutDown() {
    std::lock_guard<std::mutex> lock(fd_mutex_);
    shut_down_ = true;
    if (socket_) ::shutdown(socket_.get(), SHUT_RDWR);
}

bool SocketClient::RestoreTimeouts() {
    if (!timeouts_applied_) {
        return false;
    }
    SetSocketTimeouts(socket_.get(), recv_timeout_ms_, send_timeout_ms_);
    return true;
}

bool SocketClient::SetReceiveTimeout(uint32_t timeout_ms) {
    if (!socket_) {
        SLOG_WARNING("TcpClient not open");
        return false;
    }
    return SetSocketReceiveTimeout(socket_.get(), timeout_ms);
}

int32_t SocketClient::SetTimeout(uint32_t recv_timeout_ms, uint32_t send_timeout_ms) {
    if (!socket_) {
        SLOG_WARNING("TcpClient not open");
        return -1;
    }
    recv_timeout_ms_ = recv_timeout_ms;
    send_timeout_ms_ = send_timeout_ms;
    timeouts_applied_ = true;
    return SetSocketTimeouts(socket_.get(), recv_timeout_ms, send_timeout_ms);
}

void SocketClient::SetReceiveBufferSize(uint32_t& size) {
    if (!socket_) {
        SLOG_WARNING("TcpClient not open");
        return;
    }
    receive_buffer_size_ = size;
    GrowSocketReceiveBuffer(socket_.get(), size);
}

}  // namespace lidar
}  // namespace krell
