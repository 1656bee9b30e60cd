// INT8 and FP16 bindings: the exact values at the edges of rounding and saturation, through real
// engines (an identity shuffle between the bindings) and through the half conversion itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/tensorrt/src/half_float.h"
#include "tests/platform/tensorrt/network_harness.h"

namespace trt_test {
namespace {

using nvinfer1::DataType;
using trt_host::HalfFloat;

float fromBits(uint32_t bits) {
    float f = 0.0F;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// An engine that copies input to output; both bindings get the given types and ranges.
Owned<nvinfer1::ICudaEngine> copyEngine(NetworkHarness& h, int count, DataType in_type,
                                        float in_amax, DataType out_type, float out_amax) {
    nvinfer1::ITensor* input = h.net().addInput("in", in_type, nvinfer1::Dims4(1, 1, 1, count));
    input->setDynamicRange(-in_amax, in_amax);
    nvinfer1::ITensor* output = h.net().addShuffle(*input)->getOutput(0);
    output->setType(out_type);
    output->setDynamicRange(-out_amax, out_amax);
    h.output(output, "out");
    return h.engine();
}

template <typename In, typename Out>
std::vector<Out> runCopy(nvinfer1::ICudaEngine& engine, std::vector<In> input) {
    DeviceBuffer in(input.size() * sizeof(In)), out(input.size() * sizeof(Out));
    in.upload(input.data(), in.bytes());
    void* bindings[] = {in.data(), out.data()};
    Owned<nvinfer1::IExecutionContext> context(engine.createExecutionContext());
    EXPECT_TRUE(context && context->executeV2(bindings));
    return out.download<Out>();
}

TEST(HalfFloat, EveryHalfSurvivesTheRoundTrip) {
    for (uint32_t bits = 0; bits <= 0xffffU; ++bits) {
        const auto h = static_cast<uint16_t>(bits);
        const float f = HalfFloat::toFloat(h);
        if (std::isnan(f)) {
            EXPECT_TRUE(std::isnan(HalfFloat::toFloat(HalfFloat::fromFloat(f)))) << bits;
        } else {
            ASSERT_EQ(HalfFloat::fromFloat(f), h) << "half bits " << bits;
        }
    }
}

TEST(HalfFloat, RoundingEdges_NearestEvenOverflowAndSubnormals) {
    EXPECT_EQ(HalfFloat::fromFloat(1.0F + std::ldexp(1.0F, -11)), 0x3c00);      // tie, stays even
    EXPECT_EQ(HalfFloat::fromFloat(1.0F + 3 * std::ldexp(1.0F, -11)), 0x3c02);  // tie, up to even
    EXPECT_EQ(HalfFloat::fromFloat(1.0F + std::ldexp(1.0F, -11) + std::ldexp(1.0F, -20)), 0x3c01);
    EXPECT_EQ(HalfFloat::fromFloat(65504.0F), 0x7bff);
    EXPECT_EQ(HalfFloat::fromFloat(65519.996F), 0x7bff);
    EXPECT_EQ(HalfFloat::fromFloat(65520.0F), 0x7c00);
    EXPECT_EQ(HalfFloat::fromFloat(-1e9F), 0xfc00);
    EXPECT_EQ(HalfFloat::fromFloat(std::ldexp(1.0F, -24)), 0x0001);
    EXPECT_EQ(HalfFloat::fromFloat(std::ldexp(1.0F, -25)), 0x0000);  // tie to even zero
    EXPECT_EQ(HalfFloat::fromFloat(std::nextafter(std::ldexp(1.0F, -25), 1.0F)), 0x0001);
    EXPECT_EQ(HalfFloat::fromFloat(3 * std::ldexp(1.0F, -25)), 0x0002);  // tie, up to even
    EXPECT_EQ(HalfFloat::fromFloat(std::nextafter(std::ldexp(1.0F, -14), 0.0F)),
              0x0400);  // rounds up to normal
    EXPECT_EQ(HalfFloat::fromFloat(-0.0F), 0x8000);
    EXPECT_EQ(HalfFloat::fromFloat(fromBits(0x7f800000U)), 0x7c00);
    EXPECT_EQ(HalfFloat::fromFloat(std::numeric_limits<float>::quiet_NaN()) & 0x7e00, 0x7e00);
}

TEST(Int8Bindings, InputsDequantiseWithAmaxOver127) {
    NetworkHarness h;
    const float amax = 2.54F;
    auto engine = copyEngine(h, 256, DataType::kINT8, amax, DataType::kFLOAT, 0.0F);
    ASSERT_TRUE(engine) << h.logger().text();
    EXPECT_EQ(engine->getBindingDataType(0), DataType::kINT8);
    std::vector<int8_t> q(256);
    for (int i = 0; i < 256; ++i)
        q[i] = static_cast<int8_t>(i - 128);
    const std::vector<float> real = runCopy<int8_t, float>(*engine, q);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(real[i], static_cast<float>(q[i]) * (amax / 127.0F)) << int(q[i]);
    }
}

TEST(Int8Bindings, OutputsRoundHalfAwayFromZeroAndSaturate) {
    NetworkHarness h;
    auto engine =
        copyEngine(h, 14, DataType::kFLOAT, 0.0F, DataType::kINT8, 127.0F);  // scale exactly 1
    ASSERT_TRUE(engine) << h.logger().text();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> real = {2.5F,    -2.5F,    0.5F,   -0.5F,        0.49F,
                                     126.5F,  127.49F,  127.5F, 300.0F,       -128.4F,
                                     -128.5F, -1000.0F, inf,    std::nanf("")};
    const std::vector<int8_t> expected = {3,   -3,  1,    -1,   0,    127, 127,
                                          127, 127, -128, -128, -128, 127, 0};
    EXPECT_EQ((runCopy<float, int8_t>(*engine, real)), expected);
}

TEST(Int8Bindings, QuantiseThenDequantise_IsExactOnTheGrid) {
    NetworkHarness h;
    auto engine = copyEngine(h, 256, DataType::kINT8, 0.75F, DataType::kINT8, 0.75F);
    ASSERT_TRUE(engine) << h.logger().text();
    std::vector<int8_t> q(256);
    for (int i = 0; i < 256; ++i)
        q[i] = static_cast<int8_t>(i - 128);
    EXPECT_EQ((runCopy<int8_t, int8_t>(*engine, q)), q);
}

TEST(Int8Bindings, MissingDynamicRange_FailsTheBuild) {
    NetworkHarness h;
    nvinfer1::ITensor* input = h.net().addInput("in", DataType::kINT8, nvinfer1::Dims4(1, 1, 1, 4));
    h.output(h.net().addShuffle(*input)->getOutput(0), "out");
    EXPECT_FALSE(h.serialize());
    EXPECT_NE(h.logger().text().find("dynamic range"), std::string::npos) << h.logger().text();
}

// The int8 code by the textbook rule, one value at a time: divide, NaN to 0, saturate, round half
// away from zero.
int8_t referenceCode(float x, float scale) {
    const float scaled = x / scale;
    if (std::isnan(scaled)) {
        return 0;
    }
    return static_cast<int8_t>(std::round(std::min(std::max(scaled, -128.0F), 127.0F)));
}

// Values around every rounding tie and both saturation edges, specials, and a length that leaves
// partial vectors and a partial chunk, so vector bodies, tails and thread chunks are all met.
std::vector<float> roundingSweep(float scale) {
    std::vector<float> values;
    for (int step = -140 * 8; step <= 140 * 8; ++step) {
        const float code = static_cast<float>(step) / 8.0F;
        values.push_back(code * scale);
        values.push_back(std::nextafter(code * scale, 1e30F));
        values.push_back(std::nextafter(code * scale, -1e30F));
    }
    const float inf = std::numeric_limits<float>::infinity();
    for (float special : {inf, -inf, std::numeric_limits<float>::quiet_NaN(), 0.0F, -0.0F, 1e30F,
                          -1e30F, 1e-40F, -1e-40F}) {
        values.push_back(special);
    }
    while (values.size() < 2 * 16384 + 37) {
        values.push_back(values[values.size() % 977] * 0.75F);
    }
    return values;
}

class Int8Conversion : public ::testing::TestWithParam<float> {};

TEST_P(Int8Conversion, FastLoopsGiveTheBitsOfTheTextbookRule) {
    const float scale = GetParam();
    const std::vector<float> values = roundingSweep(scale);
    std::vector<int8_t> codes(values.size());
    trt_host::BindingConversion::quantizeInt8(values.data(), codes.data(), values.size(), scale);
    std::vector<float> rounded = values;  // in place, as the executor calls it
    trt_host::BindingConversion::fakeQuantizeInt8(rounded.data(), rounded.data(), rounded.size(),
                                                  scale);
    int mismatches = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int8_t expected = referenceCode(values[i], scale);
        const float expected_value = static_cast<float>(expected) * scale;
        const bool same =
            codes[i] == expected && std::memcmp(&rounded[i], &expected_value, sizeof(float)) == 0;
        if (!same && ++mismatches <= 5) {
            ADD_FAILURE() << "value " << values[i] << " code " << int{codes[i]} << " rounded "
                          << rounded[i] << ", expected " << int{expected} << " and "
                          << expected_value;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// 1 and 0.5: scales whose division the loops do as a multiplication; the others divide.
INSTANTIATE_TEST_SUITE_P(Scales, Int8Conversion,
                         ::testing::Values(1.0F, 0.5F, 1.0F / 127.0F, 3.0F / 127.0F, 1e-39F));

TEST(HalfBindings, HalfInHalfOut_KeepsEveryFiniteValue) {
    NetworkHarness h;
    auto engine = copyEngine(h, 0x7c00, DataType::kHALF, 0.0F, DataType::kHALF, 0.0F);
    ASSERT_TRUE(engine) << h.logger().text();
    std::vector<uint16_t> halves(0x7c00);
    for (std::size_t i = 0; i < halves.size(); ++i)
        halves[i] = static_cast<uint16_t>(i | (i % 2 ? 0x8000 : 0));
    EXPECT_EQ((runCopy<uint16_t, uint16_t>(*engine, halves)), halves);
}

TEST(HalfBindings, FloatToHalfOutput_RoundsToNearestEven) {
    NetworkHarness h;
    auto engine = copyEngine(h, 4, DataType::kFLOAT, 0.0F, DataType::kHALF, 0.0F);
    ASSERT_TRUE(engine) << h.logger().text();
    const std::vector<float> real = {1.0F + std::ldexp(1.0F, -11), 65520.0F, -65504.0F, 0.1F};
    const std::vector<uint16_t> expected = {0x3c00, 0x7c00, 0xfbff, 0x2e66};
    EXPECT_EQ((runCopy<float, uint16_t>(*engine, real)), expected);
}

}  // namespace
}  // namespace trt_test
