#include "DeviceBenchCore/str_parser.h"

#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "DeviceBenchCore/double_parser.h"
#include "DeviceBenchCore/float_parser.h"
#include "DeviceBenchCore/int_parser.h"
#include "DeviceBenchCore/ipv4_parser.h"
#include "DeviceBenchCore/mac_parser.h"
#include "DeviceBenchCore/raw_parser.h"
#include "DeviceBenchCore/uint_parser.h"

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

double StrParser::TruncateScaled(float v) {
    const float nearest = std::nearbyint(v);
    const float step = std::fabs(std::nextafter(v, 2.0f * v + 1.0f) - v);
    if (std::fabs(v - nearest) <= kSnapSteps * step) return nearest;
    return std::trunc(v);
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

std::unique_ptr<StrParser> MakeStrParser(const std::string& var_type) {
    if (var_type == "IP") return std::unique_ptr<StrParser>(new IPv4Parser);
    if (var_type == "MAC") return std::unique_ptr<StrParser>(new MacParser);
    if (var_type == "uint8") return std::unique_ptr<StrParser>(new UintParser(1));
    if (var_type == "uint16") return std::unique_ptr<StrParser>(new UintParser(2));
    if (var_type == "uint32") return std::unique_ptr<StrParser>(new UintParser(4));
    if (var_type == "uint64") return std::unique_ptr<StrParser>(new UintParser(8));
    if (var_type == "int8") return std::unique_ptr<StrParser>(new IntParser(1));
    if (var_type == "int16") return std::unique_ptr<StrParser>(new IntParser(2));
    if (var_type == "int32") return std::unique_ptr<StrParser>(new IntParser(4));
    if (var_type == "int64") return std::unique_ptr<StrParser>(new IntParser(8));
    if (var_type == "float32") return std::unique_ptr<StrParser>(new FloatParser);
    if (var_type == "double") return std::unique_ptr<StrParser>(new DoubleParser);
    if (var_type == "raw") return std::unique_ptr<StrParser>(new RawParser);
    std::printf("DEBUG(): not support the format is %s\n", var_type.c_str());
    return nullptr;
}
