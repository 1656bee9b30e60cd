#pragma once
// UdpPeer: a plain UDP socket on 127.0.0.1 for the socket-source tests, the other end of the
// source. Multicast sends stay on this machine: loopback interface and TTL 0.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace krell {
namespace test {

class UdpPeer {
public:
    //! Binds 127.0.0.1 on a port the kernel picks, with a receive time-out of `wait_ms`.
    explicit UdpPeer(int wait_ms = 2000) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in addr = Address("127.0.0.1", 0);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
        socklen_t len = sizeof(addr);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        timeval wait{wait_ms / 1000, (wait_ms % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
        in_addr loopback{};
        inet_pton(AF_INET, "127.0.0.1", &loopback);
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback));
        const unsigned char ttl = 0;
        ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return port_; }
    int Fd() const { return fd_; }

    bool SendTo(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes) {
        const sockaddr_in to = Address(ip, port);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                        sizeof(to)) == static_cast<ssize_t>(bytes.size());
    }

    //! One datagram, empty after the receive time-out.
    std::vector<uint8_t> Receive() {
        std::vector<uint8_t> bytes(2048);
        const ssize_t got = ::recv(fd_, bytes.data(), bytes.size(), 0);
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return bytes;
    }

    static sockaddr_in Address(const std::string& ip, uint16_t port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
        return addr;
    }

private:
    int fd_;
    uint16_t port_ = 0;
};

}  // namespace test
}  // namespace krell
