#pragma once
// SimFaults: the fault switches of the virtual sensor. The server applies them to every reply
// (or only to the next one, with `once`), after the command handler has answered.

#include <cstdint>
#include <optional>

namespace krell {
namespace lidar {
namespace sim {

struct SimFaults {
    uint32_t reply_delay_ms = 0;          // wait this long before answering
    bool no_reply = false;                // read the request, answer nothing
    uint32_t garbage_bytes = 0;           // stray bytes written in front of the reply frame
    bool wrong_command = false;           // answer with another command code
    uint8_t return_code = 0;              // non-zero: answer with this return code
    uint32_t truncate_payload_bytes = 0;  // withhold this many trailing payload bytes (link stays)
    bool close_after_header = false;      // write the header, then drop the connection
    std::optional<uint32_t> announced_length;  // length field to send instead of the real one
    bool once = false;                         // clear all switches after the next reply

    //! True when no switch is set.
    bool None() const {
        return reply_delay_ms == 0 && !no_reply && garbage_bytes == 0 && !wrong_command &&
               return_code == 0 && truncate_payload_bytes == 0 && !close_after_header &&
               !announced_length;
    }
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
