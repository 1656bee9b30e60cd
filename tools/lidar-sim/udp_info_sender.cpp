#include "tools/lidar-sim/udp_info_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr auto kLongestPause = std::chrono::milliseconds(100);

bool ParseEndpoint(const std::string& text, UdpInfoOptions& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) return false;
    char* end = nullptr;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) return false;
    options.ip = text.substr(0, colon);
    options.port = static_cast<uint16_t>(port);
    return true;
}

bool IsLoopback(in_addr addr) {
    return (ntohl(addr.s_addr) >> 24) == 127;
}

}  // namespace

UdpInfoSender::~UdpInfoSender() {
    Stop();
}

bool UdpInfoSender::ParseOption(int argc, char** argv, int& i, UdpInfoOptions& options) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[i + 1];
    in_addr addr{};
    bool ok = false;
    if (arg == "--udp" || arg == "--udp-multicast") {
        ok = ParseEndpoint(value, options) && inet_pton(AF_INET, options.ip.c_str(), &addr) == 1 &&
             (arg == "--udp" ? IsLoopback(addr) : IN_MULTICAST(ntohl(addr.s_addr)));
    } else if (arg == "--udp-rate") {
        char* end = nullptr;
        const unsigned long rate = std::strtoul(value.c_str(), &end, 10);
        ok = !value.empty() && *end == '\0' && rate >= 1 && rate <= 1000000;
        if (ok) options.packets_per_second = static_cast<uint32_t>(rate);
    }
    if (ok) ++i;
    return ok;
}

const char* UdpInfoSender::Usage() {
    return "                 [--udp 127.x.x.x:PORT | --udp-multicast GROUP:PORT] [--udp-rate N]\n"
           "--udp sends the model's information packets to a loopback port, N per second\n"
           "(default 200); --udp-multicast sends them to a group on the loopback interface.\n";
}

bool UdpInfoSender::Start(const UdpInfoOptions& options,
                          std::vector<std::vector<uint8_t>> packets) {
    Stop();
    if (packets.empty()) {
        error_ = "the model has no information variables to send";
        return false;
    }
    if (!OpenSocket(options)) return false;
    packets_ = std::move(packets);
    stop_ = false;
    thread_ = std::thread(&UdpInfoSender::Run, this, options.packets_per_second);
    return true;
}

bool UdpInfoSender::OpenSocket(const UdpInfoOptions& options) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(options.port);
    const bool parsed = inet_pton(AF_INET, options.ip.c_str(), &to.sin_addr) == 1;
    const bool multicast = parsed && IN_MULTICAST(ntohl(to.sin_addr.s_addr));
    if (!parsed || !(multicast || IsLoopback(to.sin_addr))) {
        error_ = "UDP destination must be a 127.x.x.x address or a multicast group: " + options.ip;
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
    in_addr loopback = local.sin_addr;
    const unsigned char ttl = 0;  // the group's datagrams stay on this host
    socklen_t local_len = sizeof(local);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback)) != 0 ||
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl)) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &local_len) != 0) {
        error_ = std::string("UDP socket: ") + std::strerror(errno);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    }
    source_port_ = ntohs(local.sin_port);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&to);
    destination_.assign(bytes, bytes + sizeof(to));
    return true;
}

void UdpInfoSender::Run(uint32_t packets_per_second) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto* to = reinterpret_cast<const sockaddr*>(destination_.data());
    uint64_t sequence = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        const uint64_t due = static_cast<uint64_t>(elapsed) * packets_per_second / 1000000 + 1;
        for (; sequence < due && !stop_; ++sequence) {
            const std::vector<uint8_t>& packet = packets_[sequence % packets_.size()];
            // A full receiver buffer or a port nobody listens on is the receiver's business.
            if (::sendto(fd_, packet.data(), packet.size(), 0, to,
                         static_cast<socklen_t>(destination_.size())) > 0) {
                ++sent_;
            }
        }
        const auto next = start + std::chrono::microseconds(sequence * 1000000 / packets_per_second);
        wake_.wait_until(lock, std::min(next, Clock::now() + kLongestPause));
    }
}

void UdpInfoSender::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
