#pragma once
// A UDP socket as a packet source: one datagram per Receive(), with the sender's address and port.
// Binds the sensor's point-cloud port (optionally on one local interface and in a multicast
// group) and keeps a very large receive buffer so bursts survive a busy reader.

#include <atomic>
#include <cstdint>
#include <string>

#include <netinet/in.h>

#include "libkrell/Source/source.h"

namespace krell {
namespace lidar {

class SocketSource : public Source {
public:
    //! Receive buffer asked for first; the kernel grants what it allows and Open() logs it.
    static constexpr int32_t kAskedBufferBytes = 400000000;
    //! Receive buffer set once the socket is bound.
    static constexpr int32_t kBufferBytes = 26214400;
    static constexpr int kReceiveTimeoutMs = 20;
    //! Receive() result for a datagram longer than the space given: it is dropped, not cut.
    static constexpr int32_t kTruncated = -2;

    //! Stores the settings; no socket until Open(). Empty `local_ip`: any interface. Empty
    //! `multicast_ip`: no group.
    SocketSource(uint16_t port, std::string local_ip, std::string multicast_ip);

    //! Closes the socket.
    ~SocketSource() override;

    //! Binds the port (on the group's address when a group is set, so that its datagrams match,
    //! otherwise on the local interface or any), non-blocking, and joins the group on the local
    //! interface. False when an option cannot be set or the bind fails.
    bool Open() override;

    //! Closes the socket; safe when closed.
    void Close() override;

    //! True while the socket is held; logs a warning when not.
    bool IsOpened() override;

    //! Sends one datagram to the peer of SetPeer(): the send result, -1 when closed or without a
    //! peer. A failed send closes the source.
    int32_t Send(const uint8_t* data, uint16_t len, int32_t flags) override;

    //! Reads one datagram of at most `len` bytes (and at most UdpPacket::kDataBytes). The first
    //! read that finds nothing returns -1 at once and arms a wait of `timeout_us` for the next
    //! call, which returns 0 with the packet's time-out flag set when nothing came (or when waits
    //! are aborted). A longer datagram returns kTruncated. Opens a closed source first.
    int32_t Receive(UdpPacket& packet, uint16_t len, int32_t flags, int32_t timeout_us) override;

    //! Sets SO_RCVBUF to `size_bytes` (the kernel may grant less).
    void SetSocketBufferSize(int32_t size_bytes) override;

    //! The address Send() goes to; false (peer unset) when `ip` is not dotted IPv4 text.
    bool SetPeer(const std::string& ip, uint16_t port);

    //! Ends a Receive wait at once, and every later one, so that a receiving loop notices its stop
    //! flag without sitting out its time-out. Any thread.
    void AbortWaits();

    //! Undoes AbortWaits. Owning thread only.
    void ResumeWaits();

    //! The bound port (the one the kernel chose for port 0); 0 when closed.
    uint16_t LocalPort() const;

    //! The socket, for callers that poll or measure it; -1 when closed.
    int Handle() const { return sock_; }

    //! Datagrams dropped as too long for the caller's space, since construction.
    uint64_t TruncatedCount() const { return truncated_; }

private:
    bool SetSocketOptions();
    bool BindSocket();
    void JoinGroup();
    int32_t ReadDatagram(UdpPacket& packet, uint16_t len, int32_t flags);

    const uint16_t port_;
    const std::string local_ip_;
    const std::string multicast_ip_;
    int sock_ = -1;
    bool select_mode_ = false;
    std::string peer_ip_;
    sockaddr_in peer_addr_{};
    int wake_fd_ = -1;  // eventfd, readable while waits are aborted
    std::atomic<bool> aborted_{false};
    uint64_t truncated_ = 0;
};

}  // namespace lidar
}  // namespace krell
