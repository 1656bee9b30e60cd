#include "DeviceBenchCore/manager/link.h"

#include <cstdio>

std::shared_ptr<krell::lidar::CmxClient> Link::Cmx() const {
    std::lock_guard<std::mutex> lock(clients_mutex_);
    return cmx_;
}

void Link::SetCmx(std::shared_ptr<krell::lidar::CmxClient> client) {
    std::shared_ptr<krell::lidar::CmxClient> old;
    {
        std::lock_guard<std::mutex> lock(clients_mutex_);
        old.swap(cmx_);
        cmx_ = std::move(client);
        if (closed_ && cmx_) cmx_->Abort();
    }
    // `old` is released here, outside the lock: its destructor joins its connect thread.
}

std::shared_ptr<krell::lidar::SerialClient> Link::Serial() const {
    std::lock_guard<std::mutex> lock(clients_mutex_);
    return serial_;
}

std::shared_ptr<krell::lidar::SerialSource> Link::PointLine() const {
    std::lock_guard<std::mutex> lock(clients_mutex_);
    return rs485_;
}

void Link::SetSerial(std::shared_ptr<krell::lidar::SerialSource> rs485,
                     std::shared_ptr<krell::lidar::SerialSource> uart,
                     std::shared_ptr<krell::lidar::SerialClient> client) {
    std::shared_ptr<krell::lidar::SerialSource> old_rs485;
    std::shared_ptr<krell::lidar::SerialSource> old_uart;
    std::shared_ptr<krell::lidar::SerialClient> old_client;
    {
        std::lock_guard<std::mutex> lock(clients_mutex_);
        old_rs485.swap(rs485_);
        old_uart.swap(uart_);
        old_client.swap(serial_);
        rs485_ = std::move(rs485);
        uart_ = std::move(uart);
        serial_ = std::move(client);
        if (closed_ && rs485_) rs485_->AbortWaits();
    }
}

void Link::Abort() {
    std::shared_ptr<krell::lidar::CmxClient> cmx;
    std::shared_ptr<krell::lidar::SerialSource> rs485;
    {
        std::lock_guard<std::mutex> lock(clients_mutex_);
        cmx = cmx_;
        rs485 = rs485_;
    }
    if (cmx) cmx->Abort();
    if (rs485) rs485->AbortWaits();
}

void Link::CloseForGood() {
    {
        std::lock_guard<std::mutex> lock(clients_mutex_);
        closed_ = true;
    }
    Abort();
}

bool Link::ReadyForExchange() const {
    const std::shared_ptr<krell::lidar::CmxClient> client = Cmx();
    return client && client->IsOpen() && connected.load() && !upgrading.load() &&
           !downloading.load();
}

std::unique_lock<std::mutex> Link::HoldExchange() {
    return std::unique_lock<std::mutex>(exchange_mutex_);
}

void Link::AttachByteFlow(ByteFlow callback) {
    {
        std::lock_guard<std::mutex> lock(byte_flow_mutex_);
        byte_flow_ = callback;
    }
    if (const auto client = Cmx()) {
        client->SetByteFlowCallback(std::move(callback));
    } else if (const auto serial = Serial()) {
        serial->byte_flow_callback = std::move(callback);
    } else {
        std::printf("CmxClient haven't initialized\n");
    }
}

void Link::PauseByteFlow() {
    if (const auto client = Cmx()) client->SetByteFlowCallback(nullptr);
}

void Link::ResumeByteFlow() {
    ByteFlow callback;
    {
        std::lock_guard<std::mutex> lock(byte_flow_mutex_);
        callback = byte_flow_;
    }
    if (const auto client = Cmx()) client->SetByteFlowCallback(std::move(callback));
}

int Link::KindOfModel(const std::string& model) {
    if (model == "Minka") return kKindMinkaSerial;
    if (model == "Minka-CMX" || model == "Rusko-CMX") return kKindSerialCmx;
    return kKindTcp;
}
