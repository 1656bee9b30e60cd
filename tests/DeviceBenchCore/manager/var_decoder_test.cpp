// Decoding reply bytes into display texts, including replies shorter or longer than the type.
#include "DeviceBenchCore/manager/var_decoder.h"

#include <gtest/gtest.h>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/table/var_info.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Decoded(const std::string& type, const Bytes& bytes, float coefficient = 1.0f) {
    VarInfo var;
    var.var_type = type;
    var.coefficient = coefficient;
    var.current_val = "<kept>";
    std::string text = var.current_val;
    switch (VarDecoder::Decode(var, bytes, text)) {
        case VarDecoder::Result::kDecoded:
            return text;
        case VarDecoder::Result::kClear:
            return "<cleared>";
        case VarDecoder::Result::kKeep:
            return "<kept>";
    }
    return "";
}

Bytes Version(const std::string& text, const Bytes& numbers) {
    Bytes bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), numbers.begin(), numbers.end());
    return bytes;
}

TEST(VarDecoderTest, Integers_ScaleOnlyWithACoefficientAndStayExactAboveFloatPrecision) {
    EXPECT_EQ(Decoded("uint16", {0x01, 0xF4}, 0.1f), "50.00");
    EXPECT_EQ(Decoded("uint16", {0x01, 0xF4}), "500");
    EXPECT_EQ(Decoded("int16", {0xFF, 0xFE}), "-2");
    EXPECT_EQ(Decoded("int8", {0xF4}, 0.1f), "-1.20");
    EXPECT_EQ(Decoded("uint32", {0x01, 0x00, 0x00, 0x01}), "16777217");
    EXPECT_EQ(Decoded("uint64", {0x00, 0x20, 0, 0, 0, 0, 0, 0x01}), "9007199254740993");
    EXPECT_EQ(Decoded("int64", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x88}), "-120");
    // A reply shorter than the type is read as the narrower number it holds, never past it.
    EXPECT_EQ(Decoded("uint32", {0x01, 0x02}), "258");
    EXPECT_EQ(Decoded("int32", {0xFF}), "-1");
    EXPECT_EQ(Decoded("uint16", {}), "0");
}

TEST(VarDecoderTest, Texts_AddressesVersionsAndDurations) {
    EXPECT_EQ(Decoded("MAC", {0x00, 0x1A, 0x2B, 0x0C, 0x0D, 0x10}), "00:1A:2B:0C:0D:10");
    EXPECT_EQ(Decoded("MAC", {0x00, 0x1A, 0x2B}), "<cleared>");
    EXPECT_EQ(Decoded("IP", {192, 168, 1, 201}), "192.168.1.201");
    EXPECT_EQ(Decoded("DT", {0x00, 0x00, 0x0E, 0x11}), "1 h 0 min 1 s");
    EXPECT_EQ(Decoded("string", {0, 'a', 'b', 0, 0}), "ab");
    EXPECT_EQ(Decoded("HWVER", Version("CV_HW_RB_", {2, 1, 0, 15, 0, 0, 0})), "CV_HW_RB_2.1.15");
    EXPECT_EQ(Decoded("HWVER", Version("CV_HW_RB_", {3, 4, 0x03, 0xE8, 0, 7, 0})),
              "CV_HW_RB_3.4.1000.7");
    EXPECT_EQ(Decoded("SWVER_YMD", Version("CV_APP_V1.4_", {24, 11, 30, 0})),
              "CV_APP_V1.4_24.11.30");
    EXPECT_EQ(Decoded("HWVER", Bytes(15, 'x')), "<kept>");
    EXPECT_EQ(Decoded("SWVER_YMD", Bytes(17, 'x')), "<kept>");
}

TEST(VarDecoderTest, Floats_NeedTheirWholeWidth) {
    EXPECT_EQ(Decoded("float32", {0x3F, 0x80, 0x00, 0x00}, 2.0f), "2.00");
    EXPECT_EQ(Decoded("double", {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "1.00");
    EXPECT_EQ(Decoded("float32", {0x3F, 0x80}), "<kept>");
    EXPECT_EQ(Decoded("double", {0x3F, 0xF0, 0, 0}), "<kept>");
    EXPECT_EQ(Decoded("bool", {0x01}), "<kept>");
}

TEST(CmxCommandTest, ShortAndExtendedCommandTexts) {
    CmxCommand command;
    ASSERT_TRUE(CmxCommand::FromText("0x05", command));
    EXPECT_EQ(command.code, 0x05);
    EXPECT_TRUE(command.prefix.empty());
    ASSERT_TRUE(CmxCommand::FromText("0x0000015A", command));
    EXPECT_EQ(command.code, 0xFF);
    EXPECT_EQ(command.prefix, (Bytes{0x00, 0x00, 0x01, 0x5A}));
    EXPECT_EQ(command.CodeText(), "0xff");
    EXPECT_FALSE(CmxCommand::FromText("", command));
    EXPECT_FALSE(CmxCommand::FromText("0x1G", command));
    EXPECT_FALSE(CmxCommand::FromText("0x00000G5A", command));
}

}  // namespace
