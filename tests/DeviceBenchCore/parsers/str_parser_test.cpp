#include "DeviceBenchCore/parsers/make_str_parser.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const std::string& type, const std::string& text, float coefficient = 1.0f) {
    std::unique_ptr<StrParser> parser = MakeStrParser(type);
    if (!parser) throw std::logic_error("no parser for " + type);
    return parser->Parse(text, coefficient);
}

std::string Failure(const std::string& type, const std::string& text, float coefficient = 1.0f) {
    try {
        Encode(type, text, coefficient);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "<accepted>";
}

struct Edge {
    const char* type;
    const char* text;
    Bytes bytes;  // empty: must be refused
};

class IntegerEdgeTest : public ::testing::TestWithParam<Edge> {};

TEST_P(IntegerEdgeTest, RangeEdges_EncodeOrFail) {
    const Edge& edge = GetParam();
    if (edge.bytes.empty()) {
        const std::string prefix = std::string(edge.type)[0] == 'u' ? "UintParser" : "IntParser";
        EXPECT_EQ(Failure(edge.type, edge.text),
                  prefix + ": contains an illegal number, error:" + edge.text);
    } else {
        EXPECT_EQ(Encode(edge.type, edge.text), edge.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryWidth, IntegerEdgeTest,
    ::testing::Values(
        Edge{"uint8", "255", {0xFF}}, Edge{"uint8", "256", {}}, Edge{"uint8", "-1", {}},
        Edge{"uint8", "0", {0x00}}, Edge{"uint16", "65535", {0xFF, 0xFF}},
        Edge{"uint16", "65536", {}}, Edge{"uint32", "4000000000", {0xEE, 0x6B, 0x28, 0x00}},
        Edge{"uint32", "4294967296", {}},
        Edge{"uint64", "18446742974197923840", {0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0}},
        Edge{"uint64", "18446744073709551616", {}}, Edge{"int8", "127", {0x7F}},
        Edge{"int8", "128", {}}, Edge{"int8", "-128", {0x80}}, Edge{"int8", "-129", {}},
        Edge{"int16", "-2", {0xFF, 0xFE}}, Edge{"int16", "32767", {0x7F, 0xFF}},
        Edge{"int16", "32768", {}}, Edge{"int16", "-32768", {0x80, 0x00}},
        Edge{"int32", "-2147483648", {0x80, 0, 0, 0}},
        Edge{"int32", "2147483520", {0x7F, 0xFF, 0xFF, 0x80}},
        // The largest values are exact integers, never rounded up to a wrap.
        Edge{"int32", "2147483647", {0x7F, 0xFF, 0xFF, 0xFF}}, Edge{"int32", "2147483648", {}},
        Edge{"int64", "9223372036854775807", {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        Edge{"int64", "9223372036854775808", {}},
        // The bounds hold for the value as given, before truncation.
        Edge{"int8", "127.5", {}}, Edge{"int8", "-128.5", {}}, Edge{"int16", "32767.5", {}},
        Edge{"uint8", "255.5", {}}, Edge{"uint16", "65535.2", {}}, Edge{"int8", "126.9", {0x7E}},
        // Integers beyond a float's 24-bit mantissa keep every digit.
        Edge{"uint32", "16777217", {0x01, 0x00, 0x00, 0x01}},
        Edge{"uint64", "1311768467463790321", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF1}},
        Edge{"int64", "-120", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x88}},
        Edge{"int64", "-9223372036854775808", {0x80, 0, 0, 0, 0, 0, 0, 0}}));

TEST(StrParserTest, Coefficient_ScalesAndTruncatesTowardZero) {
    EXPECT_EQ(Encode("uint16", "1.5", 0.01f), (Bytes{0x00, 0x96}));
    EXPECT_EQ(Encode("int8", "12.9"), (Bytes{0x0C}));
    EXPECT_EQ(Encode("int8", "-12.9"), (Bytes{0xF4}));
    EXPECT_EQ(Encode("uint8", "0.99"), (Bytes{0x00}));
    // Values the display shows with two decimals come back to the integer they were read from,
    // even where the float division lands a hair below it.
    EXPECT_EQ(Encode("int8", "0.50", 0.1f), (Bytes{0x05}));
    EXPECT_EQ(Encode("int16", "-1.50", 0.01f), (Bytes{0xFF, 0x6A}));
    EXPECT_EQ(Encode("uint16", "12.34", 0.01f), (Bytes{0x04, 0xD2}));
    EXPECT_EQ(Encode("uint16", "12.00", 0.001f), (Bytes{0x2E, 0xE0}));
    // Scaling can push a value out of range: 2.56 / 0.01 = 256 does not fit one byte.
    EXPECT_EQ(Failure("uint8", "2.56", 0.01f),
              "UintParser: contains an illegal number, error:2.56");
    EXPECT_EQ(Failure("uint8", "1", 0.0f), "UintParser: contains an illegal number, error:1");
}

TEST(StrParserTest, NumberSpellings_FollowTheLocaleIndependentRules) {
    EXPECT_EQ(Encode("uint16", " 1e3 "), (Bytes{0x03, 0xE8}));
    EXPECT_EQ(Encode("int8", "+5"), (Bytes{0x05}));
    for (const char* bad : {"abc", "", "1,5", "0x10", "nan"}) {
        EXPECT_EQ(Failure("uint8", bad),
                  std::string("UintParser: contains an illegal number, error:") + bad);
        EXPECT_EQ(Failure("int32", bad),
                  std::string("IntParser: contains an illegal number, error:") + bad);
    }
    EXPECT_EQ(Failure("float32", "abc"), "FloatParser: contains an illegal number, error:abc");
    EXPECT_EQ(Failure("double", "abc"), "DoubleParser: contains an illegal number, error:abc");
}

TEST(StrParserTest, FloatAndDouble_AreBigEndianIeee) {
    EXPECT_EQ(Encode("float32", "1"), (Bytes{0x3F, 0x80, 0x00, 0x00}));
    EXPECT_EQ(Encode("float32", "-2.5", 0.5f), (Bytes{0xC0, 0xA0, 0x00, 0x00}));
    EXPECT_EQ(Encode("double", "1"), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Encode("double", "1e300"), (Bytes{0x7E, 0x37, 0xE4, 0x3C, 0x88, 0x00, 0x75, 0x9C}));
    // Not-a-number, infinity and a zero coefficient never reach a device.
    EXPECT_EQ(Failure("float32", "inf"), "FloatParser: contains an illegal number, error:inf");
    EXPECT_EQ(Failure("float32", "1", 0.0f), "FloatParser: contains an illegal number, error:1");
    EXPECT_EQ(Failure("double", "nan"), "DoubleParser: contains an illegal number, error:nan");
}

TEST(StrParserTest, IpAndMac_FormsAndFailures) {
    EXPECT_EQ(Encode("IP", "192.168.1.201"), (Bytes{0xC0, 0xA8, 0x01, 0xC9}));
    EXPECT_EQ(Encode("IP", "192..168.1.201"), (Bytes{0xC0, 0xA8, 0x01, 0xC9}));
    EXPECT_EQ(Encode("IP", "10.0.0.1", 0.0f), (Bytes{10, 0, 0, 1}));
    EXPECT_EQ(Failure("IP", "192.168.1"), "IPv4Parser: ip address, wrong format.");
    EXPECT_EQ(Failure("IP", "1.2.3.4.5"), "IPv4Parser: ip address, wrong format.");
    EXPECT_EQ(Failure("IP", "192.168.1.256"), "IPv4Parser: contains an illegal number");
    EXPECT_EQ(Failure("IP", "192.168.-1.2"), "IPv4Parser: contains an illegal number");
    EXPECT_EQ(Failure("IP", "a.b.c.d"), "IPv4Parser: contains an illegal number");
    EXPECT_EQ(Encode("MAC", "00:1A:2b:3C:4d:5E"), (Bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(Failure("MAC", "00:1A:2b:3C:4d"), "MacParser: ip address, wrong format.");
    EXPECT_EQ(Failure("MAC", "00:1A:2b:3C:4d:5G"), "MacParser: contains an illegal number");
    EXPECT_EQ(Failure("MAC", "00:1A:2b:3C:4d:100"), "MacParser: contains an illegal number");
}

TEST(StrParserTest, Factory_KnowsExactlyTheWritableTypes) {
    for (const char* type : {"bool", "string", "HWVER", "SWVER_YMD", "DT", "Uint8", "ip"}) {
        EXPECT_EQ(MakeStrParser(type), nullptr) << type;
    }
    EXPECT_EQ(MakeStrParser("uint64")->parser_length, 8);
    EXPECT_EQ(MakeStrParser("int16")->parser_length, 2);
    EXPECT_TRUE(MakeStrParser("raw")->Parse("anything", 1.0f).empty());
}

}  // namespace
