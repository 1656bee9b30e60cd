#pragma once
// UpgradeFaults: the fault switches of the virtual sensor's firmware side. Frames are counted
// from 1 in the order they arrive; an unset switch is off.

#include <cstdint>
#include <optional>

namespace krell {
namespace lidar {
namespace sim {

struct UpgradeFaults {
    std::optional<uint32_t> refuse_frame;  //!< answer frame n with refuse_reply_type/refuse_status
    uint8_t refuse_reply_type = 7;          //!< OTA reply type of the refusal
    uint8_t refuse_status = 3;              //!< OTA status, or CMX return code, of the refusal
    std::optional<uint32_t> silent_after;  //!< frames after frame n get no answer at all
    std::optional<uint32_t> drop_after;    //!< the link closes once frame n is acknowledged
    std::optional<uint32_t> corrupt_ack;   //!< the acknowledgement of frame n is damaged
    bool boot_loader = false;               //!< answer the OTA state query as the boot loader

    //! Parses one upgrade option at argv[i] (advancing i past its values). False when argv[i] is
    //! not an upgrade option or a value is malformed.
    static bool ParseOption(int argc, char** argv, int& i, UpgradeFaults& faults);
    //! Usage lines of the upgrade options.
    static const char* Usage();
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
