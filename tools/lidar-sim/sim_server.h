#pragma once
// SimServer: serves the CMX command port of the virtual sensor (CMX 1.0 and 2.0, recognised by
// the identifier bytes of each request) over TCP or TLS, one thread per connection, and applies
// the fault switches to every reply. Owns its listening socket and connection threads.

#include <openssl/ssl.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/Handle/ssl_handles.h"
#include "libkrell/Handle/unique_fd.h"
#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/sim_faults.h"

namespace krell {
namespace lidar {
namespace sim {

class SimStream;

struct SimServerOptions {
    std::string bind_ip = "127.0.0.1";
    uint16_t port = 0;  // 0: the system picks a free port (see SimServer::Port)
    bool tls = false;
    std::string cert_path;  // PEM server certificate (TLS)
    std::string key_path;   // PEM private key (TLS)
    std::string ca_path;    // PEM CA for client certificates; empty: no client certificate asked
};

class SimServer {
public:
    //! Largest request payload accepted; a longer announced length drops the connection.
    static constexpr uint32_t kMaxRequestPayloadBytes = 16u * 1024u * 1024u;

    //! `device` answers the commands; it must outlive nothing but this server (shared).
    explicit SimServer(std::shared_ptr<SimDevice> device);
    //! Stops the server (see Stop).
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    //! Binds, listens and starts the accept thread. False with LastError() on failure.
    bool Start(const SimServerOptions& options);
    //! Closes the listener and every connection and joins all threads. Idempotent; any thread
    //! except a connection thread of this server.
    void Stop();
    //! The bound port (valid after Start).
    uint16_t Port() const { return port_; }
    //! Text of the last Start failure.
    std::string LastError() const;

    //! Replaces the fault switches; they apply from the next reply on. Any thread.
    void SetFaults(const SimFaults& faults);
    //! Current fault switches. Any thread.
    SimFaults Faults() const;
    //! Number of requests read so far (whether answered or not). Any thread.
    uint64_t RequestCount() const { return request_count_.load(); }
    //! Number of connections accepted so far. Any thread.
    uint64_t ConnectionCount() const { return connection_count_.load(); }
    //! Closes every open connection (the listener stays). Any thread.
    void DropConnections();

private:
    struct Connection {
        std::thread thread;
        std::shared_ptr<SimStream> stream;
        std::atomic<bool> done{false};
    };
    bool MakeTlsContext(const SimServerOptions& options);
    void AcceptLoop();
    void Serve(Connection* connection);
    bool ReadRequest(SimStream& stream, SimRequest& request);
    //! Applies the faults to `reply` and writes it; false when the connection must end.
    bool Answer(SimStream& stream, const SimRequest& request, const SimReply& reply,
                const SimFaults& faults);
    SimFaults TakeFaults();
    bool SleepUnlessStopped(uint32_t ms);
    void ReapFinished();

    std::shared_ptr<SimDevice> device_;
    SslCtxPtr ssl_ctx_;
    UniqueFd listen_fd_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread accept_thread_;
    mutable std::mutex mutex_;  // guards faults_, connections_, last_error_
    std::condition_variable stop_cv_;
    SimFaults faults_;
    std::list<Connection> connections_;
    std::string last_error_;
    std::atomic<uint64_t> request_count_{0};
    std::atomic<uint64_t> connection_count_{0};
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
