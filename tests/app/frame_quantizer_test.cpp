// Quantisation of frame records into the network's planes.
#include <gtest/gtest.h>

#include <algorithm>
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

// The rule written out with the library's rounding, for comparison near every rounding tie.
int8_t referenceCode(float value, float low, float high, float offset, float factor, bool divide) {
    const float clamped = std::min(std::max(value, low), high) + offset;
    const float scaled = divide ? clamped / factor * 255.0F : clamped * factor * 255.0F;
    return static_cast<int8_t>(static_cast<int32_t>(std::round(scaled) - 128.0F) & 0xFF);
}

TEST(FrameQuantizerTest, RoundingNearEveryHalfStepMatchesTheLibraryRule) {
    int mismatches = 0;
    for (int step = 0; step < 256; ++step) {
        const float tie = (static_cast<float>(step) + 0.5F) / 255.0F;
        const float xs = tie * 163.84F - 3.84F;
        const float ys = tie * 102.4F - 51.2F;
        const float zs = tie * 16.0F - 8.0F;
        float x = xs, y = ys, z = zs;
        for (int k = 0; k < 40; ++k) {
            x = std::nextafter(x, -1e9F);
            y = std::nextafter(y, -1e9F);
            z = std::nextafter(z, -1e9F);
        }
        for (int k = 0; k < 80; ++k) {
            const auto point = quantizePoint(std::max(x, 0.1F), y, z, 0.0F);
            const bool same =
                point.x == referenceCode(std::max(x, 0.1F), -3.84F, 160.0F, 3.84F, 163.84F, true) &&
                point.y == referenceCode(y, -51.2F, 51.2F, 51.2F, 102.4F, true) &&
                point.z == referenceCode(z, -8.0F, 8.0F, 8.0F, 0.0625F, false);
            if (!same && ++mismatches <= 5) {
                ADD_FAILURE() << "x " << x << " y " << y << " z " << z;
            }
            x = std::nextafter(x, 1e9F);
            y = std::nextafter(y, 1e9F);
            z = std::nextafter(z, 1e9F);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
