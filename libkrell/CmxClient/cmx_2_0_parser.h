#pragma once
// Cmx_2_0_parser: CMX 2.0 frames, header 57 75 01 <cmd> <return code> 00 00 00 <u32 length>.

#include <array>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/general_cmx_parser.h"

namespace krell {
namespace lidar {

class Cmx_2_0_parser : public GeneralCmxParser {
public:
    static constexpr uint32_t kHeaderBytes = 12;

    Cmx_2_0_parser();

    //! Always true. Also records `cmd` and the payload size in the parser's request header.
    bool CmxRequestEncode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& frame,
                          uint8_t cmd) override;
    //! Per-command pass-through chosen by `cmd`; `offset` and `length` are ignored. Codes 1,3,5,7,9
    //! and unknown codes copy and print a success line; 2,4,6,8 accept only an empty input; 10
    //! accepts only an empty input with `extra` 0, otherwise appends `extra`.
    bool CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                         int32_t offset, int32_t length, std::vector<uint8_t>& output) override;
    uint8_t GetHeaderIdentifier0() override { return kCmx2Id0; }
    uint8_t GetHeaderIdentifier1() override { return kCmx2Id1; }
    uint32_t GetHeaderSize() override { return kHeaderBytes; }
    uint8_t GetReturnCode() override { return header_[4]; }
    uint8_t GetCmd() override { return header_[3]; }
    uint32_t GetPayloadLen() override { return GetU32Be(&header_[8]); }

private:
    std::array<uint8_t, kHeaderBytes> header_;
};

}  // namespace lidar
}  // namespace krell
