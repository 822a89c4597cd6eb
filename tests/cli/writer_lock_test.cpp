// Two corvane-cli processes on one target: writers take turns and never lose each other's change,
// a writer that cannot have its turn says who has it, and readers never wait.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/Text.h"
#include "platform/demo/demo.h"
#include "tests/support/cli_process.h"

namespace {

namespace fs = std::filesystem;
using CorvaneTest::CCliProcess;
using CorvaneTest::SCliResult;

class WriterLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_folder / "config");
        std::wstring strError;
        ASSERT_TRUE(Branwick::Platform::MakeDemoPrefix(m_prefix, nullptr, strError)) << Branwick::WideToUtf8(strError);
    }
    SCliResult Run(const std::vector<std::string>& vcArgs) {
        std::vector<std::string> args = {"--prefix", m_prefix};
        args.insert(args.end(), vcArgs.begin(), vcArgs.end());
        return CCliProcess(m_folder, args).Wait();
    }

    CorvaneTest::CTempFolder m_temp{"corvane-lock"};
    const fs::path m_folder = m_temp.Path();
    const std::string m_prefix = (m_folder / "prefix").string();
};

int Lines(const std::string& strText) { return static_cast<int>(std::count(strText.begin(), strText.end(), '\n')); }

TEST_F(WriterLockTest, TwoSettingsChangesAtOnceAreBothKept) {
    for (int round = 0; round < 6; ++round) {
        const std::string flag = round % 2 ? "on" : "off";
        const std::string categories = round % 2 ? "com,fonts" : "uninstall";
        CCliProcess a(m_folder, {"--prefix", m_prefix, "settings", "set", "backup-before-fix", flag});
        CCliProcess b(m_folder, {"--prefix", m_prefix, "settings", "set", "categories", categories});
        const SCliResult ra = a.Wait();
        const SCliResult rb = b.Wait();
        ASSERT_EQ(ra.nStatus, 0) << ra.strErr;
        ASSERT_EQ(rb.nStatus, 0) << rb.strErr;
        const std::string shown = Run({"settings", "show"}).strOut;
        EXPECT_NE(shown.find("backup-before-fix " + flag + "\n"), std::string::npos) << "round " << round << "\n" << shown;
        EXPECT_NE(shown.find("categories " + categories + "\n"), std::string::npos) << "round " << round << "\n" << shown;
    }
}

// The lock held by this test process stands for another program writing the target.
TEST_F(WriterLockTest, WritersRefuseNamingTheHolderAndReadersDoNotWait) {
    ASSERT_EQ(Run({"scan"}).nStatus, 0);  // the data folder exists
    const int fd = open(m_prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const std::string holder = "pid " + std::to_string(getpid());
    for (const std::vector<std::string>& writer :
         {std::vector<std::string>{"settings", "set", "fix-after-scan", "on"},
          std::vector<std::string>{"fix", "--categories", "junk-files"},
          std::vector<std::string>{"ignore", "add", "1", "--categories", "junk-files"},
          std::vector<std::string>{"history"}}) {
        const SCliResult r = Run(writer);
        EXPECT_EQ(r.nStatus, 1) << writer[0] << ": " << r.strOut << r.strErr;
        EXPECT_EQ(Lines(r.strErr), 1) << writer[0] << ": " << r.strErr;
        EXPECT_NE(r.strErr.find(holder), std::string::npos) << writer[0] << ": " << r.strErr;
    }
    // A reader that waited for the lock would be refused as the writers were.
    for (const std::vector<std::string>& reader : {std::vector<std::string>{"scan"}, std::vector<std::string>{"settings", "show"},
                                                   std::vector<std::string>{"backups", "list"}, std::vector<std::string>{"ignore", "list"}}) {
        const SCliResult r = Run(reader);
        EXPECT_EQ(r.nStatus, 0) << reader[0] << ": " << r.strErr;
    }
    close(fd);
    const SCliResult r = Run({"settings", "set", "fix-after-scan", "on"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
}

}  // namespace
