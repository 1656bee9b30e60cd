#include "libkrell/Source/socket_source.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

bool ParseIpv4(const std::string& text, in_addr& out) {
    return !text.empty() && inet_pton(AF_INET, text.c_str(), &out) == 1;
}

}  // namespace

SocketSource::SocketSource(uint16_t port, std::string local_ip, std::string multicast_ip)
    : port_(port),
      local_ip_(std::move(local_ip)),
      multicast_ip_(std::move(multicast_ip)),
      wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SocketSource::~SocketSource() {
    Close();
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool SocketSource::Open() {
    // POSIX sockets need no library start-up, so the first step cannot fail here.
    if (sock_ >= 0) Close();  // reopening must not leak the old socket
    sock_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (sock_ < 0) return false;
    const bool options_ok = SetSocketOptions() && BindSocket();
    if (sock_ < 0) return false;
    const int fl = fcntl(sock_, F_GETFL, 0);
    if (fl < 0 || fcntl(sock_, F_SETFL, fl | O_NONBLOCK) < 0) SLOG_ERROR("non-block");
    SetSocketBufferSize(kBufferBytes);
    select_mode_ = false;
    if (!multicast_ip_.empty()) JoinGroup();
    return options_ok;
}

bool SocketSource::SetSocketOptions() {
    const int reuse = 1;
    const bool reuse_ok =
        setsockopt(sock_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0;
    const int reuse_errno = errno;
    SetSocketBufferSize(kAskedBufferBytes);
    int granted = 0;
    socklen_t granted_len = sizeof(granted);
    if (getsockopt(sock_, SOL_SOCKET, SO_RCVBUF, &granted, &granted_len) == 0) {
        SLOG_INFO("OS current udp socket recv buff size is: %d", granted);
    } else {
        SLOG_WARNING("getsockopt error=%d(%s)!!!", errno, std::strerror(errno));
    }
    if (!reuse_ok) {
        SLOG_ERROR("setsockopt SO_REUSEADDR failed, errno:%d", reuse_errno);
        return false;
    }
    timeval timeout{0, kReceiveTimeoutMs * 1000};
    if (setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0) {
        SLOG_ERROR("setsockopt SO_RCVTIMEO failed, errno:%d", errno);
        return false;
    }
    return true;
}

bool SocketSource::BindSocket() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    // A socket bound to an interface's own address never matches datagrams sent to a group, so a
    // group member binds the group's address and picks the interface when it joins.
    if (!ParseIpv4(multicast_ip_, addr.sin_addr) && !local_ip_.empty()) {
        if (!ParseIpv4(local_ip_, addr.sin_addr)) addr.sin_addr.s_addr = htonl(INADDR_NONE);
    }
    if (::bind(sock_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
        SLOG_INFO("SocketSource::Open succeed, sock:%d", sock_);
        return true;
    }
    if (errno == EINPROGRESS || errno == EWOULDBLOCK) return true;
    SLOG_ERROR("SocketSource::Open(), bind failed, errno: %d", errno);
    ::close(sock_);
    sock_ = -1;
    return false;
}

void SocketSource::JoinGroup() {
    ip_mreq request{};
    request.imr_interface.s_addr = htonl(INADDR_ANY);
    const bool interface_ok = local_ip_.empty() || ParseIpv4(local_ip_, request.imr_interface);
    if (interface_ok && ParseIpv4(multicast_ip_, request.imr_multiaddr) &&
        setsockopt(sock_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) == 0) {
        SLOG_INFO("Recive data from multicast ip address %s", multicast_ip_.c_str());
    } else {
        SLOG_ERROR("Multicast IP error, set correct multicast ip address or keep it empty");
    }
}

void SocketSource::Close() {
    SLOG_INFO("SocketSource::Close()");
    if (sock_ >= 0) {
        ::close(sock_);
        sock_ = -1;
    }
}

bool SocketSource::IsOpened() {
    if (sock_ != -1) return true;
    SLOG_WARNING("SocketSource::IsOpened(), port %d, sock %d is not open", port_, sock_);
    return false;
}

int32_t SocketSource::Send(const uint8_t* data, uint16_t len, int32_t flags) {
    if (sock_ == -1) {
        SLOG_ERROR("SocketSource::Send, port %d, sock %d is not open", port_, sock_);
        return -1;
    }
    if (peer_ip_.empty()) {
        SLOG_ERROR("SocketSource::Send, client ip is empty");
        return -1;
    }
    const ssize_t sent = ::sendto(sock_, data, len, flags,
                                  reinterpret_cast<const sockaddr*>(&peer_addr_), sizeof(peer_addr_));
    if (sent < 0) {
        SLOG_ERROR("SocketSource::Send, errno:%d", errno);
        Close();
    }
    return static_cast<int32_t>(sent);
}

int32_t SocketSource::Receive(UdpPacket& packet, uint16_t len, int32_t flags, int32_t timeout_us) {
    if (sock_ == -1 && !Open()) return -1;
    if (!select_mode_) {
        const int32_t got = ReadDatagram(packet, len, flags);
        if (got == -1) select_mode_ = true;
        return got;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock_, &readable);
    if (wake_fd_ >= 0) FD_SET(wake_fd_, &readable);
    const int32_t wait_us = std::max(timeout_us, 0);
    timeval wait{wait_us / 1000000, wait_us % 1000000};
    const int ready = ::select(std::max(sock_, wake_fd_) + 1, &readable, nullptr, nullptr, &wait);
    if (ready < 0) {
        SLOG_WARNING("Select timeout error");
        return -1;
    }
    if (ready > 0 && FD_ISSET(sock_, &readable) && !aborted_.load()) {
        select_mode_ = false;
        return ReadDatagram(packet, len, flags);
    }
    packet.timeout = 1;
    return 0;
}

int32_t SocketSource::ReadDatagram(UdpPacket& packet, uint16_t len, int32_t flags) {
    const size_t room = std::min<size_t>(len, UdpPacket::kDataBytes);
    sockaddr_in from{};
    socklen_t from_len = sizeof(from);
    // MSG_TRUNC makes the kernel report the datagram's whole length, so a cut one is recognised.
    const ssize_t got = ::recvfrom(sock_, packet.data, room, flags | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &from_len);
    if (got < 0) return -1;
    if (static_cast<size_t>(got) > room) {
        ++truncated_;
        SLOG_WARNING("SocketSource::Receive, datagram of %zd bytes cut to %zu, dropped", got, room);
        return kTruncated;
    }
    packet.length = static_cast<uint16_t>(got);
    packet.ip = from.sin_addr.s_addr;
    packet.port = ntohs(from.sin_port);
    packet.timeout = 0;
    return static_cast<int32_t>(got);
}

void SocketSource::SetSocketBufferSize(int32_t size_bytes) {
    if (sock_ < 0) return;
    setsockopt(sock_, SOL_SOCKET, SO_RCVBUF, &size_bytes, sizeof(size_bytes));
}

bool SocketSource::SetPeer(const std::string& ip, uint16_t port) {
    peer_ip_.clear();
    peer_addr_ = sockaddr_in{};
    peer_addr_.sin_family = AF_INET;
    peer_addr_.sin_port = htons(port);
    if (!ParseIpv4(ip, peer_addr_.sin_addr)) return false;
    peer_ip_ = ip;
    return true;
}

void SocketSource::AbortWaits() {
    aborted_.store(true);
    const uint64_t one = 1;
    if (wake_fd_ >= 0) (void)!::write(wake_fd_, &one, sizeof(one));
}

void SocketSource::ResumeWaits() {
    uint64_t count = 0;
    if (wake_fd_ >= 0) (void)!::read(wake_fd_, &count, sizeof(count));
    aborted_.store(false);
}

uint16_t SocketSource::LocalPort() const {
    sockaddr_in addr{};
    socklen_t addr_len = sizeof(addr);
    if (sock_ < 0 || getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &addr_len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

}  // namespace lidar
}  // namespace krell
