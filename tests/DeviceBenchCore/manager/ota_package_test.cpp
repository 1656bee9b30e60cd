// The "OTPK" package: which components are sent in which order, the FPGA header skip, and the
// range checks that must hold before anything reaches the sensor.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "DeviceBenchCore/manager/ota_package.h"

namespace {

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + static_cast<size_t>(i)] = uint8_t(value >> (8 * i));
}

//! A package whose component i (when `sizes[i]` is non-zero) holds bytes of value 0x10 + i.
std::vector<uint8_t> Package(const std::vector<uint32_t>& sizes) {
    std::vector<uint8_t> bytes(OtaPackage::kHeaderBytes, 0);
    bytes[0] = 'O', bytes[1] = 'T', bytes[2] = 'P', bytes[3] = 'K';
    uint8_t flags = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] == 0) continue;
        flags |= uint8_t(1u << i);
        PutU32(bytes, 12 + 8 * i, static_cast<uint32_t>(bytes.size()));
        PutU32(bytes, 16 + 8 * i, sizes[i]);
        bytes.insert(bytes.end(), sizes[i], uint8_t(0x10 + i));
    }
    bytes[8] = flags;
    PutU32(bytes, 4, static_cast<uint32_t>(bytes.size()));
    return bytes;
}

TEST(OtaPackage, RunningPartitionPicksTheOtherApplicationThenTheFixedOrder) {
    const OtaPackage package(Package({100, 200, 1500, 1100, 50}));
    ASSERT_TRUE(package.MagicOk());
    EXPECT_EQ(package.Flags(), 0x1F);
    EXPECT_EQ(package.SendOrder(true), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(package.SendOrder(false), (std::vector<int>{0, 2, 3, 4}));
    EXPECT_EQ(OtaPackage::FrameType(OtaPackage::kAppA), 2u);
    EXPECT_EQ(OtaPackage::FrameType(OtaPackage::kBmbFpga), 1u);
    EXPECT_EQ(OtaPackage::FrameType(OtaPackage::kTmbFpga), 0u);
    EXPECT_EQ(OtaPackage::FrameType(OtaPackage::kTmbParam), 3u);
    // Absent components are never sent.
    EXPECT_EQ(OtaPackage(Package({0, 0, 0, 0, 9})).SendOrder(true), (std::vector<int>{4}));
}

TEST(OtaPackage, FpgaImagesLoseTheirHeaderOthersAreWhole) {
    const OtaPackage package(Package({100, 0, 3072, 1024, 7}));
    EXPECT_EQ(package.Extract(OtaPackage::kAppA), std::vector<uint8_t>(100, 0x10));
    EXPECT_EQ(package.Extract(OtaPackage::kBmbFpga), std::vector<uint8_t>(2048, 0x12));
    EXPECT_TRUE(package.Extract(OtaPackage::kTmbFpga).empty());  // header only
    EXPECT_EQ(package.Extract(OtaPackage::kTmbParam), std::vector<uint8_t>(7, 0x14));
}

TEST(OtaPackage, ComponentsOutsideThePackageAreFoundBeforeSending) {
    std::vector<uint8_t> past_end = Package({100, 0, 0, 0, 20});
    PutU32(past_end, 16 + 8 * 4, 21);  // one byte past the end
    EXPECT_EQ(OtaPackage(past_end).OutOfRange(), (std::vector<std::string>{"TMB_PARAM"}));
    EXPECT_TRUE(OtaPackage(past_end).Extract(4).empty());

    // An offset and size whose 32-bit sum wraps to a small number lie outside all the same.
    std::vector<uint8_t> wraps = Package({100});
    PutU32(wraps, 12, 0xFFFFFF00u);
    PutU32(wraps, 16, 0x100u + 60u);
    EXPECT_EQ(OtaPackage(wraps).OutOfRange(), (std::vector<std::string>{"BMB_APP_A"}));
    EXPECT_TRUE(OtaPackage(wraps).Extract(0).empty());

    // A bad entry of an absent component does not matter.
    std::vector<uint8_t> absent = Package({100});
    PutU32(absent, 12 + 8 * 3, 0xFFFFFFFFu);
    EXPECT_TRUE(OtaPackage(absent).OutOfRange().empty());
}

TEST(OtaPackage, ShortOrForeignPackagesAreRecognised) {
    std::vector<uint8_t> bytes = Package({});
    EXPECT_TRUE(OtaPackage(bytes).LongEnough());
    EXPECT_TRUE(OtaPackage(bytes).SendOrder(true).empty());
    bytes[3] = 'X';
    EXPECT_FALSE(OtaPackage(bytes).MagicOk());
    bytes.resize(OtaPackage::kHeaderBytes - 1);
    EXPECT_FALSE(OtaPackage(bytes).LongEnough());
    EXPECT_FALSE(OtaPackage(bytes).MagicOk());
}

}  // namespace
