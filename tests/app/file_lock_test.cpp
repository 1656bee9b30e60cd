// FileLock between holders: flock conflicts between open files, so two objects in one process
// stand for two processes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cerrno>
#include <filesystem>

#include "app/denoise/src/file_lock.h"

namespace {

namespace fs = std::filesystem;
using krell::FileLock;

class FileLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/file-lock-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "x.lock").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::string path_;
};

TEST_F(FileLockTest, ASecondTryIsBusyUntilTheFirstHolderLetsGo) {
    {
        const FileLock first(path_, FileLock::Mode::kTry);
        ASSERT_TRUE(first.held());
        const FileLock second(path_, FileLock::Mode::kTry);
        EXPECT_FALSE(second.held());
        EXPECT_TRUE(second.busy());
        EXPECT_EQ(second.error(), 0);
    }
    const FileLock third(path_, FileLock::Mode::kTry);
    EXPECT_TRUE(third.held());
    EXPECT_FALSE(third.busy());
    // The file stays for the next holder.
    EXPECT_TRUE(fs::exists(path_));
}

TEST_F(FileLockTest, AFreeLockIsTakenWithoutAnnouncingAWait) {
    bool announced = false;
    const FileLock lock(path_, FileLock::Mode::kWait, [&announced] { announced = true; });
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(announced);
}

TEST_F(FileLockTest, AMissingFolderIsAnErrorNotBusy) {
    const FileLock lock((dir_ / "nowhere/x.lock").string(), FileLock::Mode::kWait);
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(lock.busy());
    EXPECT_EQ(lock.error(), ENOENT);
}

}  // namespace
