#pragma once
// ScriptedPeer: a loopback listener (ephemeral port) whose connections each run a test's script,
// over plain TCP or, with a server context, TLS. It plays the misbehaving sensor: silent, slow,
// trickling, or talking an old protocol. Every wait inside is bounded and ends when the peer is
// destroyed, so that a test that goes wrong fails instead of hanging.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "libkrell/Handle/ssl_handles.h"
#include "libkrell/Handle/unique_fd.h"

namespace krell {
namespace test {

//! One accepted connection as the script sees it. Used only on the peer's own thread.
class PeerConnection {
public:
    PeerConnection(UniqueFd fd, SSL_CTX* tls, const std::atomic<bool>& stop);

    //! Runs the TLS server handshake (a plain connection is ready at once); false on failure.
    bool Handshake(int limit_ms);
    //! Reads exactly `size` bytes within `limit_ms`; false on time-out, close or stop.
    bool ReadExact(size_t size, int limit_ms, std::vector<uint8_t>* out = nullptr);
    //! Writes all of `bytes` (one TLS record per call); false on failure.
    bool Write(const std::vector<uint8_t>& bytes);
    //! Writes `bytes` one at a time, `gap_ms` apart; false when a write fails or the peer stops.
    bool Trickle(const std::vector<uint8_t>& bytes, int gap_ms);
    //! Sleeps `ms` unless the peer stops first; false when it stopped.
    bool Sleep(int ms);
    //! True once the peer is being destroyed.
    bool Stopping() const { return stop_.load(); }

private:
    UniqueFd fd_;
    SslPtr ssl_;
    const std::atomic<bool>& stop_;
};

class ScriptedPeer {
public:
    using Script = std::function<void(PeerConnection&)>;

    //! Listens on 127.0.0.1 and runs `script` for each connection, one at a time, on its own
    //! thread. With `tls` (owned from here on) each connection is a TLS server side.
    explicit ScriptedPeer(Script script, SslCtxPtr tls = nullptr);
    //! Stops the script at its next wait and joins the thread.
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    //! The listening port; 0 when listening failed.
    uint16_t Port() const { return port_; }
    //! Connections accepted so far. Any thread.
    int Connections() const { return connections_.load(); }

private:
    void Serve();

    Script script_;
    SslCtxPtr tls_;
    UniqueFd listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

//! A TLS server context with `cert`/`key`, limited to protocol versions `min_version` ..
//! `max_version` (0 = no limit) and the TLS 1.2 suites `ciphers` (empty = library default);
//! null when something did not load.
SslCtxPtr MakeServerContext(const std::string& cert, const std::string& key, int min_version = 0,
                            int max_version = 0, const std::string& ciphers = "");

}  // namespace test
}  // namespace krell
