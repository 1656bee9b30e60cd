#pragma once
// CmxParser: owns the one version parser (CMX 1.0 or 2.0) that a client was made with.

#include <cstdint>
#include <memory>
#include <vector>

#include "libkrell/CmxClient/general_cmx_parser.h"

namespace krell {
namespace lidar {

class CmxParser {
public:
    //! Version 1 makes a 1.0 parser, 2 a 2.0 parser; any other value makes none, and every
    //! forwarded operation then returns false.
    explicit CmxParser(uint8_t version);
    virtual ~CmxParser() = default;

    //! Forward to the owned parser; false when there is none.
    bool CmxRequestEncode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& frame,
                          uint8_t cmd);
    bool CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                         int32_t offset, int32_t length, std::vector<uint8_t>& output);
    bool CmxFilestreamSend(const std::vector<uint8_t>& file, uint8_t cmd,
                           std::vector<std::vector<uint8_t>>& frames);
    bool CmxFilestreamFrame(const std::vector<uint8_t>& file, uint8_t cmd, size_t number,
                            std::vector<uint8_t>& frame);

    //! The owned version parser, or null. Owned by this holder.
    GeneralCmxParser* Get() const { return parser_.get(); }
    //! The version byte this holder was made with.
    uint8_t Version() const { return version_; }

private:
    std::unique_ptr<GeneralCmxParser> parser_;
    uint8_t version_;
};

}  // namespace lidar
}  // namespace krell
