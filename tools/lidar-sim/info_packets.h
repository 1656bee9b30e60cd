#pragma once
// The information packets a Minka sensor mixes into its point-cloud stream: 80 bytes with protocol
// 01 08, an information id at byte 71 and its value from byte 72. The ids and values come from the
// first section of the model's first page, the variables the information page shows.

#include <cstddef>
#include <cstdint>
#include <vector>

struct VarInfo;

namespace krell {
namespace lidar {
namespace sim {

class TableResponder;

namespace info_packet {

constexpr size_t kBytes = 80;
constexpr size_t kIdOffset = 71;
constexpr size_t kValueOffset = 72;

//! The packets of `var` holding `text`: a number (coefficient divided out) as a little-endian u32,
//! a "string" as its two characters (second at byte 72, first at 73), and "SN" one packet per
//! character (position at byte 72, the character at 73).
std::vector<std::vector<uint8_t>> ForVariable(const VarInfo& var, const std::vector<uint8_t>& text);

//! One full cycle of packets for the table's information variables, with their current values.
std::vector<std::vector<uint8_t>> Cycle(const TableResponder& table);

}  // namespace info_packet
}  // namespace sim
}  // namespace lidar
}  // namespace krell
