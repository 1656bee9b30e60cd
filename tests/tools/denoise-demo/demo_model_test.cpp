// The hand-set demo network: the engine built from either container generation computes exactly
// what the plain-loop reference computes, across frames (the state really is carried), and the
// reference itself detects what the model claims to detect.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/denoise/src/denoise.h"
#include "app/denoise/src/frame_quantizer.h"
#include "tools/denoise-demo/demo_network.h"
#include "tools/denoise-demo/reference_denoiser.h"
#include "tools/denoise-demo/scorer.h"
#include "tools/denoise-demo/synthetic_scene.h"

namespace {

namespace fs = std::filesystem;
using krell::demo::kCols;
using krell::demo::kPoints;

class DemoModelTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/denoise-demo-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string writeModel(const std::string& version) {
        const std::string net = dir_ + "/demo.net";
        EXPECT_TRUE(krell::demo::writeNetworkFile(net, version));
        const std::string config = dir_ + "/test.json";
        std::ofstream(config) << krell::demo::makeConfig(net, dir_ + "/demo.engine").dump();
        return config;
    }

    std::string dir_;
};

std::vector<int8_t> quantized(const krell::demo::SceneFrame& frame) {
    std::vector<int8_t> planes(krell::frame::kQuantizedFrameBytes);
    krell::frame::quantizeFrame(frame.raw.data(), planes.data());
    return planes;
}

TEST_P(DemoModelTest, EngineMatchesReferenceOverThreeFrames) {
    krell::Denoise denoise;
    ASSERT_TRUE(denoise.Init(writeModel(GetParam()), 0));
    ASSERT_TRUE(denoise.recurrent());
    std::vector<int8_t> state(kPoints, 0);
    std::vector<int8_t> nextState(kPoints);
    std::vector<int8_t> expected(kPoints);
    std::vector<int8_t> actual(kPoints);
    for (int32_t index = 0; index < 3; ++index) {
        const std::vector<int8_t> planes = quantized(krell::demo::makeSceneFrame(5, index, 0.003));
        krell::demo::referenceDenoise(planes.data(), state.data(), expected.data(),
                                      nextState.data());
        ASSERT_EQ(denoise.Run(planes.data(), actual.data()), 0);
        int32_t mismatches = 0;
        for (int32_t i = 0; i < kPoints; ++i) {
            if (actual[i] != expected[i] && ++mismatches <= 5) {
                ADD_FAILURE() << "point " << i << " engine " << int{actual[i]} << " reference "
                              << int{expected[i]} << " x " << int{planes[i]} << " state "
                              << int{state[i]};
            }
        }
        EXPECT_EQ(mismatches, 0) << "frame " << index;
        state = nextState;
    }
}

// The state handed over by exchanging the bindings equals the state copied, frame after frame,
// and it is really carried: the same frame run on a fresh pipeline comes out differently.
TEST_P(DemoModelTest, SwappedStateMatchesCopiedStateAndReachesTheNextFrame) {
    const std::string config = writeModel(GetParam());
    krell::Denoise swapped;
    krell::Denoise copied;
    ASSERT_TRUE(swapped.Init(config, 0));
    ASSERT_TRUE(copied.Init(config, 0));
    copied.setStateHandoff(krell::Denoise::StateHandoff::kCopy);
    std::vector<int8_t> bySwap(kPoints);
    std::vector<int8_t> byCopy(kPoints);
    std::vector<std::vector<int8_t>> frames;
    for (int32_t index = 0; index < 4; ++index) {
        frames.push_back(quantized(krell::demo::makeSceneFrame(7, index, 0.003)));
        ASSERT_EQ(swapped.Run(frames.back().data(), bySwap.data()), 0);
        ASSERT_EQ(copied.Run(frames.back().data(), byCopy.data()), 0);
        EXPECT_EQ(bySwap, byCopy) << "frame " << index;
    }
    krell::Denoise fresh;
    ASSERT_TRUE(fresh.Init(config, 0));
    std::vector<int8_t> alone(kPoints);
    ASSERT_EQ(fresh.Run(frames.back().data(), alone.data()), 0);
    EXPECT_NE(alone, bySwap);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, DemoModelTest, ::testing::Values("v0.0.4", "0.0.2"));

// A flat wall at quantised distance -60 with one spurious return and one small reflector.
std::vector<int8_t> wallWith(int32_t spurious, int32_t reflector) {
    std::vector<int8_t> planes(krell::frame::kQuantizedFrameBytes, 0);
    for (int32_t i = 0; i < kPoints; ++i) {
        planes[i] = -60;
    }
    planes[spurious] = -110;
    planes[reflector] = -75;
    return planes;
}

TEST(DemoReferenceTest, FlagsLoneReturnsAndKeepsReflectorsThatStay) {
    const int32_t spurious = 10 * kCols + 100;
    const int32_t reflector = 30 * kCols + 900;
    std::vector<int8_t> state(kPoints, 0);
    std::vector<int8_t> nextState(kPoints);
    std::vector<int8_t> result(kPoints);

    krell::demo::referenceDenoise(wallWith(spurious, reflector).data(), state.data(), result.data(),
                                  nextState.data());
    EXPECT_EQ(result[spurious], krell::demo::kNoiseScore);
    EXPECT_EQ(result[reflector], krell::demo::kNoiseScore);  // nothing known about it yet
    EXPECT_EQ(result[spurious + 1], 0);

    // Next frame: the reflector is where it was, the spurious return moved elsewhere.
    const int32_t moved = 50 * kCols + 2000;
    krell::demo::referenceDenoise(wallWith(moved, reflector).data(), nextState.data(),
                                  result.data(), state.data());
    EXPECT_EQ(result[reflector], 0);
    EXPECT_EQ(result[moved], krell::demo::kNoiseScore);
    EXPECT_EQ(result[spurious], 0);
}

TEST(DemoScorerTest, CountsHitsMissesAndFalseAlarms) {
    const std::vector<uint8_t> labels = {1, 1, 0, 0, 1};
    const std::vector<uint8_t> results = {100, 49, 50, 0, static_cast<uint8_t>(-100)};
    krell::demo::Score score;
    score.add(results.data(), labels.data(), 5);
    EXPECT_EQ(score.true_positive, 1);
    EXPECT_EQ(score.false_positive, 1);
    EXPECT_EQ(score.false_negative, 2);
    EXPECT_DOUBLE_EQ(score.precision(), 0.5);
    EXPECT_NEAR(score.recall(), 1.0 / 3.0, 1e-12);
}

}  // namespace
