#include "tools/lidar-sim/sim_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "libkrell/CmxClient/cmx_codes.h"
#include "tools/lidar-sim/sim_stream.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr int kAcceptPollMs = 100;
constexpr int kListenBacklog = 16;
constexpr uint8_t kGarbageByte = 0xA5;  // never an identifier byte
constexpr uint8_t kWrongCommandMask = 0x80;
constexpr size_t kHeaderBytesV1 = 8;
constexpr size_t kHeaderBytesV2 = 12;
constexpr size_t kJoinedPayloadBytes = 4096;

bool IsFrameStart(const uint8_t* b) {
    return (b[0] == kCmx1Id0 && b[1] == kCmx1Id1) || (b[0] == kCmx2Id0 && b[1] == kCmx2Id1);
}

void PutU32(uint8_t* dst, uint32_t v) {
    dst[0] = static_cast<uint8_t>(v >> 24);
    dst[1] = static_cast<uint8_t>(v >> 16);
    dst[2] = static_cast<uint8_t>(v >> 8);
    dst[3] = static_cast<uint8_t>(v);
}

std::vector<uint8_t> EncodeHeader(uint8_t version, uint8_t cmd, uint8_t ret_code, uint32_t length) {
    if (version == 1) {
        std::vector<uint8_t> h{kCmx1Id0, kCmx1Id1, cmd, ret_code, 0, 0, 0, 0};
        PutU32(&h[4], length);
        return h;
    }
    std::vector<uint8_t> h{kCmx2Id0, kCmx2Id1, kCmx2ProtocolByte, cmd, ret_code, 0, 0, 0, 0, 0,
                           0,        0};
    PutU32(&h[8], length);
    return h;
}

// A client that disappears must end its connection thread, not the process.
void BlockSigpipeOnThisThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

SimServer::SimServer(std::shared_ptr<SimDevice> device) : device_(std::move(device)) {}

SimServer::~SimServer() {
    Stop();
}

std::string SimServer::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_;
}

bool SimServer::MakeTlsContext(const SimServerOptions& options) {
    ssl_ctx_.reset(SSL_CTX_new(TLS_server_method()));
    if (!ssl_ctx_ ||
        SSL_CTX_use_certificate_file(ssl_ctx_.get(), options.cert_path.c_str(), SSL_FILETYPE_PEM) !=
            1 ||
        SSL_CTX_use_PrivateKey_file(ssl_ctx_.get(), options.key_path.c_str(), SSL_FILETYPE_PEM) !=
            1 ||
        SSL_CTX_check_private_key(ssl_ctx_.get()) != 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        last_error_ = "cannot load the TLS certificate or key";
        return false;
    }
    if (!options.ca_path.empty()) {
        if (SSL_CTX_load_verify_locations(ssl_ctx_.get(), options.ca_path.c_str(), nullptr) != 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            last_error_ = "cannot load the TLS CA file";
            return false;
        }
        SSL_CTX_set_verify(ssl_ctx_.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                           nullptr);
    }
    return true;
}

bool SimServer::Start(const SimServerOptions& options) {
    if (options.tls && !MakeTlsContext(options)) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options.port);
    if (::inet_pton(AF_INET, options.bind_ip.c_str(), &addr.sin_addr) != 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        last_error_ = "not an IPv4 address: " + options.bind_ip;
        return false;
    }
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    const int one = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    socklen_t len = sizeof(addr);
    if (!listener ||
        ::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(listener.get(), kListenBacklog) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        last_error_ = std::string("cannot listen: ") + std::strerror(errno);
        return false;
    }
    listen_fd_ = std::move(listener);
    port_ = ntohs(addr.sin_port);
    stop_ = false;
    accept_thread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void SimServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    stop_cv_.notify_all();
    if (accept_thread_.joinable()) {
        accept_thread_.join();
    }
    listen_fd_.reset();
    std::list<Connection> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.splice(connections.end(), connections_);
    }
    for (auto& connection : connections) {
        connection.stream->ShutdownNow();
        connection.thread.join();
    }
}

void SimServer::DropConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& connection : connections_) {
        connection.stream->ShutdownNow();
    }
}

void SimServer::SetFaults(const SimFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

SimFaults SimServer::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

SimFaults SimServer::TakeFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    SimFaults taken = faults_;
    if (faults_.once) {
        faults_ = SimFaults{};
    }
    return taken;
}

