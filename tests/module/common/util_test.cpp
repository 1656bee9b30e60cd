#include <gtest/gtest.h>

#include <string>

#include "module/common/data_structure/data_type.h"
#include "module/common/util.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

TEST(TypeTables, KnownNames_MapToCodesAndSizes) {
    EXPECT_EQ(getDataType("int8"), 1);
    EXPECT_EQ(getDataType("uint8"), 2);
    EXPECT_EQ(getDataType("float16"), 3);
    EXPECT_EQ(getDataType("float32"), 4);
    EXPECT_EQ(getTypeSize("int8"), 1);
    EXPECT_EQ(getTypeSize("float16"), 2);
    EXPECT_EQ(getTypeSize("float32"), 4);
    EXPECT_EQ(getTypeSize("int32"), 4);
}

TEST(TypeTables, UnknownOrMiscasedNames_LogAndGiveNeutralValues) {
    int32_t code = -1;
    EXPECT_EQ(messageOf(captureStdout([&] { code = getDataType("fp16"); })),
              "[getDataType] Wrong data type of fp16, please use int8, float16, float32 \x1b[0m\n");
    EXPECT_EQ(code, 0);
    EXPECT_NE(captureStdout([&] { code = getDataType("int32"); }), "");
    EXPECT_EQ(code, 0);

    int32_t size = -1;
    EXPECT_EQ(messageOf(captureStdout([&] { size = getTypeSize("uint8"); })),
              "[INIT][getTypeSize] Unkonw type: uint8\x1b[0m\n");
    EXPECT_EQ(size, 0);
}

TEST(NameSubstitution, EverySevenBitByte_RoundTripsAndMovesToAnotherBlock) {
    std::string all;
    for (int c = 0; c < 0x80; ++c) {
        all.push_back(static_cast<char>(c));
    }
    const std::string scrambled = stringEncrypt(all);
    ASSERT_EQ(scrambled.size(), all.size());
    for (int c = 0; c < 0x80; ++c) {
        const auto out = static_cast<unsigned char>(scrambled[static_cast<size_t>(c)]);
        EXPECT_LT(out, 0x80);
        EXPECT_NE(out >> 5, c >> 5) << "byte " << c << " stayed in its block";
    }
    EXPECT_EQ(stringDecrypt(scrambled), all);
    EXPECT_EQ(stringEncrypt(stringDecrypt(all)), all);
    EXPECT_EQ(stringEncrypt(""), "");
    EXPECT_EQ(stringDecrypt(""), "");
}

TEST(NameSubstitution, StoredContainerFormat_IsPinned) {
    // Model files already written depend on these exact bytes.
    EXPECT_EQ(stringEncrypt("{\"a\":1}"), std::string("\x1b}\x01}en\x1d"));
    EXPECT_EQ(stringDecrypt(std::string("\x1b}\x01}en\x1d")), "{\"a\":1}");
}

TEST(NameSubstitution, ByteAbove7F_StopsTheWalkWithOneMessage) {
    std::string out;
    const std::string log = captureStdout([&] { out = stringEncrypt("ab\xC3\xA9z"); });
    EXPECT_EQ(out, stringEncrypt("ab"));
    EXPECT_EQ(messageOf(log), "[INIT][stringEncrypt] Unkonw string: \xC3\x1b[0m\n");
    const std::string log2 = captureStdout([&] { out = stringDecrypt("xy\x80"); });
    EXPECT_EQ(out, stringDecrypt("xy"));
    EXPECT_EQ(messageOf(log2), "[INIT][stringDecrypt] Unkonw string: \x80\x1b[0m\n");
}

}  // namespace krell::det::test
