#pragma once
// The OTA firmware frame: "$LDOTA,", frame type, frame total, frame index and data length (u32
// big-endian each), the data, a CRC-32/MPEG-2 over type..data padded with zeros to a multiple of
// 4 (stored most significant byte first) and the end mark 0xEE 0xFF. The sensor answers each with
// a "$LDACK," reply whose CRC is stored most significant byte first; body byte 1 is the reply
// type and the last body byte the status.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krell {
namespace lidar {

class OtaFrame {
public:
    static constexpr char kTag[] = "$LDOTA,";
    static constexpr size_t kTagBytes = 7;
    static constexpr size_t kHeaderBytes = kTagBytes + 16;
    static constexpr size_t kTrailerBytes = 6;  // CRC and end mark
    static constexpr size_t kDataBytes = 1024;  // data bytes of every frame but the last

    // Frame types.
    static constexpr uint32_t kTypeStateQuery = 5;
    static constexpr uint32_t kTypeApp = 4;  // application and FPGA image
    static constexpr uint32_t kTypePbl = 2;  // boot-loader image
    static constexpr uint8_t kStateQueryFill = 0xFF;

    // Reply types.
    static constexpr uint8_t kReplyAck = 5;
    static constexpr uint8_t kReplyReady = 0x55;

    //! The decoded fields of a frame.
    struct Fields {
        uint32_t type = 0;
        uint32_t total = 0;
        uint32_t index = 0;
        std::vector<uint8_t> data;
    };

    //! What a reply says about a frame.
    struct Reply {
        uint8_t type = 0;
        uint8_t status = 0;
    };

    //! Number of frames an image of `image_bytes` is cut into (0 for an empty image).
    static size_t FrameCount(size_t image_bytes);

    //! The frame carrying `size` bytes at `data`.
    static std::vector<uint8_t> Encode(uint32_t type, uint32_t total, uint32_t index,
                                       const uint8_t* data, size_t size);

    //! The state-query frame (type 5, one frame of 1024 bytes of 0xFF).
    static std::vector<uint8_t> StateQuery();

    //! Checks tag, declared length, CRC and end mark; false leaves `fields` unspecified.
    static bool Decode(const uint8_t* frame, size_t size, Fields& fields);

    //! Checks a reply (serial reply rule, CRC most significant byte first) and reads its type and
    //! status. False for an invalid reply or a body too short to carry both.
    static bool ParseReply(const uint8_t* frame, size_t size, Reply& reply);

    //! The reply a sensor sends: body [length, `reply_type`, `frame_type`, `status`].
    static std::vector<uint8_t> EncodeReply(uint8_t reply_type, uint8_t frame_type,
                                            uint8_t status);
};

}  // namespace lidar
}  // namespace krell
