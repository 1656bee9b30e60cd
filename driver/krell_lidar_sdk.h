#pragma once
// KrellLidarSdk: the lidar driver that SDKSource wraps. It receives the sensor's point packets on
// a UDP port on its own thread and hands every datagram to a callback; decoding the packets into
// points is the viewer's work. start() and stop() may be called in any order, any number of times
// and from any thread; the destructor stops the driver.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scribe/logger.h"

namespace krell {
namespace lumora {

//! One decoded lidar point.
struct SDKPointInfo {
    double timestamp_us = 0;
    float x_m = 0, y_m = 0, z_m = 0;
    float distance_m = 0;
    float azimuth_deg = 0, elevation_deg = 0;
    uint16_t intensity = 0;
    uint16_t row = 0, col = 0;
    uint8_t confidence = 0;
};

//! Settings of the driver.
struct KrellLidarSdkParam {
    std::string host_address = "0.0.0.0";  // local address the point socket binds to
    uint16_t data_port = 2368;             // point packets (0: any free port)
    uint16_t command_port = 9347;          // the sensor's CMX command port
    std::string data_serial_device = "/dev/ttyUSB0";
    std::string command_serial_device = "/dev/ttyUSB1";
    uint32_t data_serial_baud = 3125000;
    uint32_t command_serial_baud = 115200;
    uint32_t aux_serial_baud = 9600;
    std::string pcap_path = "Your pcap file path";
    std::string dcf_path = "Your dcf file path";
    std::string region = "M3_REGION";
    std::string log_tag = "krell";
    std::string log_path = "./log.log";
    uint32_t max_packet_bytes = 5120;        // larger datagrams are cut to this size
    uint32_t receive_buffer_packets = 7680;  // socket receive buffer, in packets of max size
};

//! Owns one socket descriptor; closes it on destruction.
class SdkSocket {
public:
    SdkSocket() = default;
    explicit SdkSocket(int fd) : fd_(fd) {}
    ~SdkSocket() { reset(); }
    SdkSocket(const SdkSocket&) = delete;
    SdkSocket& operator=(const SdkSocket&) = delete;
    SdkSocket(SdkSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    SdkSocket& operator=(SdkSocket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

template <typename PointT>
class KrellLidarSdk {
public:
    using PointType = PointT;
    //! Called on the driver's thread with each datagram; must not call start() or stop().
    using PacketCallback = std::function<void(const uint8_t* data, size_t size)>;

    static constexpr int kPollIntervalMs = 100;

    KrellLidarSdk() = default;
    ~KrellLidarSdk() { stop(); }
    KrellLidarSdk(const KrellLidarSdk&) = delete;
    KrellLidarSdk& operator=(const KrellLidarSdk&) = delete;

    //! Replaces the settings; refused (false) while running.
    bool setParam(const KrellLidarSdkParam& param) {
        std::lock_guard<std::mutex> lock(control_mutex_);
        if (running_) return false;
        param_ = param;
        return true;
    }
    //! The settings in use. Not while another thread calls setParam.
    const KrellLidarSdkParam& param() const { return param_; }

    //! Sets the packet callback; refused (false) while running.
    bool setPacketCallback(PacketCallback callback) {
        std::lock_guard<std::mutex> lock(control_mutex_);
        if (running_) return false;
        callback_ = std::move(callback);
        return true;
    }

    //! Binds the point socket and starts receiving. True when running (also when it already was);
    //! false, with one log line, when the socket cannot be opened.
    bool start() {
        std::lock_guard<std::mutex> lock(control_mutex_);
        if (running_) return true;
        SdkSocket socket = openSocket();
        if (socket.get() < 0) return false;
        socket_ = std::move(socket);
        stopping_.store(false);
        stopped_ = false;
        running_ = true;
        receiver_ = std::thread([this] { receiveLoop(); });
        return true;
    }

    //! Stops receiving and closes the socket; logs "Krell Lidar SDK is stopping..." unless the
    //! driver was already stopped. Returns after the receive thread has ended.
    void stop() {
        std::lock_guard<std::mutex> lock(control_mutex_);
        if (stopped_) return;
        SLOG_INFO("Krell Lidar SDK is stopping...");
        stopping_.store(true);
        if (receiver_.joinable()) receiver_.join();
        socket_.reset();
        running_ = false;
        stopped_ = true;
    }

    //! True between a successful start() and stop(). Any thread.
    bool isRunning() const {
        std::lock_guard<std::mutex> lock(control_mutex_);
        return running_;
    }
    //! Local port of the point socket while running (useful when data_port is 0), else 0.
    uint16_t boundPort() const {
        std::lock_guard<std::mutex> lock(control_mutex_);
        return running_ ? bound_port_ : 0;
    }
    //! Datagrams received since construction. Any thread.
    uint64_t packetCount() const { return packets_.load(); }

private:
    SdkSocket openSocket() {
        SdkSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
        if (socket.get() < 0) {
            SLOG_ERROR("Krell Lidar SDK socket error:%s", std::strerror(errno));
            return socket;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(param_.data_port);
        if (::inet_pton(AF_INET, param_.host_address.c_str(), &address.sin_addr) != 1) {
            SLOG_ERROR("Krell Lidar SDK bad host address:%s", param_.host_address.c_str());
            return SdkSocket();
        }
        const int buffer_bytes = static_cast<int>(std::min<uint64_t>(
            uint64_t{param_.max_packet_bytes} * param_.receive_buffer_packets, INT32_MAX));
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &buffer_bytes, sizeof(buffer_bytes));
        if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
            0) {
            SLOG_ERROR("Krell Lidar SDK bind %s:%u error:%s", param_.host_address.c_str(),
                       static_cast<unsigned>(param_.data_port), std::strerror(errno));
            return SdkSocket();
        }
        socklen_t length = sizeof(address);
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
        bound_port_ = ntohs(address.sin_port);
        return socket;
    }

    void receiveLoop() {
        std::vector<uint8_t> packet(param_.max_packet_bytes > 0 ? param_.max_packet_bytes : 1);
        while (!stopping_.load()) {
            pollfd ready{socket_.get(), POLLIN, 0};
            if (::poll(&ready, 1, kPollIntervalMs) <= 0) continue;
            const ssize_t size = ::recv(socket_.get(), packet.data(), packet.size(), MSG_DONTWAIT);
            if (size < 0) continue;
            packets_.fetch_add(1);
            if (callback_) callback_(packet.data(), static_cast<size_t>(size));
        }
    }

    mutable std::mutex control_mutex_;  // guards everything below but the atomics
    KrellLidarSdkParam param_;
    PacketCallback callback_;
    SdkSocket socket_;
    std::thread receiver_;
    uint16_t bound_port_ = 0;
    bool running_ = false;
    bool stopped_ = false;  // stop() has run since the last start(); a fresh driver is not stopped
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> packets_{0};
};

}  // namespace lumora
}  // namespace krell
