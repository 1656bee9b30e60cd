// cloud_denoiser-batch run as a Slurm task runs it, in a folder holding the demo model, over
// real frame folders; its results are compared with cloud_denoiser's own, byte for byte. sbatch
// is a stand-in script here (the real Slurm test is tests/slurm/).
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/denoise/src/file_lock.h"
#include "tools/denoise-demo/demo_network.h"
#include "tools/denoise-demo/synthetic_scene.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A program started in the background with its output in files; killed if still running at
// the end of the test.
class Child {
public:
    Child(const fs::path& dir, const std::string& command, const std::string& tag) {
        const std::string line = "cd '" + dir.string() + "' && exec " + command + " >" + tag +
                                 ".out 2>" + tag + ".err";
        pid_ = fork();
        if (pid_ == 0) {
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    //! The exit code (also when asked again later), or -1 when it has not ended by then.
    int waitFor(std::chrono::milliseconds limit) {
        const Clock::time_point deadline = Clock::now() + limit;
        int status = 0;
        while (pid_ > 0) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (Clock::now() >= deadline) {
                return -1;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return exit_code_;
    }
    void killNow() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
        }
    }

private:
    pid_t pid_ = -1;
    int exit_code_ = -1;
};

class BatchProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/batch-program-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_TRUE(krell::demo::writeModelFolder(dir_.string()));
    }
    void TearDown() override { fs::remove_all(dir_); }

    void makeSequence(const std::string& name, int32_t frames, uint32_t seed) {
        const fs::path labels = dir_ / "labels" / name;
        fs::create_directories(labels);
        fs::create_directories(dir_ / "seq" / name);
        ASSERT_TRUE(krell::demo::writeSequence((dir_ / "seq" / name).string(), labels.string(),
                                               seed, frames, 0.003));
    }
    void writeManifest(const std::string& text) { std::ofstream(dir_ / "m.txt") << text; }

    int run(const std::string& command, const std::string& tag = "run") {
        Child child(dir_, command, tag);
        return child.waitFor(std::chrono::seconds(60));
    }
    int batch(const std::string& args, const std::string& tag = "run") {
        return run("'" CLOUD_DENOISER_BATCH_PATH "' " + args, tag);
    }
    std::string out(const std::string& tag = "run") { return readText(dir_ / (tag + ".out")); }
    std::string err(const std::string& tag = "run") { return readText(dir_ / (tag + ".err")); }

    // cloud_denoiser's own results for a sequence, in direct/<name>.
    void runDirect(const std::string& name) {
        ASSERT_EQ(run("'" CLOUD_DENOISER_PATH "' seq/" + name + " direct/" + name, "direct"), 0)
            << err("direct");
    }
    void expectSameResults(const std::string& name, const fs::path& output) {
        size_t compared = 0;
        for (const auto& entry : fs::directory_iterator(dir_ / "direct" / name)) {
            const fs::path mine = output / entry.path().filename();
            ASSERT_TRUE(fs::exists(mine)) << mine;
            EXPECT_EQ(readText(mine), readText(entry.path())) << mine;
            ++compared;
        }
        EXPECT_GT(compared, 0U);
    }
    nlohmann::json summaryOf(const fs::path& output) {
        return nlohmann::json::parse(readText(output / "denoise_summary.json"));
    }

    fs::path dir_;
};

TEST_F(BatchProgramTest, TaskMatchesCloudDenoiserAndARepeatedTaskDoesNothing) {
    makeSequence("a", 3, 1);
    makeSequence("b", 4, 2);
    writeManifest("seq/a out/a\nseq/b out/b\n");
    ASSERT_EQ(batch("run m.txt --task 1"), 0) << err();
    runDirect("b");
    expectSameResults("b", dir_ / "out/b");
    const nlohmann::json summary = summaryOf(dir_ / "out/b");
    EXPECT_EQ(summary["frames"], 4);
    EXPECT_EQ(summary["written"], 4);
    EXPECT_EQ(summary["skipped"], 0);
    EXPECT_EQ(summary["exit_status"], 0);
    EXPECT_GT(summary["frames_per_second"].get<double>(), 0.0);
    EXPECT_GT(summary["engine_build_seconds"].get<double>(), 0.0);
    EXPECT_FALSE(fs::exists(dir_ / "out/a"));

    const auto resultTime = fs::last_write_time(dir_ / "out/b/frame_0000_result.bin");
    ASSERT_EQ(run("env SLURM_ARRAY_TASK_ID=1 '" CLOUD_DENOISER_BATCH_PATH "' run m.txt"), 0);
    EXPECT_NE(err().find("complete; nothing to do"), std::string::npos) << err();
    EXPECT_EQ(fs::last_write_time(dir_ / "out/b/frame_0000_result.bin"), resultTime);
}

