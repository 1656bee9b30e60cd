#pragma once
// MinkaInfoDecoder: the information fields that a Minka sensor carries in its point-cloud
// packets. An 80-byte packet with protocol 01 08 names an information variable with the id at
// byte 71 and carries its value from byte 72. Sorts every packet a point source hands out into
// information packets, other point packets and malformed ones (wrong header or a length that
// does not match its kind), and turns a value into the text the information page shows.
// Stateless; any thread.

#include <cstddef>
#include <cstdint>
#include <string>

struct VarInfo;

class MinkaInfoDecoder {
public:
    static constexpr size_t kInfoPacketBytes = 80;
    static constexpr size_t kLongPacketBytes = 132;
    static constexpr size_t kShortPacketBytes = 34;
    static constexpr size_t kIdAt = 71;
    static constexpr size_t kValueAt = 72;
    //! The id the serial CMX Minka leaves out: its serial number comes from a query instead.
    static constexpr int kSerialNumberId = 10;

    enum class Kind {
        kInfo,       // 80 bytes, EE FF 01 08: carries one information field
        kPoints,     // a well-formed point packet without information (01 0C, or a short packet)
        kMalformed,  // not a sensor packet, or its length does not match its kind
    };

    static Kind Classify(const uint8_t* data, size_t size);

    //! The new text of `var` from the value bytes of an information packet (`value` points at
    //! byte 72; 8 bytes). `current` is the variable's text so far (the serial number is put
    //! together one character per packet). Types "string": two characters, byte 73 then 72;
    //! "float32"/"double": the little-endian u32 times the coefficient with two decimals;
    //! any other: that product as a whole number.
    static std::string ValueText(const VarInfo& var, const uint8_t* value,
                                 const std::string& current);
};
