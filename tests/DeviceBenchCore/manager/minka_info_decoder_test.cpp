// The information fields of the Minka point packets: which packets carry one, which are
// malformed, and the text each variable type gets.
#include "DeviceBenchCore/manager/minka_info_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DeviceBenchCore/table/var_info.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = MinkaInfoDecoder::Kind;

Bytes Packet(size_t size, Bytes head) {
    head.resize(size, 0x11);
    return head;
}

struct Case {
    const char* name;
    Bytes packet;
    Kind kind;
};

class ClassifyTest : public ::testing::TestWithParam<Case> {};

TEST_P(ClassifyTest, SortsThePacket) {
    const Case& c = GetParam();
    EXPECT_EQ(MinkaInfoDecoder::Classify(c.packet.data(), c.packet.size()), c.kind) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Packets, ClassifyTest,
    ::testing::Values(
        Case{"info", Packet(80, {0xEE, 0xFF, 0x01, 0x08, 0, 0}), Kind::kInfo},
        Case{"info one byte short", Packet(79, {0xEE, 0xFF, 0x01, 0x08, 0, 0}), Kind::kMalformed},
        Case{"info one byte long", Packet(81, {0xEE, 0xFF, 0x01, 0x08, 0, 0}), Kind::kMalformed},
        Case{"long points", Packet(132, {0xEE, 0xFF, 0x01, 0x0C, 0, 0}), Kind::kPoints},
        Case{"long points cut", Packet(80, {0xEE, 0xFF, 0x01, 0x0C, 0, 0}), Kind::kMalformed},
        Case{"short points", Packet(34, {0xEE, 0xFF, 0x01, 0x08, 0, 1}), Kind::kPoints},
        Case{"short points long", Packet(80, {0xEE, 0xFF, 0x01, 0x08, 0, 1}), Kind::kMalformed},
        Case{"unknown protocol", Packet(80, {0xEE, 0xFF, 0x01, 0x09, 0, 0}), Kind::kMalformed},
        Case{"other major", Packet(80, {0xEE, 0xFF, 0x02, 0x08, 0, 0}), Kind::kMalformed},
        Case{"wrong header", Packet(80, {0xEE, 0xFE, 0x01, 0x08, 0, 0}), Kind::kMalformed},
        Case{"no header at all", Packet(80, {0x24, 0x4C, 0x44, 0x41, 0, 0}), Kind::kMalformed},
        Case{"too short to tell", Bytes{0xEE, 0xFF, 0x01, 0x08}, Kind::kMalformed}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ') c = '_';
        return name;
    });

class ValueTextTest : public ::testing::Test {
protected:
    std::string Text(const char* type, float coefficient, Bytes value,
                     const std::string& current = "", const char* name = "Value") {
        var_.var_type = type;
        var_.var_name = name;
        var_.coefficient = coefficient;
        value.resize(8, 0);
        return MinkaInfoDecoder::ValueText(var_, value.data(), current);
    }
    VarInfo var_;
};

TEST_F(ValueTextTest, StringIsByte73ThenByte72) {
    EXPECT_EQ(Text("string", 1.0f, {'R', 'S'}), "SR");
    EXPECT_EQ(Text("string", 1.0f, {0, 'D'}), "D");  // a one-letter text has no NUL in it
}

TEST_F(ValueTextTest, NumbersAreLittleEndianTimesTheCoefficient) {
    EXPECT_EQ(Text("float32", 0.01f, {0x29, 0x10}), "41.37");  // 4137
    EXPECT_EQ(Text("double", 0.5f, {3}), "1.50");
    EXPECT_EQ(Text("uint16", 1.0f, {0x58, 0x02}), "600");
    EXPECT_EQ(Text("uint32", 1.0f, {0xFF, 0xFF, 0xFF, 0xFF}), "4294967295");
    EXPECT_EQ(Text("uint8", 0.5f, {7}), "3");  // whole numbers drop the fraction
}

TEST_F(ValueTextTest, SerialNumberIsPutTogetherOneCharacterAtATime) {
    std::string sn = "xxxxxxxx";
    const std::string expected = "MK64C2410002318";
    for (size_t i = 0; i < expected.size(); ++i)
        sn = Text("string", 1.0f, {static_cast<uint8_t>(i), static_cast<uint8_t>(expected[i])}, sn,
                  "SN");
    EXPECT_EQ(sn, expected);
    // A position past the end widens the text with blanks.
    EXPECT_EQ(Text("string", 1.0f, {3, 'Z'}, "A", "SN"), "A  Z");
}

}  // namespace
