// The cloud_denoiser program run as users run it: in a working directory holding
// config/test.json and the demo model, over real files.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/denoise-demo/demo_network.h"
#include "tools/denoise-demo/synthetic_scene.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t kFrameBytes = 2621440;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class CloudDenoiserTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/cloud-denoiser-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_TRUE(krell::demo::writeModelFolder(dir_.string()));
        frame_ = krell::demo::makeSceneFrame(3, 0, 0.003).raw;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string command(const std::string& args) const {
        return "cd '" + dir_.string() + "' && '" CLOUD_DENOISER_PATH "' " + args +
               " >stdout.txt 2>stderr.txt";
    }

    RunResult run(const std::string& args) { return collect(std::system(command(args).c_str())); }

    // Runs the program with files limited to maxFileBytes, as on a nearly full disk: a write
    // past the limit comes back short and then fails with EFBIG (SIGXFSZ is ignored).
    RunResult runWithFileLimit(const std::string& args, rlim_t maxFileBytes) {
        const std::string line = command(args);
        const pid_t child = fork();
        if (child == 0) {
            const rlimit limit{maxFileBytes, maxFileBytes};
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &limit) == 0) {
                execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return collect(status);
    }

    void writeConfig(const nlohmann::json& config) {
        std::ofstream(dir_ / "config/test.json", std::ios::trunc) << config.dump();
    }

    RunResult collect(int status) {
        RunResult result;
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = readText(dir_ / "stdout.txt");
        result.err = readText(dir_ / "stderr.txt");
        return result;
    }

    fs::path dir_;
    std::vector<uint8_t> frame_;
};

TEST_F(CloudDenoiserTest, FolderIsProcessedInPathOrderAndShortFilesAreReported) {
    fs::create_directories(dir_ / "in");
    writeBytes(dir_ / "in/b.bin", frame_);
    writeBytes(dir_ / "in/a.bin", frame_);
    writeBytes(dir_ / "in/notes.txt", std::vector<uint8_t>(kFrameBytes - 1, 0));
    fs::create_directories(dir_ / "in/sub");
    const RunResult result = run("in out/nested");
    EXPECT_EQ(result.exit_code, 3);
    const size_t a = result.out.find("File: in/a.bin :DeNoise Network time: ");
    const size_t b = result.out.find("File: in/b.bin :DeNoise Network time: ");
    const size_t notes = result.out.find("file size error: 2621439\n");
    ASSERT_NE(a, std::string::npos) << result.out;
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(notes, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, notes);
    EXPECT_EQ(fs::file_size(dir_ / "out/nested/a_result.bin"), 163840U);
    EXPECT_EQ(fs::file_size(dir_ / "out/nested/b_result.bin"), 163840U);
    EXPECT_FALSE(fs::exists(dir_ / "out/nested/notes_result.bin"));
    EXPECT_NE(result.err.find("2 of 3 frames written"), std::string::npos) << result.err;
}

TEST_F(CloudDenoiserTest, SecondOfTwoIdenticalFramesSeesTheStateOfTheFirst) {
    fs::create_directories(dir_ / "in");
    writeBytes(dir_ / "in/f0.bin", frame_);
    writeBytes(dir_ / "in/f1.bin", frame_);
    ASSERT_EQ(run("in out").exit_code, 0);
    const std::string first = readText(dir_ / "out/f0_result.bin");
    const std::string second = readText(dir_ / "out/f1_result.bin");
    ASSERT_EQ(first.size(), 163840U);
    // Everything was seen before in the second frame, so nothing is new there.
    EXPECT_NE(first, second);
    EXPECT_EQ(second, std::string(163840, '\0'));
}

TEST_F(CloudDenoiserTest, EngineIsBuiltOnceThenReused) {
    writeBytes(dir_ / "one.bin", frame_);
    const RunResult built = run("one.bin one_result.bin");
    ASSERT_EQ(built.exit_code, 0) << built.out;
    EXPECT_NE(built.out.find("Build rimg engine successfully!"), std::string::npos);
    EXPECT_NE(built.out.find("input_path is a file\n"), std::string::npos);
    const std::string engine = readText(dir_ / "model/demo.engine");
    ASSERT_FALSE(engine.empty());
    const std::string result = readText(dir_ / "one_result.bin");

    const RunResult reused = run("one.bin again.bin");
    EXPECT_EQ(reused.exit_code, 0);
    EXPECT_EQ(reused.out.find("Building rimg engine"), std::string::npos);
    EXPECT_EQ(readText(dir_ / "model/demo.engine"), engine);
    EXPECT_EQ(readText(dir_ / "again.bin"), result);
}

TEST_F(CloudDenoiserTest, LongerFileIsReadOnlyUpToTheFrame) {
    writeBytes(dir_ / "exact.bin", frame_);
    std::vector<uint8_t> longer = frame_;
    longer.resize(kFrameBytes + 4096, 0xFF);
    writeBytes(dir_ / "long.bin", longer);
    ASSERT_EQ(run("exact.bin exact_result.bin").exit_code, 0);
    const RunResult result = run("long.bin long_result.bin");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("file size: 2625536\n"), std::string::npos);
    EXPECT_EQ(readText(dir_ / "long_result.bin"), readText(dir_ / "exact_result.bin"));
}

