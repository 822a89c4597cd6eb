#include "platform/atomic/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using Branwick::Platform::SaveFileAtomically;

TEST(AtomicFile, ReplacesContentKeepsModeAndLeavesNoTemporary) {
    CorvaneTest::CTempFolder dir;
    const fs::path file = dir.Path() / "settings.xml";
    std::string error;
    ASSERT_TRUE(SaveFileAtomically(file, "old", error)) << error;
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(SaveFileAtomically(file, "new content", error)) << error;
    EXPECT_EQ(CorvaneTest::ReadAll(file), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(AtomicFile, FailureLeavesTargetAndSaysWhy) {
    std::string error;
    EXPECT_FALSE(SaveFileAtomically("/nonexistent-folder/x.xml", "data", error));
    EXPECT_NE(error.find("/nonexistent-folder/x.xml"), std::string::npos);
}

TEST(AtomicFile, KilledWriterLeavesOldOrNewNeverTorn) {
    CorvaneTest::CTempFolder dir;
    const fs::path file = dir.Path() / "big.bin";
    const std::string oldBytes(1 << 20, 'o');
    const std::string newBytes(3 << 20, 'n');
    std::string error;
    ASSERT_TRUE(SaveFileAtomically(file, oldBytes, error)) << error;
    for (int round = 0; round < 50; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string e;
            for (;;)
                SaveFileAtomically(file, (round % 2) ? newBytes : oldBytes, e);
        }
        ::usleep(200 + 397 * (round % 13));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::string now = CorvaneTest::ReadAll(file);
        EXPECT_TRUE(now == oldBytes || now == newBytes)
            << "torn file of " << now.size() << " bytes";
    }
}

TEST(AtomicFile, WritesThroughASymlinkAndRefusesHardLinks) {
    CorvaneTest::CTempFolder dir;
    const fs::path real = dir.Path() / "system.reg";
    const fs::path link = dir.Path() / "link.reg";
    std::string error;
    ASSERT_TRUE(SaveFileAtomically(real, "one", error)) << error;
    fs::create_symlink(real, link);
    ASSERT_TRUE(SaveFileAtomically(link, "two", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(CorvaneTest::ReadAll(real), "two");

    fs::create_hard_link(real, dir.Path() / "other.reg");
    EXPECT_FALSE(SaveFileAtomically(real, "three", error));
    EXPECT_NE(error.find("hard links"), std::string::npos);
    EXPECT_EQ(CorvaneTest::ReadAll(dir.Path() / "other.reg"), "two");
}
