// The CMX reply path as a sensor feeds it over a real socket: the input is written by a loopback
// server, split into pieces, as the reply to one request of a real CmxClient (CMX 1.0 or 2.0).
// Every input costs a connect and, for a short reply, a receive time-out (tens of inputs a
// second): this target keeps the socket transport in the loop, fuzz_cmx_reply covers the parsing
// at memory speed. Input layout: cmx_reply_input.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fuzz/cmx_reply_input.h"
#include "libkrell/Handle/unique_fd.h"

namespace {

constexpr uint32_t kClientTimeoutMs = 200;
constexpr size_t kMaxRequestPayloadBytes = 4096;

bool ReadAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Answers each accepted connection's one request with the current reply pieces, then closes it.
class ReplyServer {
public:
    ReplyServer() {
        listener_.reset(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(listener_.get(), 4) != 0 ||
            ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            std::abort();
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
        thread_.detach();  // lives as long as the fuzzing process
    }

    uint16_t Port() const { return port_; }

    void SetReply(std::vector<std::vector<uint8_t>> pieces) {
        std::lock_guard<std::mutex> lock(mutex_);
        pieces_ = std::move(pieces);
    }

private:
    void Serve() {
        for (;;) {
            krell::UniqueFd peer(::accept(listener_.get(), nullptr, nullptr));
            if (!peer) continue;
            const int one = 1;
            ::setsockopt(peer.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            uint8_t header[12];
            if (!ReadAll(peer.get(), header, 8)) continue;
            const size_t size = header[0] == krell::lidar::kCmx1Id0 ? 8 : 12;
            if (size == 12 && !ReadAll(peer.get(), header + 8, 4)) continue;
            const uint32_t length = static_cast<uint32_t>(header[size - 4]) << 24 |
                                    header[size - 3] << 16 | header[size - 2] << 8 |
                                    header[size - 1];
            std::vector<uint8_t> payload(std::min<size_t>(length, kMaxRequestPayloadBytes));
            if (length > kMaxRequestPayloadBytes || !ReadAll(peer.get(), payload.data(), length))
                continue;
            std::vector<std::vector<uint8_t>> pieces;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pieces = pieces_;
            }
            for (const auto& piece : pieces) {
                if (::send(peer.get(), piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
                ::usleep(50);  // lets the client see the pieces as separate reads
            }
        }
    }

    krell::UniqueFd listener_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;  // guards pieces_
    std::vector<std::vector<uint8_t>> pieces_;
};

struct Rig {
    Rig()
        : v1("127.0.0.1", server.Port(), false, 0, 1, "", "", "", kClientTimeoutMs,
             kClientTimeoutMs, 0.0f),
          v2("127.0.0.1", server.Port(), false, 0, 2, "", "", "", kClientTimeoutMs,
             kClientTimeoutMs, 0.0f) {}
    ReplyServer server;
    krell::lidar::CmxClient v1;
    krell::lidar::CmxClient v2;
};

Rig& TheRig() {
    static Rig* rig = new Rig();  // never destroyed: the server thread outlives every input
    return *rig;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cmx_fuzz::ReplyInput input;
    if (!cmx_fuzz::ParseReplyInput(data, size, input)) return 0;
    Rig& rig = TheRig();
    rig.server.SetReply(std::move(input.pieces));
    cmx_fuzz::QueryAndDecode(input.version2 ? rig.v2 : rig.v1, input);
    return 0;
}
