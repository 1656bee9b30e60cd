// The cloud_denoiser frame loop with an inference that fails on chosen frames: what is written,
// what is printed and the exit code.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/denoise/src/driver.h"
#include "app/denoise/src/frame_quantizer.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Printed {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/driver-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "in");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeFrame(const std::string& name) {
        std::ofstream(dir_ / "in" / name, std::ios::binary)
            << std::string(krell::frame::kRawFrameBytes, '\0');
    }

    // Frame n (counted from 1) predicts the byte n everywhere, or fails when n is in failing.
    Printed process(const std::string& input, const std::string& output,
                    const std::set<int>& failing) {
        int calls = 0;
        const krell::FrameInference infer = [&](const int8_t*, uint8_t* prediction) -> int32_t {
            ++calls;
            if (failing.count(calls) > 0) {
                return 1;
            }
            std::fill(prediction, prediction + krell::frame::kResultBytes,
                      static_cast<uint8_t>(calls));
            return 0;
        };
        Printed printed;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        printed.exit_code = krell::processPaths(infer, input, output);
        printed.err = testing::internal::GetCapturedStderr();
        printed.out = testing::internal::GetCapturedStdout();
        return printed;
    }

    fs::path dir_;
};

TEST_F(DriverTest, FailedInferenceWritesNoResultAndIsCounted) {
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"}) {
        writeFrame(name);
    }
    const std::string in = (dir_ / "in").string();
    const std::string out = (dir_ / "out").string();
    const Printed printed = process(in, out, {2, 3});
    EXPECT_EQ(printed.exit_code, krell::kExitFramesSkipped);
    // Without the check, b and c would be written with a's prediction left in the buffer.
    EXPECT_FALSE(fs::exists(dir_ / "out/b_result.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "out/c_result.bin"));
    EXPECT_EQ(readText(dir_ / "out/a_result.bin"), std::string(krell::frame::kResultBytes, '\1'));
    EXPECT_EQ(readText(dir_ / "out/d_result.bin"), std::string(krell::frame::kResultBytes, '\4'));
    EXPECT_NE(printed.out.find("inference error: " + in + "/b.bin (status 1), frame skipped\n"),
              std::string::npos)
        << printed.out;
    EXPECT_NE(printed.err.find("2 of 4 frames written, 2 skipped after a failed inference"),
              std::string::npos)
        << printed.err;
}

TEST_F(DriverTest, FailedInferenceOfASingleFileFailsTheRun) {
    writeFrame("one.bin");
    const std::string result = (dir_ / "one_result.bin").string();
    const Printed failed = process((dir_ / "in/one.bin").string(), result, {1});
    EXPECT_EQ(failed.exit_code, krell::kExitFramesSkipped);
    EXPECT_FALSE(fs::exists(result));
    EXPECT_NE(failed.err.find("0 of 1 frames written, 1 skipped after a failed inference"),
              std::string::npos);

    const Printed written = process((dir_ / "in/one.bin").string(), result, {});
    EXPECT_EQ(written.exit_code, 0);
    EXPECT_EQ(written.err, "");
    EXPECT_EQ(fs::file_size(result), krell::frame::kResultBytes);
    EXPECT_FALSE(fs::exists(result + ".part"));
}

}  // namespace
