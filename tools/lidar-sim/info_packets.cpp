#include "tools/lidar-sim/info_packets.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/table/var_info.h"
#include "tools/lidar-sim/point_stream.h"
#include "tools/lidar-sim/table_responder.h"

namespace krell {
namespace lidar {
namespace sim {
namespace info_packet {
namespace {

std::vector<uint8_t> Blank(const VarInfo& var, uint32_t sequence) {
    // An ordinary 80-byte point packet carries the information fields at its end.
    std::vector<uint8_t> packet = PointStream::Packet(sequence * 4);
    packet[kIdOffset] = static_cast<uint8_t>(var.index);
    std::memset(packet.data() + kValueOffset, 0, kBytes - kValueOffset);
    return packet;
}

uint32_t RawNumber(const VarInfo& var, const std::string& text) {
    const double value = std::strtod(text.c_str(), nullptr);
    const double coefficient = var.coefficient == 0.0f ? 1.0 : var.coefficient;
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround(value / coefficient)));
}

std::string Text(const std::vector<uint8_t>& bytes) {
    std::string text(bytes.begin(), bytes.end());
    return text.substr(0, text.find('\0'));
}

}  // namespace

std::vector<std::vector<uint8_t>> ForVariable(const VarInfo& var,
                                              const std::vector<uint8_t>& value) {
    const std::string text = Text(value);
    std::vector<std::vector<uint8_t>> packets;
    if (var.var_name == "SN") {
        for (size_t i = 0; i < text.size() && i < 256; ++i) {
            packets.push_back(Blank(var, static_cast<uint32_t>(i)));
            packets.back()[kValueOffset] = static_cast<uint8_t>(i);
            packets.back()[kValueOffset + 1] = static_cast<uint8_t>(text[i]);
        }
        return packets;
    }
    packets.push_back(Blank(var, 0));
    uint8_t* field = packets.back().data() + kValueOffset;
    if (var.var_type == "string") {
        field[1] = text.empty() ? 0 : static_cast<uint8_t>(text[0]);
        field[0] = text.size() < 2 ? 0 : static_cast<uint8_t>(text[1]);
    } else {
        const uint32_t raw = RawNumber(var, text);
        std::memcpy(field, &raw, sizeof(raw));  // the sensor's (little-endian) order
    }
    return packets;
}

std::vector<std::vector<uint8_t>> Cycle(const TableResponder& table) {
    std::vector<std::vector<uint8_t>> packets;
    const auto& pages = table.Table().pages();
    if (pages.empty() || pages[0].empty()) return packets;
    for (const VarInfo* var : pages[0][0]) {
        // The responder holds an SN as its text bytes; the other values go out as the table
        // states them.
        const std::vector<uint8_t> value =
            var->var_name == "SN" ? table.ValueOf(var->var_id)
                                  : std::vector<uint8_t>(var->default_val.begin(),
                                                         var->default_val.end());
        for (auto& packet : ForVariable(*var, value)) packets.push_back(std::move(packet));
    }
    return packets;
}

}  // namespace info_packet
}  // namespace sim
}  // namespace lidar
}  // namespace krell
