#include "DeviceBenchCore/parsers/int_parser.h"

#include <cmath>
#include <stdexcept>

#include "DeviceBenchCore/table/number_text.h"

std::vector<uint8_t> IntParser::Parse(const std::string& text, float coefficient) {
    if (parser_length != 1 && parser_length != 2 && parser_length != 4 && parser_length != 8) {
        throw std::invalid_argument("intParser: parser_length is not supported, error:" +
                                    std::to_string(parser_length));
    }
    const std::string illegal = "IntParser: contains an illegal number, error:" + text;
    if (!IsNumber(text)) throw std::invalid_argument(illegal);
    const int bits = 8 * parser_length;
    const uint64_t max_magnitude = (uint64_t{1} << (bits - 1)) - 1;  // most negative is one more
    bool negative = false;
    uint64_t magnitude = 0;
    if (coefficient == 1.0f && ExactInteger(text, negative, magnitude)) {
        if (magnitude > max_magnitude + (negative ? 1 : 0)) throw std::invalid_argument(illegal);
        const uint64_t value = negative ? (~magnitude + 1) : magnitude;
        return BigEndian(value, parser_length);
    }
    float value = 0.0f;
    try {
        value = number_text::Stof(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string("IntParser: stof() failed, error:") + e.what());
    }
    const double given = SnapScaled(value / coefficient);
    // Both bounds hold for the value as given, before truncation: 127.5 is no int8. They are
    // compared as long double so that 2^31 - 1 and 2^63 - 1 are not rounded up to a value that
    // would wrap to the most negative one when written.
    const long double low = -std::ldexp(1.0L, bits - 1);
    const long double high = static_cast<long double>(max_magnitude);
    const long double v = given;
    if (!(v >= low && v <= high && v < -low))
        throw std::invalid_argument(illegal);  // NaN fails too
    return BigEndian(static_cast<uint64_t>(static_cast<int64_t>(std::trunc(given))), parser_length);
}
