#include "DeviceBenchCore/parsers/make_str_parser.h"

#include <cstdio>

#include "DeviceBenchCore/parsers/double_parser.h"
#include "DeviceBenchCore/parsers/float_parser.h"
#include "DeviceBenchCore/parsers/int_parser.h"
#include "DeviceBenchCore/parsers/ipv4_parser.h"
#include "DeviceBenchCore/parsers/mac_parser.h"
#include "DeviceBenchCore/parsers/raw_parser.h"
#include "DeviceBenchCore/parsers/uint_parser.h"

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