TEST_F(BatchProgramTest, AChangedFrameOrAFailedRunIsRedone) {
    makeSequence("a", 2, 1);
    writeManifest("seq/a out/a\n");
    ASSERT_EQ(batch("run m.txt --task 0"), 0) << err();
    fs::last_write_time(dir_ / "seq/a/frame_0001.bin",
                        fs::last_write_time(dir_ / "out/a/denoise_summary.json") +
                            std::chrono::seconds(10));
    ASSERT_EQ(batch("run m.txt --task 0"), 0);
    EXPECT_NE(err().find("frame_0001.bin has no result as new as itself, running"),
              std::string::npos)
        << err();

    // A short frame: the run goes through, but the sequence counts as failed until it is fixed.
    std::ofstream(dir_ / "seq/a/frame_0002.bin") << "short";
    EXPECT_EQ(batch("run m.txt --task 0"), 3);
    const nlohmann::json summary = summaryOf(dir_ / "out/a");
    EXPECT_EQ(summary["exit_status"], 3);
    EXPECT_EQ(summary["skipped_frames"], nlohmann::json::array({"frame_0002.bin"}));
    EXPECT_EQ(batch("report m.txt", "report"), 3);
    EXPECT_NE(out("report").find("1 sequences: 0 done, 1 failed"), std::string::npos)
        << out("report");
}

TEST_F(BatchProgramTest, ARunKilledMidwayLeavesNothingThatLooksCompleteAndIsRedone) {
    // Many frames (hard links of a few, so the disk holds little) keep the run busy long enough
    // to stop it midway.
    makeSequence("long", 4, 3);
    for (int i = 4; i < 150; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "frame_%04d.bin", i);
        fs::create_hard_link(dir_ / "seq/long" / ("frame_000" + std::to_string(i % 4) + ".bin"),
                             dir_ / "seq/long" / name);
    }
    writeManifest("seq/long out/long\n");
    ASSERT_EQ(batch("engine", "engine"), 0) << err("engine");
    {
        Child task(dir_, "'" CLOUD_DENOISER_BATCH_PATH "' run m.txt --task 0", "killed");
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
        while (!fs::exists(dir_ / "out/long/frame_0010_result.bin") && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(task.waitFor(std::chrono::milliseconds(0)), -1) << "ended before the kill";
        task.killNow();
        task.waitFor(std::chrono::seconds(5));
    }
    EXPECT_FALSE(fs::exists(dir_ / "out/long/denoise_summary.json"));
    // What a writer killed mid-file leaves behind.
    std::ofstream(dir_ / "out/long/frame_0001_result.bin.part") << "half";
    EXPECT_EQ(batch("report m.txt", "report"), 3);
    EXPECT_NE(out("report").find("not run"), std::string::npos) << out("report");
    ASSERT_EQ(batch("plan m.txt", "plan"), 0);
    EXPECT_NE(out("plan").find("1 to run, 0 complete"), std::string::npos) << out("plan");

    ASSERT_EQ(batch("run m.txt --all"), 0) << err();
    EXPECT_FALSE(fs::exists(dir_ / "out/long/frame_0001_result.bin.part"));
    runDirect("long");
    expectSameResults("long", dir_ / "out/long");
    EXPECT_EQ(batch("report m.txt", "report"), 0) << out("report");
}

TEST_F(BatchProgramTest, ASequenceThatAnotherProcessRunsIsLeftAlone) {
    makeSequence("a", 2, 1);
    writeManifest("seq/a out/a\n");
    fs::create_directories(dir_ / "out/a");
    std::ofstream(dir_ / "out/a/frame_0000_result.bin") << "being written by the other run";
    {
        const krell::FileLock other((dir_ / "out/a/denoise_run.lock").string(),
                                    krell::FileLock::Mode::kWait);
        ASSERT_TRUE(other.held());
        EXPECT_EQ(batch("run m.txt --task 0"), 7);
        EXPECT_NE(err().find("another process is running it"), std::string::npos) << err();
        EXPECT_EQ(readText(dir_ / "out/a/frame_0000_result.bin"), "being written by the other run");
    }
    ASSERT_EQ(batch("run m.txt --task 0"), 0) << err();
    runDirect("a");
    expectSameResults("a", dir_ / "out/a");
}

TEST_F(BatchProgramTest, BadManifestsAndModelsAreRefusedWithTheirReason) {
    makeSequence("a", 1, 1);
    writeManifest("seq/a out/a\nseq/nowhere out/n\nseq/a\n");
    EXPECT_EQ(batch("plan m.txt"), 2);
    EXPECT_NE(err().find("m.txt:2: input folder " + (dir_ / "seq/nowhere").string() +
                         " does not exist"),
              std::string::npos)
        << err();
    EXPECT_NE(err().find("m.txt:3: expected 2 fields"), std::string::npos) << err();
    // A bad line shifts the numbering after it, so no task runs from such a manifest.
    EXPECT_EQ(batch("run m.txt --task 0"), 2);
    EXPECT_FALSE(fs::exists(dir_ / "out/a"));

    writeManifest("seq/a out/a\n");
    EXPECT_EQ(batch("run m.txt --task 1"), 2);
    EXPECT_NE(err().find("task 1 is outside the manifest: it lists 1 sequences (0..0)"),
              std::string::npos)
        << err();
    EXPECT_EQ(batch("run m.txt"), 1);
    EXPECT_EQ(batch("plan m.txt --task 0"), 1);

    fs::remove(dir_ / "model/demo.net");
    EXPECT_EQ(batch("plan m.txt"), 4);
    EXPECT_NE(err().find("network file model/demo.net"), std::string::npos) << err();
    EXPECT_EQ(batch("run m.txt --task 0"), 4);
    EXPECT_EQ(summaryOf(dir_ / "out/a")["exit_status"], 4);
}

