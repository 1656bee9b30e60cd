#include "tools/lidar-sim/upgrade_faults.h"

#include <cstdlib>
#include <string>

namespace krell {
namespace lidar {
namespace sim {
namespace {

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed > max) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// "N" or "N:TYPE:STATUS".
bool ParseRefusal(const std::string& text, UpgradeFaults& faults) {
    const size_t first = text.find(':');
    uint32_t frame = 0;
    if (!ParseNumber(text.substr(0, first), UINT32_MAX, frame)) return false;
    faults.refuse_frame = frame;
    if (first == std::string::npos) return true;
    const size_t second = text.find(':', first + 1);
    uint32_t type = 0;
    uint32_t status = 0;
    if (second == std::string::npos ||
        !ParseNumber(text.substr(first + 1, second - first - 1), 0xFF, type) ||
        !ParseNumber(text.substr(second + 1), 0xFF, status)) {
        return false;
    }
    faults.refuse_reply_type = static_cast<uint8_t>(type);
    faults.refuse_status = static_cast<uint8_t>(status);
    return true;
}

}  // namespace

bool UpgradeFaults::ParseOption(int argc, char** argv, int& i, UpgradeFaults& faults) {
    const std::string arg = argv[i];
    if (arg == "--boot-loader") {
        faults.boot_loader = true;
        return true;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[i + 1];
    std::optional<uint32_t>* target = nullptr;
    if (arg == "--silent-after") target = &faults.silent_after;
    if (arg == "--drop-after") target = &faults.drop_after;
    if (arg == "--corrupt-ack") target = &faults.corrupt_ack;
    bool ok = false;
    if (arg == "--refuse-frame") {
        ok = ParseRefusal(value, faults);
    } else if (target != nullptr) {
        uint32_t frame = 0;
        ok = ParseNumber(value, UINT32_MAX, frame);
        if (ok) *target = frame;
    }
    if (ok) ++i;
    return ok;
}

const char* UpgradeFaults::Usage() {
    return "                 [--refuse-frame N[:TYPE:STATUS]] [--silent-after N] [--drop-after N]\n"
           "                 [--corrupt-ack N] [--boot-loader]\n"
           "Firmware frames count from 1: frame N is refused (OTA reply TYPE, status STATUS; default\n"
           "7:3; the CMX return code is STATUS), frames after N get no answer, the link drops once\n"
           "frame N is acknowledged, the acknowledgement of frame N is damaged. --boot-loader\n"
           "answers the OTA state query as the boot loader.\n";
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
