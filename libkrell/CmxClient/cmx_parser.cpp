#include "libkrell/CmxClient/cmx_parser.h"

#include "libkrell/CmxClient/cmx_1_0_parser.h"
#include "libkrell/CmxClient/cmx_2_0_parser.h"

namespace krell {
namespace lidar {

CmxParser::CmxParser(uint8_t version) : version_(version) {
    if (version == 1) {
        parser_ = std::make_unique<Cmx_1_0_parser>();
    } else if (version == 2) {
        parser_ = std::make_unique<Cmx_2_0_parser>();
    }
}

bool CmxParser::CmxRequestEncode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& frame,
                                 uint8_t cmd) {
    return parser_ && parser_->CmxRequestEncode(payload, frame, cmd);
}

bool CmxParser::CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                                int32_t offset, int32_t length, std::vector<uint8_t>& output) {
    return parser_ && parser_->CmxStreamDecode(cmd, extra, input, offset, length, output);
}

bool CmxParser::CmxFilestreamSend(const std::vector<uint8_t>& file, uint8_t cmd,
                                  std::vector<std::vector<uint8_t>>& frames) {
    return parser_ && parser_->CmxFilestreamSend(file, cmd, frames);
}

bool CmxParser::CmxFilestreamFrame(const std::vector<uint8_t>& file, uint8_t cmd, size_t number,
                                   std::vector<uint8_t>& frame) {
    return parser_ && parser_->CmxFilestreamFrame(file, cmd, number, frame);
}

}  // namespace lidar
}  // namespace krell