TEST_F(BatchProgramTest, ConcurrentEngineBuildersBuildOneUsableEngine) {
    // While the lock is held nobody builds; the waiting builders then find the engine built
    // by the first of them and use it.
    auto lock = std::make_unique<krell::FileLock>(
        krell::engineLockPath((dir_ / "model/demo.engine").string()), krell::FileLock::Mode::kWait);
    ASSERT_TRUE(lock->held());
    std::vector<std::unique_ptr<Child>> builders;
    for (int i = 0; i < 4; ++i) {
        builders.push_back(std::make_unique<Child>(dir_, "'" CLOUD_DENOISER_BATCH_PATH "' engine",
                                                   "engine" + std::to_string(i)));
    }
    EXPECT_EQ(builders[0]->waitFor(std::chrono::milliseconds(500)), -1);
    EXPECT_FALSE(fs::exists(dir_ / "model/demo.engine"));
    lock.reset();
    for (size_t i = 0; i < builders.size(); ++i) {
        EXPECT_EQ(builders[i]->waitFor(std::chrono::seconds(30)), 0)
            << err("engine" + std::to_string(i));
    }
    EXPECT_NE(err("engine0").find("waiting for another process building the engine"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "model/demo.engine.part"));
    makeSequence("a", 2, 1);
    writeManifest("seq/a out/a\n");
    ASSERT_EQ(batch("run m.txt --task 0"), 0) << err();
    EXPECT_EQ(summaryOf(dir_ / "out/a")["engine_build_seconds"], 0.0);
    runDirect("a");
    expectSameResults("a", dir_ / "out/a");
}

TEST_F(BatchProgramTest, SubmitSendsOnlyIncompleteSequencesAfterAnEngineJob) {
    makeSequence("a", 1, 1);
    makeSequence("b", 1, 2);
    makeSequence("c", 1, 3);
    writeManifest("seq/a out/a\nseq/b out/b\nseq/c out/c\n");
    // A stand-in sbatch that records its arguments and answers with job ids 41, 42, ...
    fs::create_directories(dir_ / "bin");
    std::ofstream(dir_ / "bin/sbatch") << "#!/bin/sh\n"
                                          "echo \"$*\" >> '" << (dir_ / "sbatch.calls").string()
                                       << "'\nn=$(wc -l < '" << (dir_ / "sbatch.calls").string()
                                       << "')\necho $((40 + n))\n";
    fs::permissions(dir_ / "bin/sbatch", fs::perms::owner_all);
    const std::string env = "env PATH='" + (dir_ / "bin").string() + "':$PATH ";
    ASSERT_EQ(run(env + "'" CLOUD_DENOISER_BATCH_PATH "' run m.txt --task 1"), 0) << err();
    fs::remove(dir_ / "model/demo.engine");
    ASSERT_EQ(run(env + "'" CLOUD_DENOISER_BATCH_PATH
                        "' submit m.txt --partition gpu --max-parallel 2 --sbatch-arg --gres=gpu:1"),
              0)
        << err();
    EXPECT_EQ(out(), "42\n");
    const std::string calls = readText(dir_ / "sbatch.calls");
    const std::string folder = (dir_ / "m.txt.slurm").string();
    EXPECT_EQ(calls, "--parsable --partition=gpu --gres=gpu:1 " + folder + "/engine.sh\n" +
                         "--parsable --partition=gpu --gres=gpu:1 --array=0,2%2 "
                         "--dependency=afterok:41 --kill-on-invalid-dep=yes " +
                         folder + "/array.sh\n");
    const std::string script = readText(folder + "/array.sh");
    EXPECT_NE(script.find("cd '" + dir_.string() + "' || exit 4"), std::string::npos) << script;
    EXPECT_NE(script.find("run '" + (dir_ / "m.txt").string() + "' --task \"$SLURM_ARRAY_TASK_ID\""),
              std::string::npos)
        << script;
    EXPECT_TRUE(fs::is_directory(folder + "/logs"));

    // sbatch refusing: exit 5 and its reason.
    std::ofstream(dir_ / "bin/sbatch", std::ios::trunc)
        << "#!/bin/sh\necho 'sbatch: error: invalid partition' >&2\nexit 1\n";
    EXPECT_EQ(run(env + "'" CLOUD_DENOISER_BATCH_PATH "' submit m.txt"), 5);
    EXPECT_NE(err().find("invalid partition"), std::string::npos) << err();
}

}  // namespace
