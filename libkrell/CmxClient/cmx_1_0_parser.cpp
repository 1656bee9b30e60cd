#include "libkrell/CmxClient/cmx_1_0_parser.h"

#include <cstdio>
#include <utility>

#include "libkrell/Frame/file_stream_frame.h"

namespace krell {
namespace lidar {

Cmx_1_0_parser::Cmx_1_0_parser()
    : header_{kCmx1Id0, kCmx1Id1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00} {}

bool Cmx_1_0_parser::CmxRequestEncode(const std::vector<uint8_t>& payload,
                                      std::vector<uint8_t>& frame, uint8_t cmd) {
    header_[2] = cmd;
    header_[3] = 0x00;
    PutU32Be(&header_[4], static_cast<uint32_t>(payload.size()));
    frame.assign(header_.begin(), header_.end());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return true;
}

bool Cmx_1_0_parser::CmxStreamDecode(uint8_t, uint8_t, const std::vector<uint8_t>& input,
                                     int32_t offset, int32_t length, std::vector<uint8_t>& output) {
    // A negative offset or length would address memory before the input; the sum is taken in
    // 64 bits so that two large values cannot wrap around into range.
    if (offset < 0 || length < 0) {
        return false;
    }
    if (static_cast<int64_t>(input.size()) < static_cast<int64_t>(offset) + length) {
        return false;
    }
    output.assign(input.begin() + offset, input.begin() + offset + length);
    return true;
}

bool Cmx_1_0_parser::CmxFilestreamSend(const std::vector<uint8_t>& file, uint8_t cmd,
                                       std::vector<std::vector<uint8_t>>& frames) {
    if (file.empty()) {
        return true;
    }
    const size_t total = FileStreamFrame::FrameCount(file.size());
    for (size_t k = 1; k <= total; ++k) {
        std::vector<uint8_t> frame;
        if (!CmxFilestreamFrame(file, cmd, k, frame)) {
            std::printf("GeneralCmxParser::CmxFilestreamSend pack frame failed!\n");
            return false;
        }
        frames.push_back(std::move(frame));
    }
    return true;
}

bool Cmx_1_0_parser::CmxFilestreamFrame(const std::vector<uint8_t>& file, uint8_t cmd,
                                        size_t number, std::vector<uint8_t>& frame) {
    const std::vector<uint8_t> payload = FileStreamFrame::Payload(file, number);
    return !payload.empty() && CmxRequestEncode(payload, frame, cmd);
}

}  // namespace lidar
}  // namespace krell