bool SimServer::SleepUnlessStopped(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void SimServer::ReapFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->done.load()) {
            it->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void SimServer::AcceptLoop() {
    while (!stop_.load()) {
        pollfd pfd{listen_fd_.get(), POLLIN, 0};
        if (::poll(&pfd, 1, kAcceptPollMs) <= 0) {
            ReapFinished();
            continue;
        }
        UniqueFd accepted(::accept(listen_fd_.get(), nullptr, nullptr));
        if (!accepted) {
            continue;
        }
        ReapFinished();
        connection_count_++;
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back();
        Connection* connection = &connections_.back();
        connection->stream = std::make_shared<SimStream>(std::move(accepted), ssl_ctx_.get());
        connection->thread = std::thread([this, connection] { Serve(connection); });
    }
}

void SimServer::Serve(Connection* connection) {
    BlockSigpipeOnThisThread();
    SimStream& stream = *connection->stream;
    if (stream.Accept(stop_)) {
        SimRequest request;
        while (ReadRequest(stream, request)) {
            request_count_++;
            const SimFaults faults = TakeFaults();
            if (faults.reply_delay_ms > 0 && !SleepUnlessStopped(faults.reply_delay_ms)) {
                break;
            }
            if (faults.no_reply) {
                continue;
            }
            if (!Answer(stream, request, device_->Handle(request), faults)) {
                break;
            }
        }
    }
    stream.ShutdownNow();
    connection->done = true;
}

bool SimServer::ReadRequest(SimStream& stream, SimRequest& request) {
    // The shorter (1.0) header is read in one go; bytes in front of a frame start are dropped.
    uint8_t header[kHeaderBytesV2];
    size_t have = 0;
    for (;;) {
        if (!stream.ReadExact(header + have, kHeaderBytesV1 - have, stop_)) {
            return false;
        }
        size_t start = 0;
        while (start + 1 < kHeaderBytesV1 && !IsFrameStart(header + start)) {
            ++start;
        }
        if (start == 0) {
            break;
        }
        have = kHeaderBytesV1 - start;
        std::memmove(header, header + start, have);
    }
    request.version = header[0] == 0x47 ? 1 : 2;
    const size_t size = request.version == 1 ? kHeaderBytesV1 : kHeaderBytesV2;
    if (size > kHeaderBytesV1 &&
        !stream.ReadExact(header + kHeaderBytesV1, size - kHeaderBytesV1, stop_)) {
        return false;
    }
    request.cmd = request.version == 1 ? header[2] : header[3];
    const uint32_t length = (static_cast<uint32_t>(header[size - 4]) << 24) |
                            (static_cast<uint32_t>(header[size - 3]) << 16) |
                            (static_cast<uint32_t>(header[size - 2]) << 8) | header[size - 1];
    if (length > kMaxRequestPayloadBytes) {
        return false;
    }
    request.payload.resize(length);
    return stream.ReadExact(request.payload.data(), length, stop_);
}

bool SimServer::Answer(SimStream& stream, const SimRequest& request, const SimReply& reply,
                       const SimFaults& faults) {
    if (!reply.send) {
        return !reply.close_after_reply;  // a sensor gone silent may also hang up
    }
    const bool damaged = faults.wrong_command || reply.wrong_command;
    const uint8_t cmd = damaged ? request.cmd ^ kWrongCommandMask : request.cmd;
    const uint8_t ret_code = faults.return_code != 0 ? faults.return_code : reply.ret_code;
    const std::vector<uint8_t>& body = reply.shared_payload ? *reply.shared_payload : reply.payload;
    const uint32_t length = faults.announced_length.value_or(static_cast<uint32_t>(body.size()));
    std::vector<uint8_t> bytes(faults.garbage_bytes, kGarbageByte);
    const std::vector<uint8_t> header = EncodeHeader(request.version, cmd, ret_code, length);
    bytes.insert(bytes.end(), header.begin(), header.end());
    if (faults.close_after_header) {
        stream.WriteAll(bytes.data(), bytes.size());
        return false;
    }
    const size_t withheld = std::min<size_t>(faults.truncate_payload_bytes, body.size());
    const size_t payload = body.size() - withheld;
    // A small payload joins the header in one write: a second system call per reply was a third
    // of the sensor's cost per firmware frame.
    if (payload <= kJoinedPayloadBytes) {
        bytes.insert(bytes.end(), body.begin(),
                     body.begin() + static_cast<std::ptrdiff_t>(payload));
        return stream.WriteAll(bytes.data(), bytes.size()) && !reply.close_after_reply;
    }
    // A large one goes out from where the handler left it (log replies run to several MiB); the
    // header in front is held back to leave with it.
    if (!stream.WriteAll(bytes.data(), bytes.size(), payload > 0) ||
        !stream.WriteAll(body.data(), payload)) {
        return false;
    }
    return !reply.close_after_reply;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
