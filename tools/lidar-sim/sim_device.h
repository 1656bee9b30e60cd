#pragma once
// SimDevice: the command side of the virtual sensor, independent of the transport.
//
// Every CMX request is answered by the handler registered for its command code; a command
// without a handler goes to the default handler, which stores a non-empty request payload under
// the command code and answers every request with the bytes stored for that code ("store and
// return"). The built-in handlers (probes 0x07/0x08, field of view 0x22/0x23) are registered by
// RegisterBuiltinHandlers (builtin_handlers.h).
//
// Adding handlers: write a function or object with the CommandHandler signature in a file of
// its own (for example table_responder.cpp), and register it on the device:
//   device->SetHandler(0x31, [store = device.get()](const SimRequest& request) {
//     SimReply reply;
//     reply.payload = store->Stored(0x31);
//     return reply;
//   });
// A handler runs on the connection thread of the request, without any device lock held; use
// Store/Stored (thread-safe) for state shared between commands. A reply may ask the transport to
// close the connection afterwards (restart, reset). Fault switches (delays, garbage, wrong
// command, ...) are not the handlers' business: the server applies them to whatever a handler
// returned (sim_faults.h).

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <vector>

namespace krell {
namespace lidar {
namespace sim {

//! One decoded request frame.
struct SimRequest {
    uint8_t version = 1;  // 1 = CMX 1.0, 2 = CMX 2.0
    uint8_t cmd = 0;
    std::vector<uint8_t> payload;
};

//! What a handler answers; the server frames it in the request's version.
struct SimReply {
    uint8_t ret_code = 0;
    std::vector<uint8_t> payload;
    //! When set, sent instead of `payload`: a large stored reply (a log of several MiB) goes out
    //! from where it is kept, without a copy per request.
    std::shared_ptr<const std::vector<uint8_t>> shared_payload;
    bool send = true;                // false: answer nothing (and close when asked below)
    bool close_after_reply = false;  // drop the connection once the reply is out
    bool wrong_command = false;      // answer with another command code (a damaged reply)
};

using CommandHandler = std::function<SimReply(const SimRequest&)>;

class SimDevice {
public:
    //! A device with only the default store-and-return handler.
    SimDevice();

    //! Registers (or replaces) the handler of `cmd`. Any thread.
    void SetHandler(uint8_t cmd, CommandHandler handler);
    //! Removes the handler of `cmd`; the default handler answers it again. Any thread.
    void RemoveHandler(uint8_t cmd);
    //! The handler registered for `cmd`, or an empty function when none is. Any thread.
    CommandHandler HandlerFor(uint8_t cmd) const;
    //! Replaces the handler used for commands without one of their own. Any thread.
    void SetDefaultHandler(CommandHandler handler);
    //! Answers one request with the registered or default handler. Any thread.
    SimReply Handle(const SimRequest& request);

    //! Stores `bytes` under `key` (a command code, or any key a handler chooses). Any thread.
    void Store(uint32_t key, std::vector<uint8_t> bytes);
    //! The bytes stored under `key`; empty when none. Any thread.
    std::vector<uint8_t> Stored(uint32_t key) const;

    //! The default handler's behaviour, usable from other handlers.
    SimReply StoreAndReturn(const SimRequest& request);

private:
    mutable std::mutex mutex_;  // guards handlers_, default_handler_ and store_
    std::map<uint8_t, CommandHandler> handlers_;
    CommandHandler default_handler_;
    std::map<uint32_t, std::vector<uint8_t>> store_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
