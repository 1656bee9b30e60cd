#pragma once
// StrParser: turns a variable's display text into the bytes of its place in a set command.
//
// One class per family of VarType names; MakeStrParser (make_str_parser.h) picks it. Multi-byte values are written most
// significant byte first. A parser holds no state beyond `parser_length`; the caller owns it and
// uses it once. Parse reports failure by throwing std::invalid_argument (or std::out_of_range for
// a number too large for a float) with a message that names the parser; nothing is half-written.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class StrParser {
public:
    explicit StrParser(int parser_length = 1) : parser_length(parser_length) {}
    virtual ~StrParser() = default;

    //! Bytes for `text` (the variable's current value); `coefficient` is its set coefficient and is
    //! divided out of numeric values. Throws as described above.
    virtual std::vector<uint8_t> Parse(const std::string& text, float coefficient) = 0;

    int parser_length;  // bytes written by the integer parsers: 1, 2, 4 or 8

protected:
    //! True when the text is a number to the toolkit's locale-independent conversions.
    static bool IsNumber(const std::string& text);
    //! `v` as given, except that a value within a few float steps of an integer is taken as that
    //! integer: 0.5 / 0.1f is 4.9999998 and means 5, while 127.5 stays 127.5 (and is out of range
    //! for int8 before it is ever truncated).
    static double SnapScaled(float v);
    //! True when `text` is a plain decimal integer (blanks around it, one sign allowed) that fits 64
    //! bits: its sign and magnitude, exactly. Such values skip the float conversion so that
    //! integers above 2^24 reach the device unchanged.
    static bool ExactInteger(const std::string& text, bool& negative, uint64_t& magnitude);
    //! `value` as `length` bytes, most significant first.
    static std::vector<uint8_t> BigEndian(uint64_t value, int length);
    //! `text` split at `separator` (empty pieces dropped) into exactly `count` numbers in `base`,
    //! each 0..255, as bytes in text order. Throws std::invalid_argument(`wrong_format`) for another
    //! number of pieces and std::invalid_argument(`illegal_number`) for a bad piece.
    static std::vector<uint8_t> ByteGroups(const std::string& text, char separator, int count,
                                           int base, const char* wrong_format,
                                           const char* illegal_number);
};
