#include "DeviceBenchCore/parsers/double_parser.h"

#include <QString>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "DeviceBenchCore/table/number_text.h"

std::vector<uint8_t> DoubleParser::Parse(const std::string& text, float coefficient) {
    const std::string illegal = "DoubleParser: contains an illegal number, error:" + text;
    // Checked as a double, so values beyond the float range stay writable.
    bool ok = false;
    QString::fromStdString(text).toDouble(&ok);
    if (!ok && !IsNumber(text)) throw std::invalid_argument(illegal);
    double value = 0.0;
    try {
        value = number_text::Stod(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(std::string("DoubleParser: stod() failed, error:") + e.what());
    } catch (const std::out_of_range& e) {
        throw std::invalid_argument(std::string("DoubleParser: stod() out of range, error:") +
                                    e.what());
    }
    const double v = value / static_cast<double>(coefficient);
    if (!std::isfinite(v)) throw std::invalid_argument(illegal);
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof(bits));
    return BigEndian(bits, 8);
}
