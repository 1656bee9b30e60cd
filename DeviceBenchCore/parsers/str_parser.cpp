#include "DeviceBenchCore/parsers/str_parser.h"

#include <QString>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace {

// How many float steps a scaled value may lie below or above an integer and still be that integer:
// dividing by a coefficient such as 0.1f or 0.01f is off by one or two steps.
constexpr float kSnapSteps = 4.0f;

}  // namespace

bool StrParser::IsNumber(const std::string& text) {
    const QString qtext = QString::fromStdString(text);
    bool ok = false;
    qtext.toFloat(&ok);
    if (!ok) qtext.toInt(&ok, 10);
    return ok;
}

double StrParser::SnapScaled(float v) {
    const float nearest = std::nearbyint(v);
    const float step = std::fabs(std::nextafter(v, 2.0f * v + 1.0f) - v);
    if (std::fabs(v - nearest) <= kSnapSteps * step) return nearest;
    return v;
}

bool StrParser::ExactInteger(const std::string& text, bool& negative, uint64_t& magnitude) {
    size_t begin = text.find_first_not_of(" \t\r\n\f\v");
    const size_t last = text.find_last_not_of(" \t\r\n\f\v");
    if (begin == std::string::npos) return false;
    negative = false;
    if (text[begin] == '+' || text[begin] == '-') {
        negative = text[begin] == '-';
        ++begin;
    }
    if (begin > last) return false;
    const char* first = text.data() + begin;
    const char* end = text.data() + last + 1;
    for (const char* p = first; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
    }
    const std::from_chars_result result = std::from_chars(first, end, magnitude);
    return result.ec == std::errc() && result.ptr == end;
}

std::vector<uint8_t> StrParser::BigEndian(uint64_t value, int length) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (int i = length - 1; i >= 0; --i) {
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 0xFFu);
        value >>= 8;
    }
    return bytes;
}

std::vector<uint8_t> StrParser::ByteGroups(const std::string& text, char separator, int count,
                                           int base, const char* wrong_format,
                                           const char* illegal_number) {
    const QStringList pieces = QString::fromStdString(text).split(separator, Qt::SkipEmptyParts);
    if (pieces.size() != count) throw std::invalid_argument(wrong_format);
    std::vector<uint8_t> bytes;
    for (const QString& piece : pieces) {
        bool ok = false;
        const int value = piece.toInt(&ok, base);
        if (!ok || value < 0 || value > 255) throw std::invalid_argument(illegal_number);
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}
