#include "DeviceBenchCore/manager/device_session.h"

namespace {

constexpr size_t kFovChannels = 5;
constexpr float kFovFullCircleDeg = 360.0f;

}  // namespace

krell::lidar::FovTable DeviceSession::DefaultFov() {
    krell::lidar::FovTable fov{};
    for (size_t i = 0; i < kFovChannels; ++i) {
        fov[i] = 0.0f;
        fov[i + kFovChannels] = kFovFullCircleDeg;
    }
    return fov;
}

std::shared_ptr<krell::lidar::CmxClient> DeviceSession::Cmx() const {
    std::lock_guard<std::mutex> lock(client_mutex_);
    return cmx_;
}

void DeviceSession::SetCmx(std::shared_ptr<krell::lidar::CmxClient> client) {
    std::shared_ptr<krell::lidar::CmxClient> old;
    {
        std::lock_guard<std::mutex> lock(client_mutex_);
        old.swap(cmx_);
        cmx_ = std::move(client);
        if (closed_ && cmx_) cmx_->Abort();
    }
    // `old` is released here, outside the lock: its destructor joins its connect thread.
}

std::shared_ptr<krell::lidar::SerialClient> DeviceSession::Serial() const {
    std::lock_guard<std::mutex> lock(client_mutex_);
    return serial_;
}

void DeviceSession::SetSerial(std::shared_ptr<krell::lidar::SerialSource> rs485,
                              std::shared_ptr<krell::lidar::SerialSource> uart,
                              std::shared_ptr<krell::lidar::SerialClient> client) {
    std::shared_ptr<krell::lidar::SerialSource> old_rs485;
    std::shared_ptr<krell::lidar::SerialSource> old_uart;
    std::shared_ptr<krell::lidar::SerialClient> old_client;
    {
        std::lock_guard<std::mutex> lock(client_mutex_);
        old_rs485.swap(rs485_);
        old_uart.swap(uart_);
        old_client.swap(serial_);
        rs485_ = std::move(rs485);
        uart_ = std::move(uart);
        serial_ = std::move(client);
    }
}

void DeviceSession::AbortLink() {
    std::shared_ptr<krell::lidar::CmxClient> cmx;
    std::shared_ptr<krell::lidar::SerialSource> rs485;
    {
        std::lock_guard<std::mutex> lock(client_mutex_);
        cmx = cmx_;
        rs485 = rs485_;
    }
    if (cmx) cmx->Abort();
    if (rs485) rs485->AbortWaits();
}

void DeviceSession::CloseForGood() {
    {
        std::lock_guard<std::mutex> lock(client_mutex_);
        closed_ = true;
    }
    AbortLink();
}

bool DeviceSession::ReadyForExchange() const {
    {
        std::lock_guard<std::mutex> lock(data_mutex);
        if (table == nullptr) return false;
    }
    const std::shared_ptr<krell::lidar::CmxClient> client = Cmx();
    return client && client->IsOpen() && connected.load() && !upgrading.load() &&
           !downloading.load();
}
