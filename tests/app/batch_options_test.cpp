// The command line of cloud_denoiser-batch: where run finds its task, and what each
// sub-command accepts.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "app/batch/src/batch_options.h"

namespace {

using krell::batch::BatchOptions;

class BatchOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("SLURM_ARRAY_TASK_ID");
        unsetenv("JOB_COMPLETION_INDEX");
    }
    void TearDown() override { SetUp(); }

    bool parse(std::vector<std::string> args) {
        args.insert(args.begin(), "cloud_denoiser-batch");
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        options_ = BatchOptions();
        error_.clear();
        return krell::batch::parseOptions(static_cast<int>(argv.size()), argv.data(), options_,
                                          error_);
    }

    BatchOptions options_;
    std::string error_;
};

TEST_F(BatchOptionsTest, RunTakesItsTaskFromTheOptionThenSlurmThenKubernetes) {
    setenv("JOB_COMPLETION_INDEX", "5", 1);
    ASSERT_TRUE(parse({"run", "m.txt"})) << error_;
    EXPECT_EQ(options_.task, 5U);
    setenv("SLURM_ARRAY_TASK_ID", "3", 1);
    ASSERT_TRUE(parse({"run", "m.txt"}));
    EXPECT_EQ(options_.task, 3U);
    ASSERT_TRUE(parse({"run", "m.txt", "--task", "0"}));
    EXPECT_EQ(options_.task, 0U);
    EXPECT_TRUE(options_.manifest.is_absolute());
}

TEST_F(BatchOptionsTest, RunWithoutAUsableTaskIsAUsageError) {
    EXPECT_FALSE(parse({"run", "m.txt"}));
    EXPECT_NE(error_.find("--task"), std::string::npos);
    setenv("SLURM_ARRAY_TASK_ID", "4294967294", 1);
    EXPECT_FALSE(parse({"run", "m.txt"}));
    EXPECT_NE(error_.find("SLURM_ARRAY_TASK_ID"), std::string::npos) << error_;
    EXPECT_FALSE(parse({"run", "m.txt", "--task", "-1"}));
    EXPECT_FALSE(parse({"run", "m.txt", "--task", "1", "--all"}));
}

TEST_F(BatchOptionsTest, SubmitOptionsAreCollectedAndRefusedElsewhere) {
    ASSERT_TRUE(parse({"submit", "m.txt", "--partition", "gpu", "--max-parallel", "16",
                       "--sbatch-arg", "--gres=gpu:1", "--sbatch-arg", "--time=1:00:00"}))
        << error_;
    EXPECT_EQ(options_.partition, "gpu");
    EXPECT_EQ(options_.max_parallel, 16U);
    EXPECT_EQ(options_.sbatch_args, (std::vector<std::string>{"--gres=gpu:1", "--time=1:00:00"}));
    EXPECT_FALSE(parse({"submit", "m.txt", "--max-parallel", "0"}));
    EXPECT_FALSE(parse({"submit", "m.txt", "--max-parallel"}));
    EXPECT_FALSE(parse({"report", "m.txt", "--partition", "gpu"}));
    EXPECT_FALSE(parse({"plan"}));
    EXPECT_FALSE(parse({"engine", "m.txt"}));
    EXPECT_FALSE(parse({"denoise", "m.txt"}));
}

}  // namespace
