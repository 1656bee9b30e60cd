// Quantisation of frame records into the network's planes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "app/denoise/src/frame_quantizer.h"

namespace {

using krell::frame::quantizePoint;

TEST(FrameQuantizerTest, PointsNearerThanTenCentimetresStayZero) {
    const auto point = quantizePoint(0.05F, 1.0F, 1.0F, 200.0F);
    EXPECT_EQ(point.x, 0);
    EXPECT_EQ(point.y, 0);
    EXPECT_EQ(point.z, 0);
    EXPECT_EQ(point.w, 0);
    EXPECT_EQ(quantizePoint(-5.0F, 1.0F, 1.0F, 200.0F).w, 0);
}

TEST(FrameQuantizerTest, DocumentedExampleAndHalfWayRounding) {
    const auto point = quantizePoint(0.1F, 0.0F, 0.0F, 200.0F);
    EXPECT_EQ(point.x, -122);
    EXPECT_EQ(point.y, 0);  // round(127.5) = 128, away from zero
    EXPECT_EQ(point.z, 0);
    EXPECT_EQ(point.w, 72);
}

TEST(FrameQuantizerTest, OutOfRangeValuesClampToTheEnds) {
    const auto far = quantizePoint(500.0F, -60.0F, 9.0F, 0.0F);
    EXPECT_EQ(far.x, 127);
    EXPECT_EQ(far.y, -128);
    EXPECT_EQ(far.z, 127);
    EXPECT_EQ(far.w, -128);
    EXPECT_EQ(quantizePoint(1.0F, 60.0F, -9.0F, 255.0F).y, 127);
    EXPECT_EQ(quantizePoint(1.0F, 60.0F, -9.0F, 255.0F).z, -128);
}

TEST(FrameQuantizerTest, FourthValueOutsideItsRangeKeepsTheLowByteAndNaNIsHarmless) {
    EXPECT_EQ(quantizePoint(1.0F, 0.0F, 0.0F, 300.0F).w, static_cast<int8_t>(172));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(quantizePoint(nan, 0.0F, 0.0F, 0.0F).x, 0);
    EXPECT_EQ(quantizePoint(1.0F, nan, nan, nan).w, 0);
    // Saturates at the largest float below 2^31 (0x7FFFFF80), whose low byte is 0x80.
    EXPECT_EQ(quantizePoint(1.0F, 0.0F, 0.0F, 1e20F).w, -128);
}

TEST(FrameQuantizerTest, FramePlanesFollowPointOrderAndEveryByteIsWritten) {
    std::vector<uint8_t> raw(krell::frame::kRawFrameBytes, 0);
    const float last[4] = {0.1F, 0.0F, 0.0F, 200.0F};
    std::memcpy(&raw[(krell::frame::kFramePoints - 1) * 16], last, sizeof(last));
    std::vector<int8_t> planes(krell::frame::kQuantizedFrameBytes, 55);
    krell::frame::quantizeFrame(raw.data(), planes.data());
    const size_t n = krell::frame::kFramePoints;
    EXPECT_EQ(planes[n - 1], -122);
    EXPECT_EQ(planes[4 * n - 1], 72);
    EXPECT_EQ(planes[0], 0);  // x = 0 is below 0.1: cleared, not left at the old value
    EXPECT_EQ(planes[2 * n], 0);
}

}  // namespace
