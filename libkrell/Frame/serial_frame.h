#pragma once
// The serial command frame: 7-byte ASCII tag, length byte, command code, payload, random word,
// CRC-32/MPEG-2 and the end mark 0xEE 0xFF. Requests carry "$LDCMD,", replies "$LDACK,".

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krell {
namespace lidar {

class SerialFrame {
public:
    static constexpr char kRequestTag[] = "$LDCMD,";
    static constexpr char kReplyTag[] = "$LDACK,";
    static constexpr size_t kTagBytes = 7;
    static constexpr size_t kRandomWordBytes = 4;
    static constexpr size_t kCrcBytes = 4;
    static constexpr size_t kEndMarkBytes = 2;
    //! The two mark bytes that end every frame; a point packet on the line begins with them.
    static constexpr uint8_t kMark0 = 0xEE;
    static constexpr uint8_t kMark1 = 0xFF;
    //! Tag, length, command, random word, CRC and end mark: the frame around an empty payload.
    static constexpr size_t kMinFrameBytes = 19;

    //! How a frame is laid out around its payload.
    struct Layout {
        bool random_word = true;     //!< a 4-byte random word follows the payload
        bool crc_msb_first = false;  //!< CRC stored most significant byte first
        //! Length byte = (payload bytes + length_bias) mod 256: 1 for requests, 0 for replies, so that
        //! a reply's length byte + 2 is the length of its body.
        uint8_t length_bias = 1;
    };

    //! Builds a frame with the 7-character `tag`; a fresh random word when the layout has one.
    static std::vector<uint8_t> Encode(const char* tag, uint8_t cmd, const uint8_t* payload,
                                       size_t size, const Layout& layout);

    //! A "$LDCMD," request with random word and CRC stored least significant byte first.
    static std::vector<uint8_t> EncodeRequest(uint8_t cmd, const std::vector<uint8_t>& payload);

    //! Reply rule: at least 19 bytes, ends with 0xEE 0xFF, CRC matches, length byte + 2 equals the
    //! body length (modulo 256: the byte cannot count longer bodies). On success `body` (if not null)
    //! gets the bytes from the length byte up to the random word. The tag is not checked.
    static bool CheckReply(const uint8_t* frame, size_t size, std::vector<uint8_t>* body,
                           bool crc_msb_first = false);

    //! Checks a frame with random word under `layout`, including its `tag` (null: any tag).
    static bool Check(const uint8_t* frame, size_t size, const char* tag, const Layout& layout,
                      std::vector<uint8_t>* body);

    //! CRC-32/MPEG-2 of `size` bytes followed by zero bytes up to a multiple of 4.
    static uint32_t PaddedCrc(const uint8_t* data, size_t size);

    //! 32 bits drawn from the system's non-deterministic source for each call (unpredictable per
    //! frame); the source is opened once per thread.
    static uint32_t RandomWord();
};

}  // namespace lidar
}  // namespace krell
