#include "tools/lidar-sim/sim_device.h"

namespace krell {
namespace lidar {
namespace sim {

SimDevice::SimDevice()
    : default_handler_([this](const SimRequest& request) { return StoreAndReturn(request); }) {}

void SimDevice::SetHandler(uint8_t cmd, CommandHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[cmd] = std::move(handler);
}

void SimDevice::RemoveHandler(uint8_t cmd) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_.erase(cmd);
}

CommandHandler SimDevice::HandlerFor(uint8_t cmd) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handlers_.find(cmd);
    return it != handlers_.end() ? it->second : CommandHandler();
}

void SimDevice::SetDefaultHandler(CommandHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    default_handler_ = std::move(handler);
}

SimReply SimDevice::Handle(const SimRequest& request) {
    CommandHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handlers_.find(request.cmd);
        handler = it != handlers_.end() ? it->second : default_handler_;
    }
    // Called without the lock so that handlers may use Store/Stored and register handlers.
    return handler ? handler(request) : SimReply{};
}

void SimDevice::Store(uint32_t key, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_[key] = std::move(bytes);
}

std::vector<uint8_t> SimDevice::Stored(uint32_t key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = store_.find(key);
    return it != store_.end() ? it->second : std::vector<uint8_t>{};
}

SimReply SimDevice::StoreAndReturn(const SimRequest& request) {
    if (!request.payload.empty()) {
        Store(request.cmd, request.payload);
    }
    SimReply reply;
    reply.payload = Stored(request.cmd);
    return reply;
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
