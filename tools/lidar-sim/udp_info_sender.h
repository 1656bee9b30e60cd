#pragma once
// UdpInfoSender: the virtual sensor's UDP side. A thread sends the model's information packets
// (info_packets.h) round and round to one destination: a loopback address, or a multicast group
// reached through the loopback interface with TTL 0, so nothing leaves this machine.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace krell {
namespace lidar {
namespace sim {

struct UdpInfoOptions {
    std::string ip;  //!< 127.0.0.0/8 or a multicast group; empty: no UDP side
    uint16_t port = 2368;
    uint32_t packets_per_second = 200;
};

class UdpInfoSender {
public:
    UdpInfoSender() = default;
    ~UdpInfoSender();
    UdpInfoSender(const UdpInfoSender&) = delete;
    UdpInfoSender& operator=(const UdpInfoSender&) = delete;

    //! Parses --udp IP:PORT, --udp-multicast GROUP:PORT or --udp-rate N at argv[i] (advancing `i`
    //! past a value); false when argv[i] is none of them or its value is malformed.
    static bool ParseOption(int argc, char** argv, int& i, UdpInfoOptions& options);
    //! Usage lines of the UDP options.
    static const char* Usage();

    //! Starts sending `packets` in turn. False (with LastError) for an address outside loopback
    //! and multicast, an empty cycle, or a socket that cannot be set up.
    bool Start(const UdpInfoOptions& options, std::vector<std::vector<uint8_t>> packets);
    //! Ends the thread; returns within a pause of at most 100 ms. Safe when not started.
    void Stop();

    //! Datagrams sent so far. Any thread.
    uint64_t SentCount() const { return sent_.load(); }
    //! The local port the packets come from (0 before Start).
    uint16_t SourcePort() const { return source_port_; }
    const std::string& LastError() const { return error_; }

private:
    bool OpenSocket(const UdpInfoOptions& options);
    void Run(uint32_t packets_per_second);

    int fd_ = -1;
    std::vector<uint8_t> destination_;  // a sockaddr_in, kept as bytes to keep the header light
    std::vector<std::vector<uint8_t>> packets_;
    uint16_t source_port_ = 0;
    std::string error_;
    std::mutex mutex_;  // guards stop_ for the condition variable
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<uint64_t> sent_{0};
    std::thread thread_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
