#include "DeviceBenchCore/uint_parser.h"

#include <cmath>
#include <stdexcept>

#include "DeviceBenchCore/number_text.h"

std::vector<uint8_t> UintParser::Parse(const std::string& text, float coefficient) {
    if (parser_length != 1 && parser_length != 2 && parser_length != 4 && parser_length != 8) {
        throw std::invalid_argument("uintParser: parser_length is not supported, error:" +
                                    std::to_string(parser_length));
    }
    const std::string illegal = "UintParser: contains an illegal number, error:" + text;
    if (!IsNumber(text)) throw std::invalid_argument(illegal);
    float value = 0.0f;
    try {
        value = number_text::Stof(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string("UintParser: stof() failed, error:") + e.what());
    }
    const float v = value / coefficient;
    const float limit = std::ldexp(1.0f, 8 * parser_length);
    if (!(v >= 0.0f && v < limit)) throw std::invalid_argument(illegal);  // NaN fails too
    const double truncated = TruncateScaled(v);
    if (truncated >= static_cast<double>(limit)) throw std::invalid_argument(illegal);
    return BigEndian(static_cast<uint64_t>(truncated), parser_length);
}
