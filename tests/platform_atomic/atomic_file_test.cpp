#include "platform/atomic/atomic_file.h"
#include "platform/atomic/confined.h"

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

TEST(ConfinedFolder, OpensBelowItsRootAndRefusesLinksAndEscapes) {
    CorvaneTest::CTempFolder dir;
    const fs::path root = dir / "root", outside = dir / "outside";
    fs::create_directories(root / "a" / "b");
    fs::create_directories(outside);
    fs::create_symlink(outside, root / "a" / "link");
    Branwick::Platform::CConfinedFolder folder;

    EXPECT_TRUE(folder.Open(root, root / "a" / "b"));
    EXPECT_TRUE(folder.Open(root, root));
    EXPECT_FALSE(folder.Open(root, root / "a" / "link"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(folder.IsOpen());
    EXPECT_FALSE(folder.Open(root, outside));
    EXPECT_EQ(errno, EXDEV);
    EXPECT_FALSE(folder.Open(root, (root / "a" / ".." / "..").string()));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(folder.Open(root, root.string() + "sibling"));  // a longer name is not below
    EXPECT_EQ(errno, EXDEV);
}

TEST(AtomicFile, ConfinedWriteFollowsALinkOnlyWhenItStaysInside) {
    CorvaneTest::CTempFolder dir;
    const fs::path prefix = dir / "prefix", outside = dir / "outside.reg";
    fs::create_directories(prefix / "real");
    CorvaneTest::Touch(outside, "outside");
    CorvaneTest::Touch(prefix / "real" / "user.reg", "inside");
    fs::create_symlink(outside, prefix / "user.reg");
    fs::create_symlink(prefix / "real" / "user.reg", prefix / "system.reg");
    std::string error;

    EXPECT_FALSE(SaveFileAtomically(prefix / "user.reg", "new", error, prefix));
    EXPECT_NE(error.find("outside"), std::string::npos) << error;
    EXPECT_EQ(CorvaneTest::ReadAll(outside), "outside");

    ASSERT_TRUE(SaveFileAtomically(prefix / "system.reg", "new", error, prefix)) << error;
    EXPECT_TRUE(fs::is_symlink(prefix / "system.reg"));
    EXPECT_EQ(CorvaneTest::ReadAll(prefix / "real" / "user.reg"), "new");
}

// Another writer's temporary file is alive while it is open; the old clean-up removed it by name
// and made that writer's Commit fail.
TEST(AtomicFile, LeavesALiveWritersTemporaryFileAlone) {
    CorvaneTest::CTempFolder dir;
    const fs::path file = dir / "settings.xml";
    Branwick::Platform::CAtomicFile slow;
    ASSERT_TRUE(slow.Create(file)) << slow.Error();
    ASSERT_EQ(::write(slow.Fd(), "slow", 4), 4);
    std::string error;
    ASSERT_TRUE(SaveFileAtomically(file, "fast", error)) << error;
    ASSERT_TRUE(slow.Finish() && slow.Commit()) << slow.Error();
    EXPECT_EQ(CorvaneTest::ReadAll(file), "slow");
}
