#include "DeviceBenchCore/parsers/float_parser.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "DeviceBenchCore/table/number_text.h"

std::vector<uint8_t> FloatParser::Parse(const std::string& text, float coefficient) {
    const std::string illegal = "FloatParser: contains an illegal number, error:" + text;
    if (!IsNumber(text)) throw std::invalid_argument(illegal);
    float value = 0.0f;
    try {
        value = number_text::Stof(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string("FloatParser: stof() failed, error:") + e.what());
    } catch (const std::out_of_range& e) {
        throw std::invalid_argument(std::string("FloatParser: stof() out of range, error:") +
                                    e.what());
    }
    const float v = value / coefficient;
    // "nan", "inf" or a zero set coefficient would send a value no sensor setting can hold.
    if (!std::isfinite(v)) throw std::invalid_argument(illegal);
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof(bits));
    return BigEndian(bits, 4);
}
