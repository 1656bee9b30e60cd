#include "DeviceBenchCore/table/number_text.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

namespace {

template <typename T>
T Convert(const std::string& text, const char* name) {
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r')))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        if (p < end && (*p == '+' || *p == '-')) p = end;  // "+-1" is not a number
    }
    T value = 0;
    std::from_chars_result result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument || p == end) {
        throw std::invalid_argument(std::string("invalid ") + name + " argument");
    }
    if (result.ec == std::errc::result_out_of_range) {
        throw std::out_of_range(std::string(name) + " argument out of range");
    }
    return negative ? -value : value;
}

}  // namespace

namespace number_text {

float Stof(const std::string& text) {
    return Convert<float>(text, "stof");
}

double Stod(const std::string& text) {
    return Convert<double>(text, "stod");
}

}  // namespace number_text
