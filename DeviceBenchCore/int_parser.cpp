#include "DeviceBenchCore/int_parser.h"

#include <cmath>
#include <stdexcept>

#include "DeviceBenchCore/number_text.h"

std::vector<uint8_t> IntParser::Parse(const std::string& text, float coefficient) {
    if (parser_length != 1 && parser_length != 2 && parser_length != 4 && parser_length != 8) {
        throw std::invalid_argument("intParser: parser_length is not supported, error:" +
                                    std::to_string(parser_length));
    }
    const std::string illegal = "IntParser: contains an illegal number, error:" + text;
    if (!IsNumber(text)) throw std::invalid_argument(illegal);
    float value = 0.0f;
    try {
        value = number_text::Stof(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string("IntParser: stof() failed, error:") + e.what());
    }
    const float v = value / coefficient;
    // The upper bound is exclusive at 2^(8n-1): the largest signed value, 2^(8n-1) - 1, rounds up to
    // 2^(8n-1) as a float for 4 and 8 bytes and would wrap to the most negative value when written.
    const float limit = std::ldexp(1.0f, 8 * parser_length - 1);
    if (!(v >= -limit && v < limit)) throw std::invalid_argument(illegal);  // NaN fails too
    const double truncated = TruncateScaled(v);
    if (truncated >= static_cast<double>(limit)) throw std::invalid_argument(illegal);
    return BigEndian(static_cast<uint64_t>(static_cast<int64_t>(truncated)), parser_length);
}
