#pragma once
// GeneralCmxParser: the interface of the two CMX frame versions (1.0 with an 8-byte header,
// 2.0 with a 12-byte header). A version parser builds request frames, reports its header layout
// and cuts payloads and files; checking a received header is the client's job.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "libkrell/Frame/file_stream_frame.h"

namespace krell {
namespace lidar {

//! Size of one file-stream chunk (the last chunk of a file holds the rest).
constexpr size_t kFileStreamChunkBytes = FileStreamFrame::kChunkBytes;
//! Size of the sub-header (zero, frame number, frame total, chunk CRC) in front of each chunk.
constexpr size_t kFileStreamSubHeaderBytes = FileStreamFrame::kSubHeaderBytes;

class GeneralCmxParser {
public:
    virtual ~GeneralCmxParser() = default;

    //! Writes header + `payload` for command `cmd` into `frame` (resized). Returns false on failure.
    virtual bool CmxRequestEncode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& frame,
                                  uint8_t cmd) = 0;
    //! Takes bytes out of a response payload; the meaning of the arguments depends on the version.
    //! Returns false when the input does not hold what was asked for.
    virtual bool CmxStreamDecode(uint8_t cmd, uint8_t extra, const std::vector<uint8_t>& input,
                                 int32_t offset, int32_t length, std::vector<uint8_t>& output) = 0;
    //! Cuts `file` into numbered, checksummed request frames appended to `frames`. The base
    //! version produces nothing and returns true.
    virtual bool CmxFilestreamSend(const std::vector<uint8_t>& file, uint8_t cmd,
                                   std::vector<std::vector<uint8_t>>& frames);
    //! Frame `number` (from 1) of those CmxFilestreamSend cuts `file` into, written to `frame`, so
    //! that a sender can cut each frame just before it goes out. False when this version cuts no
    //! frames (the base version) or there is no such frame.
    virtual bool CmxFilestreamFrame(const std::vector<uint8_t>& file, uint8_t cmd, size_t number,
                                    std::vector<uint8_t>& frame);
    //! The two identifier bytes that open every frame of this version.
    virtual uint8_t GetHeaderIdentifier0() = 0;
    virtual uint8_t GetHeaderIdentifier1() = 0;
    //! Header size in bytes (8 or 12).
    virtual uint32_t GetHeaderSize() = 0;
    //! Fields of the parser's own request header (not of a received frame).
    virtual uint8_t GetReturnCode() = 0;
    virtual uint8_t GetCmd() = 0;
    virtual uint32_t GetPayloadLen() = 0;
};

//! Stores `value` big-endian at `dst[0..3]`.
void PutU32Be(uint8_t* dst, uint32_t value);
//! Reads a big-endian u32 from `src[0..3]`.
uint32_t GetU32Be(const uint8_t* src);

}  // namespace lidar
}  // namespace krell
