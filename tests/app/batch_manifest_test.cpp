// cloud_denoiser-batch without the pipeline: reading manifests, checking their folders, judging
// whether a sequence is complete, and the array list handed to sbatch.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/batch/src/batch_checks.h"
#include "app/batch/src/manifest.h"
#include "app/batch/src/sequence_status.h"
#include "app/batch/src/sequence_summary.h"
#include "app/batch/src/slurm_submission.h"

namespace {

namespace fs = std::filesystem;
using krell::batch::Manifest;
using krell::batch::ManifestEntry;
using krell::batch::SequenceState;

class BatchFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/batch-manifest-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void touch(const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
    }

    fs::path dir_;
};

TEST(ManifestParse, CommentsBlankLinesAndCarriageReturnsAreSkippedAndPathsResolved) {
    const Manifest manifest =
        Manifest::parse("# recordings of day 1\n\n  in/a   out/a\r\n/abs/in\t/abs/out\n", "/data");
    ASSERT_TRUE(manifest.ok());
    ASSERT_EQ(manifest.entries().size(), 2U);
    EXPECT_EQ(manifest.entries()[0].line, 3U);
    EXPECT_EQ(manifest.entries()[0].input, fs::path("/data/in/a"));
    EXPECT_EQ(manifest.entries()[0].output, fs::path("/data/out/a"));
    EXPECT_EQ(manifest.entries()[1].line, 4U);
    EXPECT_EQ(manifest.entries()[1].output, fs::path("/abs/out"));
}

TEST(ManifestParse, BadLinesAreReportedWithTheirNumbers) {
    const Manifest manifest = Manifest::parse("in/a out/a\nonly-one\nin/c out/c\nx y z\n", "/d");
    ASSERT_EQ(manifest.problems().size(), 2U);
    EXPECT_EQ(manifest.problems()[0].describe("m.txt"),
              "m.txt:2: expected 2 fields (input folder, output folder), found 1");
    EXPECT_EQ(manifest.problems()[1].line, 4U);
    EXPECT_NE(manifest.problems()[1].message.find("blanks"), std::string::npos);
    EXPECT_EQ(manifest.entries().size(), 2U);
}

TEST(ManifestParse, AManifestWithoutSequencesIsAProblem) {
    EXPECT_FALSE(Manifest::parse("# nothing yet\n\n", "/d").ok());
    EXPECT_EQ(Manifest::load("/nonexistent/manifest.txt").problems().at(0).message,
              "cannot be read");
}

class EntryCheckTest : public BatchFolderTest {};

TEST_F(EntryCheckTest, EveryUnusableFolderIsNamedWithItsLine) {
    fs::create_directories(dir_ / "in");
    touch(dir_ / "file");
    const std::vector<ManifestEntry> entries = {
        {1, dir_ / "in", dir_ / "new/deeper/out"},  // fine: created by the task
        {2, dir_ / "missing", dir_ / "out2"},
        {3, dir_ / "file", dir_ / "out3"},
        {4, dir_ / "in", dir_ / "file"},
        {5, dir_ / "in", dir_ / "in"},
        {6, dir_ / "in", dir_ / "new/deeper/out"},
    };
    const auto problems = krell::batch::checkEntries(entries);
    ASSERT_EQ(problems.size(), 5U);
    EXPECT_EQ(problems[0].line, 2U);
    EXPECT_NE(problems[0].message.find("does not exist"), std::string::npos);
    EXPECT_NE(problems[1].message.find("is not a folder"), std::string::npos);
    EXPECT_NE(problems[2].message.find("exists and is not a folder"), std::string::npos);
    EXPECT_NE(problems[3].message.find("same folder"), std::string::npos);
    EXPECT_EQ(problems[4].line, 6U);
    EXPECT_NE(problems[4].message.find("is also the output of line 1"), std::string::npos);
}

class SequenceStatusTest : public BatchFolderTest {
protected:
    void SetUp() override {
        BatchFolderTest::SetUp();
        entry_ = {1, dir_ / "in", dir_ / "out"};
        touch(entry_.input / "f0.bin");
        touch(entry_.input / "f1.bin");
    }

    void writeResults() {
        touch(entry_.output / "f0_result.bin");
        touch(entry_.output / "f1_result.bin");
    }

    void writeSummary(int exitStatus) {
        krell::batch::SequenceSummary summary;
        summary.input = entry_.input.string();
        summary.output = entry_.output.string();
        summary.exit_status = exitStatus;
        std::string error;
        ASSERT_TRUE(krell::batch::writeSummary(summary, error)) << error;
    }

    void makeNewer(const fs::path& path) {
        fs::last_write_time(path, fs::last_write_time(entry_.output / "f0_result.bin") +
                                      std::chrono::seconds(5));
    }

    SequenceState state() const { return krell::batch::assessSequence(entry_).state; }

    ManifestEntry entry_;
};

TEST_F(SequenceStatusTest, ResultsWithoutSummaryAreNotComplete) {
    writeResults();
    EXPECT_EQ(state(), SequenceState::kNotRun);
}

TEST_F(SequenceStatusTest, SummaryAndFreshResultsAreComplete) {
    writeResults();
    writeSummary(0);
    EXPECT_EQ(state(), SequenceState::kComplete);
}

TEST_F(SequenceStatusTest, AFrameChangedOrAddedAfterItsResultMakesTheSequenceStale) {
    writeResults();
    writeSummary(0);
    makeNewer(entry_.input / "f1.bin");
    EXPECT_EQ(state(), SequenceState::kStale);
    fs::last_write_time(entry_.input / "f1.bin", fs::last_write_time(entry_.input / "f0.bin"));
    touch(entry_.input / "f2.bin");
    const auto status = krell::batch::assessSequence(entry_);
    EXPECT_EQ(status.state, SequenceState::kStale);
    EXPECT_NE(status.reason.find("f2.bin"), std::string::npos) << status.reason;
}

TEST_F(SequenceStatusTest, AFailedRunIsFailedEvenWithAllResults) {
    writeResults();
    writeSummary(3);
    EXPECT_EQ(state(), SequenceState::kFailed);
}

TEST_F(SequenceStatusTest, ASummaryOfAnotherInputOrAGarbledOneDoesNotCount) {
    writeResults();
    writeSummary(0);
    entry_.input = dir_ / "other";
    fs::copy(dir_ / "in", entry_.input);
    EXPECT_EQ(state(), SequenceState::kStale);
    std::ofstream(krell::batch::summaryPath(entry_.output), std::ios::trunc) << "{\"frames\": ";
    const auto status = krell::batch::assessSequence(entry_);
    EXPECT_EQ(status.state, SequenceState::kNotRun);
    EXPECT_NE(status.reason.find("is not a summary"), std::string::npos) << status.reason;
}

TEST(SlurmArraySpec, ConsecutiveTasksBecomeRangesWithTheThrottleAppended) {
    krell::batch::SubmitSettings settings;
    settings.manifest = "/m.txt";
    settings.tasks = {0, 1, 2, 5, 7, 8};
    settings.max_parallel = 2;
    EXPECT_EQ(krell::batch::SlurmSubmission(settings).arraySpec(), "0-2,5,7-8%2");
    settings.tasks = {3};
    settings.max_parallel = 0;
    EXPECT_EQ(krell::batch::SlurmSubmission(settings).arraySpec(), "3");
}

}  // namespace
