// A target on a read-only or a full file system: every command that would write says so in one
// sentence and exits 1, and none claims what it did not save. The file system is a small tmpfs
// in a mount namespace of this test's own process (each test runs in a process of its own).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Text.h"
#include "platform/demo/demo.h"
#include "tests/support/cli_process.h"

namespace {

namespace fs = std::filesystem;

class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_folder / "config");
        fs::create_directories(m_disk);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", m_disk.c_str(), "tmpfs", 0, "size=32m") != 0) {
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root): " << std::strerror(errno);
        }
        m_bMounted = true;
        std::wstring strError;
        ASSERT_TRUE(Branwick::Platform::MakeDemoPrefix(m_prefix, nullptr, strError)) << Branwick::WideToUtf8(strError);
        ASSERT_EQ(Run({"scan"}).nStatus, 0);  // the data folder exists
    }
    void TearDown() override {
        if (m_bMounted) {
            umount2(m_disk.c_str(), MNT_DETACH);
        }
    }
    CorvaneTest::SCliResult Run(std::vector<std::string> vcArgs) {
        vcArgs.insert(vcArgs.begin(), {"--prefix", m_prefix});
        return CorvaneTest::CCliProcess(m_folder, vcArgs).Wait();
    }
    // Each writing command fails, says why in sentences without diagnostics (one line each; a
    // fix may meet several failures), and prints nothing that claims a change.
    void ExpectEveryWriterRefused(std::vector<std::vector<std::string>> vcWriters) {
        vcWriters.push_back({"settings", "set", "fix-after-scan", "on"});
        vcWriters.push_back({"ignore", "add", "1"});
        vcWriters.push_back({"fix", "--no-backup"});
        for (const std::vector<std::string>& writer : vcWriters) {
            const CorvaneTest::SCliResult r = Run(writer);
            EXPECT_EQ(r.nStatus, 1) << writer[0] << ":\n" << r.strOut << r.strErr;
            EXPECT_NE(r.strErr.find("corvane-cli: "), std::string::npos) << writer[0] << ":\n" << r.strErr;
            EXPECT_EQ(r.strErr.find("Line: "), std::string::npos) << writer[0] << ":\n" << r.strErr;
            if (writer[0] != "fix") {
                EXPECT_EQ(std::count(r.strErr.begin(), r.strErr.end(), '\n'), 1) << writer[0] << ":\n" << r.strErr;
            }
            EXPECT_EQ(r.strOut.find("Ignored"), std::string::npos) << r.strOut;
        }
        EXPECT_NE(Run({"settings", "show"}).strOut.find("fix-after-scan off"), std::string::npos);
    }

    CorvaneTest::CTempFolder m_temp{"corvane-disk"};
    const fs::path m_folder = m_temp.Path();
    const fs::path m_disk = m_folder / "disk";
    const std::string m_prefix = (m_disk / "prefix").string();
    bool m_bMounted = false;
};

TEST_F(FullDiskTest, OnAReadOnlyFileSystemNothingIsClaimed) {
    ASSERT_EQ(mount(nullptr, m_disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    ExpectEveryWriterRefused({{"history"}});
}

TEST_F(FullDiskTest, OnAFullFileSystemNothingIsClaimed) {
    const int fd = open((m_disk / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(1 << 16, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    const std::string byte(1, 'x');
    while (write(fd, byte.data(), 1) > 0) {
    }
    close(fd);
    // History cleaning deletes, which a full disk allows; it is not among these.
    ExpectEveryWriterRefused({});
}

}  // namespace
