#include "DeviceBenchCore/parsers/uint_parser.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "DeviceBenchCore/table/number_text.h"

std::vector<uint8_t> UintParser::Parse(const std::string& text, float coefficient) {
    if (parser_length != 1 && parser_length != 2 && parser_length != 4 && parser_length != 8) {
        throw std::invalid_argument("uintParser: parser_length is not supported, error:" +
                                    std::to_string(parser_length));
    }
    const std::string illegal = "UintParser: contains an illegal number, error:" + text;
    if (!IsNumber(text)) throw std::invalid_argument(illegal);
    const uint64_t max_value = parser_length == 8 ? std::numeric_limits<uint64_t>::max()
                                                  : (uint64_t{1} << (8 * parser_length)) - 1;
    bool negative = false;
    uint64_t magnitude = 0;
    if (coefficient == 1.0f && ExactInteger(text, negative, magnitude)) {
        if ((negative && magnitude != 0) || magnitude > max_value) {
            throw std::invalid_argument(illegal);
        }
        return BigEndian(magnitude, parser_length);
    }
    float value = 0.0f;
    try {
        value = number_text::Stof(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string("UintParser: stof() failed, error:") + e.what());
    }
    // The upper bound holds for the value as given (255.5 is no uint8); see IntParser.
    const double given = SnapScaled(value / coefficient);
    const long double v = given;
    if (!(v >= 0.0L && v <= static_cast<long double>(max_value) &&
          v < std::ldexp(1.0L, 8 * parser_length))) {
        throw std::invalid_argument(illegal);  // NaN fails too
    }
    return BigEndian(static_cast<uint64_t>(std::trunc(given)), parser_length);
}
