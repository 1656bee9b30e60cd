#include "libkrell/CmxClient/cmx_2_0_parser.h"

#include <cstdio>

namespace krell {
namespace lidar {
namespace {

void CopyUnlessSame(const std::vector<uint8_t>& input, std::vector<uint8_t>& output) {
    if (&input != &output) {
        output = input;
    }
}

void PrintSuccess() {
    std::printf("Cmx_2_0_parser::CmxStreamDecode success!\n");
}

}  // namespace

Cmx_2_0_parser::Cmx_2_0_parser()
    : header_{kCmx2Id0, kCmx2Id1, kCmx2ProtocolByte, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00,     0x00} {}

bool Cmx_2_0_parser::CmxRequestEncode(const std::vector<uint8_t>& payload,
                                      std::vector<uint8_t>& frame, uint8_t cmd) {
    header_[3] = cmd;
    header_[4] = 0x00;
    PutU32Be(&header_[8], static_cast<uint32_t>(payload.size()));
    frame.assign(header_.begin(), header_.end());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return true;
}

bool Cmx_2_0_parser::CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                                     int32_t, int32_t, std::vector<uint8_t>& output) {
    switch (cmd) {
        case 1:
        case 3:
        case 5:
        case 7:
        case 9:
            CopyUnlessSame(input, output);
            PrintSuccess();
            return true;
        case 2:
        case 4:
        case 6:
        case 8:
            if (input.empty()) {
                return true;
            }
            CopyUnlessSame(input, output);
            return false;
        case 10:
            if (input.empty() && extra == 0) {
                return true;
            }
            output.push_back(extra);
            return false;
        default:
            PrintSuccess();
            return true;
    }
}

}  // namespace lidar
}  // namespace krell