TEST_F(CloudDenoiserTest, PathErrorsPrintTheirMessageAndFail) {
    const std::string pathError =
        "ERROR: input folder or file not exist or output_folder isn't a folder\n";
    RunResult missing = run("nowhere out");
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_NE(missing.out.find(pathError), std::string::npos);

    fs::create_directories(dir_ / "in");
    writeBytes(dir_ / "plain_file", frame_);
    EXPECT_NE(run("in plain_file").out.find(pathError), std::string::npos);

    const RunResult same = run("in ./in");
    EXPECT_EQ(same.exit_code, 2);
    EXPECT_NE(same.out.find("ERROR: input_path equals to output_path\n"), std::string::npos);

    const RunResult usage = run("only_one");
    EXPECT_EQ(usage.exit_code, 1);
    EXPECT_NE(
        usage.out.find("Usage: ./cloud_denoiser <pointcloud folder/file> <result folder/file>\n"),
        std::string::npos);
}

TEST_F(CloudDenoiserTest, CorruptContainersGiveAMessageAndNoCrash) {
    writeBytes(dir_ / "one.bin", frame_);
    std::string net = readText(dir_ / "model/demo.net");
    net.resize(net.size() / 2);
    std::ofstream(dir_ / "model/demo.net", std::ios::binary | std::ios::trunc) << net;
    const RunResult truncated = run("one.bin r.bin");
    EXPECT_EQ(truncated.exit_code, 4) << truncated.out << truncated.err;
    EXPECT_FALSE(fs::exists(dir_ / "model/demo.engine"));
    EXPECT_FALSE(fs::exists(dir_ / "r.bin"));

    std::ofstream(dir_ / "model/demo.engine", std::ios::binary)
        << std::string("\x08\0\0\0", 4) << "garbage!";
    const RunResult garbage = run("one.bin r.bin");
    EXPECT_GT(garbage.exit_code, 0);
    EXPECT_LT(garbage.exit_code, 128) << "killed by a signal";
    EXPECT_FALSE(fs::exists(dir_ / "r.bin"));
}

TEST_F(CloudDenoiserTest, HalfPrecisionEngineIsRefusedBeforeAnyFrame) {
    // A float16 engine's input binding is twice the quantised frame: copying it whole would read
    // past the frame and write past the result.
    nlohmann::json config = krell::demo::makeConfig("model/demo.net", "model/demo.engine");
    config["data_type"] = "float16";
    config["engine"]["rimg"]["data_type"] = "float16";
    writeConfig(config);
    writeBytes(dir_ / "one.bin", frame_);
    const RunResult result = run("one.bin r.bin");
    EXPECT_EQ(result.exit_code, 4) << result.out << result.err;
    EXPECT_NE(result.out.find("The binding rimg_input_features of rimg holds 1310720 bytes, but "
                              "the host area for it holds 655360 bytes"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("The binding noise_rimg_preds of rimg holds 327680 bytes, but the "
                              "host area for it holds 163840 bytes"),
              std::string::npos);
    EXPECT_EQ(result.out.find("DeNoise Network time"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "r.bin"));
}

TEST_F(CloudDenoiserTest, MissingRunnerIsTheParameterModelsTypeError) {
    nlohmann::json config = krell::demo::makeConfig("model/demo.net", "model/demo.engine");
    config.erase("runner");
    writeConfig(config);
    writeBytes(dir_ / "one.bin", frame_);
    const RunResult result = run("one.bin r.bin");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("type must be string, but is null"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "r.bin"));
}

TEST_F(CloudDenoiserTest, ShortResultWriteLeavesThePreviousFileAndNoTemporary) {
    writeBytes(dir_ / "one.bin", frame_);
    ASSERT_EQ(run("one.bin built.bin").exit_code, 0);  // the engine file is written unlimited
    std::ofstream(dir_ / "r.bin") << "previous";
    const RunResult full = runWithFileLimit("one.bin r.bin", 40960);
    EXPECT_EQ(full.exit_code, 3) << full.out << full.err;
    EXPECT_NE(full.out.find("write file error: r.bin: File too large\n"), std::string::npos)
        << full.out;
    EXPECT_EQ(readText(dir_ / "r.bin"), "previous");
    EXPECT_FALSE(fs::exists(dir_ / "r.bin.part"));

    fs::create_directories(dir_ / "in");
    writeBytes(dir_ / "in/f0.bin", frame_);
    const RunResult folder = runWithFileLimit("in out", 40960);
    EXPECT_EQ(folder.exit_code, 3);
    EXPECT_NE(folder.err.find("0 of 1 frames written, 0 skipped after a failed inference"),
              std::string::npos)
        << folder.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

}  // namespace
