#pragma once
// Cmx_1_0_parser: CMX 1.0 frames, header 47 74 <cmd> <return code> <u32 length>.

#include <array>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/general_cmx_parser.h"

namespace krell {
namespace lidar {

class Cmx_1_0_parser : public GeneralCmxParser {
public:
    static constexpr uint32_t kHeaderBytes = 8;

    Cmx_1_0_parser();

    //! Always true. Also records `cmd` and the payload size in the parser's request header.
    bool CmxRequestEncode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& frame,
                          uint8_t cmd) override;
    //! `output` := `length` bytes of `input` from `offset`. False (output untouched) when the range
    //! is negative or reaches past the end of `input`. `cmd` and `extra` are ignored.
    bool CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                         int32_t offset, int32_t length, std::vector<uint8_t>& output) override;
    //! One frame per 1024-byte chunk (16-byte sub-header: 0, number from 1, total, chunk CRC).
    //! An empty file gives no frames. Returns false when a frame cannot be encoded.
    bool CmxFilestreamSend(const std::vector<uint8_t>& file, uint8_t cmd,
                           std::vector<std::vector<uint8_t>>& frames) override;
    bool CmxFilestreamFrame(const std::vector<uint8_t>& file, uint8_t cmd, size_t number,
                            std::vector<uint8_t>& frame) override;
    uint8_t GetHeaderIdentifier0() override { return kCmx1Id0; }
    uint8_t GetHeaderIdentifier1() override { return kCmx1Id1; }
    uint32_t GetHeaderSize() override { return kHeaderBytes; }
    uint8_t GetReturnCode() override { return header_[3]; }
    uint8_t GetCmd() override { return header_[2]; }
    uint32_t GetPayloadLen() override { return GetU32Be(&header_[4]); }

private:
    std::array<uint8_t, kHeaderBytes> header_;
};

}  // namespace lidar
}  // namespace krell
