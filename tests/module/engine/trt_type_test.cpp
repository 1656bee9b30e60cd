#include <gtest/gtest.h>

#include <string>

#include "module/engine/nvidia/tool/util.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

using nvinfer1::DataType;

TEST(TrtTypeTables, KnownNames_MapToTensorRTTypesAndSizes) {
    EXPECT_EQ(getTRTType("int8"), DataType::kINT8);
    EXPECT_EQ(getTRTType("float16"), DataType::kHALF);
    EXPECT_EQ(getTRTType("float32"), DataType::kFLOAT);
    EXPECT_EQ(getTypeSize(DataType::kFLOAT), 4);
    EXPECT_EQ(getTypeSize(DataType::kINT32), 4);
    EXPECT_EQ(getTypeSize(DataType::kHALF), 2);
    EXPECT_EQ(getTypeSize(DataType::kINT8), 1);
    EXPECT_EQ(getTypeSize(DataType::kBOOL), 0);
    EXPECT_EQ(getTypeSize(static_cast<DataType>(42)), 0);
}

TEST(TrtTypeTables, UnknownOrMiscasedNames_LogAndGiveFloat) {
    DataType type = DataType::kINT8;
    EXPECT_EQ(
        messageOf(captureStdout([&] { type = getTRTType("INT8"); })),
        "[Parameters] Tensor type INT8 is wrong, please use int8, float16 or float32\x1b[0m\n");
    EXPECT_EQ(type, DataType::kFLOAT);
    EXPECT_NE(captureStdout([&] { type = getTRTType("uint8"); }), "");
    EXPECT_EQ(type, DataType::kFLOAT);
    EXPECT_EQ(captureStdout([&] { type = getTRTType("INT8"); }).rfind("[util:", 0), 0U);
}

}  // namespace krell::det::test
