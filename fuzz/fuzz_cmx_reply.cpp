// The CMX reply path as a sensor feeds it: the input is written by a loopback server, split into
// pieces, as the reply to one request of a real CmxClient (CMX 1.0 or 2.0), which finds the
// header, checks it and reads the payload; a decoded payload then goes through CmxStreamDecode.
//
// Input: byte 0 selects version (bit 0), header in the output (bit 1) and the command (bits 2-7);
// bytes 1-3 are cut points for the pieces; byte 4 the decode offset and length; the rest is the
// reply stream.
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

#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/Handle/unique_fd.h"

namespace {

constexpr size_t kControlBytes = 5;
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
            const size_t size = header[0] == 0x47 ? 8 : 12;
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
    if (size < kControlBytes) return 0;
    Rig& rig = TheRig();
    const uint8_t control = data[0];
    const std::vector<uint8_t> stream(data + kControlBytes, data + size);
    std::vector<size_t> cuts = {data[1] % (stream.size() + 1), data[2] % (stream.size() + 1),
                                data[3] % (stream.size() + 1)};
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::vector<uint8_t>> pieces;
    size_t from = 0;
    for (size_t cut : cuts) {
        if (cut > from) pieces.emplace_back(stream.begin() + from, stream.begin() + cut);
        from = std::max(from, cut);
    }
    if (from < stream.size()) pieces.emplace_back(stream.begin() + from, stream.end());
    rig.server.SetReply(std::move(pieces));

    krell::lidar::CmxClient& client = (control & 1) ? rig.v2 : rig.v1;
    const uint8_t cmd = control >> 2;
    std::vector<uint8_t> out = {0xAB};
    const int32_t result = client.QueryCommand({}, out, cmd, (control & 2) != 0);
    if (result != 0 && result != -1) std::abort();
    if (result == 0) {
        std::vector<uint8_t> cut;
        client.CmxStreamDecode(cmd, data[4], out, data[4] >> 4, data[4] & 0x0F, cut);
    }
    return 0;
}
