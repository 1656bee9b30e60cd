#include "DeviceBenchCore/manager/var_decoder.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <map>

#include "DeviceBenchCore/table/var_info.h"
#include "scribe/logger.h"

namespace {

constexpr size_t kMacBytes = 6;
constexpr size_t kVersionBytes = 16;
constexpr int kDecimals = 2;
constexpr uint64_t kSecondsPerHour = 3600;
constexpr uint64_t kSecondsPerMinute = 60;

uint64_t BigEndianValue(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

QString Fixed(double value) {
    return QString::number(value, 'f', kDecimals);
}

}  // namespace

std::string VarDecoder::Trimmed(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
    while (begin < end && bytes[begin] == 0)
        ++begin;
    while (end > begin && bytes[end - 1] == 0)
        --end;
    return std::string(bytes.begin() + static_cast<long>(begin),
                       bytes.begin() + static_cast<long>(end));
}

std::string VarDecoder::IntegerText(const VarInfo& var, const std::vector<uint8_t>& bytes,
                                    int width, bool is_signed) {
    // The last `width` bytes are the number; fewer bytes are read as a narrower number.
    const size_t used = std::min(bytes.size(), static_cast<size_t>(width));
    const size_t begin = bytes.size() - used;
    const uint64_t raw = BigEndianValue(bytes, begin, bytes.size());
    QString text;
    if (is_signed) {
        int64_t value = static_cast<int64_t>(raw);
        if (used > 0 && used < 8 && (raw >> (8 * used - 1)) & 1u) {
            value = static_cast<int64_t>(raw | (~uint64_t{0} << (8 * used)));
        }
        // The integer text never goes through a float, so values above 2^24 stay exact.
        text = var.coefficient == 1.0f
                   ? QString::number(static_cast<qlonglong>(value))
                   : Fixed(static_cast<double>(value) * static_cast<double>(var.coefficient));
    } else {
        text = var.coefficient == 1.0f
                   ? QString::number(static_cast<qulonglong>(raw))
                   : Fixed(static_cast<double>(raw) * static_cast<double>(var.coefficient));
    }
    return text.toStdString();
}

std::string VarDecoder::VersionText(const std::vector<uint8_t>& bytes, bool hardware) {
    std::vector<uint8_t> text(bytes.begin(), bytes.begin() + (hardware ? 9 : 12));
    std::string numbers;
    if (hardware) {
        numbers = std::to_string(bytes[9]) + "." + std::to_string(bytes[10]) + "." +
                  std::to_string(BigEndianValue(bytes, 11, 13));
        const uint64_t build = BigEndianValue(bytes, 13, 15);
        if (build != 0) numbers += "." + std::to_string(build);
    } else {
        numbers = std::to_string(bytes[12]) + "." + std::to_string(bytes[13]) + "." +
                  std::to_string(bytes[14]);
    }
    text.insert(text.end(), numbers.begin(), numbers.end());
    return Trimmed(text, 0, text.size());
}

VarDecoder::Result VarDecoder::Decode(const VarInfo& var, const std::vector<uint8_t>& bytes,
                                      std::string& text) {
    static const std::map<std::string, std::pair<int, bool>> kIntegers = {
        {"uint8", {1, false}},  {"uint16", {2, false}}, {"uint32", {4, false}},
        {"uint64", {8, false}}, {"int8", {1, true}},    {"int16", {2, true}},
        {"int32", {4, true}},   {"int64", {8, true}}};
    const std::string& type = var.var_type;
    const auto integer = kIntegers.find(type);
    if (integer != kIntegers.end()) {
        text = IntegerText(var, bytes, integer->second.first, integer->second.second);
        return Result::kDecoded;
    }
    if (type == "IP") {
        QStringList parts;
        for (uint8_t b : bytes)
            parts << QString::number(b);
        text = parts.join('.').toStdString();
        return Result::kDecoded;
    }
    if (type == "MAC") {
        if (bytes.size() < kMacBytes) {
            SLOG_ERROR("MAC address size is less than 6, please check your config file");
            return Result::kClear;
        }
        QStringList parts;
        for (size_t i = 0; i < kMacBytes; ++i)
            parts << QString("%1").arg(bytes[i], 2, 16, QChar('0')).toUpper();
        text = parts.join(':').toStdString();
        return Result::kDecoded;
    }
    if (type == "HWVER" || type == "SWVER_YMD") {
        if (bytes.size() != kVersionBytes) {
            SLOG_ERROR("HWVER size is not qual to 16, please check your config file");
            return Result::kKeep;
        }
        text = VersionText(bytes, type == "HWVER");
        return Result::kDecoded;
    }
    if (type == "string") {
        text = Trimmed(bytes, 0, bytes.size());
        return Result::kDecoded;
    }
    if (type == "float32" && bytes.size() >= sizeof(float)) {
        const uint32_t bits = static_cast<uint32_t>(BigEndianValue(bytes, 0, sizeof(float)));
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof(value));
        text = Fixed(value * var.coefficient).toStdString();
        return Result::kDecoded;
    }
    if (type == "double" && bytes.size() >= sizeof(double)) {
        const uint64_t bits = BigEndianValue(bytes, 0, sizeof(double));
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof(value));
        text = Fixed(value * static_cast<double>(var.coefficient)).toStdString();
        return Result::kDecoded;
    }
    if (type == "DT") {
        // Eight bytes at most: a longer reply keeps its least significant (last) bytes.
        const size_t begin = bytes.size() > 8 ? bytes.size() - 8 : 0;
        const uint64_t s = BigEndianValue(bytes, begin, bytes.size());
        const uint64_t h = s / kSecondsPerHour;
        const uint64_t m = (s - kSecondsPerHour * h) / kSecondsPerMinute;
        text = QString("%1 h %2 min %3 s")
                   .arg(h)
                   .arg(m)
                   .arg(s - kSecondsPerHour * h - kSecondsPerMinute * m)
                   .toStdString();
        return Result::kDecoded;
    }
    if (type == "float32" || type == "double") return Result::kKeep;  // too few bytes
    std::printf("var_type not support: %s\n", type.c_str());
    return Result::kKeep;
}
