#include "platform/module/module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

using namespace Branwick::Platform;

namespace {

TEST(Module, FolderIsTheProgramsOwn) {
    const std::string folder = GetModuleFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(std::filesystem::path(folder),
              std::filesystem::read_symlink("/proc/self/exe").parent_path() / "");
}

class LogsFolder : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("CORVANE_LOG_DIR"); }
    CorvaneTest::CTempFolder m_root{"corvane-logs"};
};

TEST_F(LogsFolder, OverrideIsCreatedAndUsed) {
    const std::filesystem::path wanted = m_root / "deep" / "logs";
    setenv("CORVANE_LOG_DIR", wanted.c_str(), 1);
    EXPECT_EQ(GetLogsFolder(), wanted.string() + "/");
    EXPECT_TRUE(std::filesystem::is_directory(wanted));
}

TEST_F(LogsFolder, BuildTreeUsesLogsBesideTheModule) {
    unsetenv("CORVANE_LOG_DIR");
    EXPECT_EQ(GetLogsFolder(), GetModuleFolder() + "Logs/");
}

TEST_F(LogsFolder, UnusableOverrideGivesNoFolder) {
    const std::filesystem::path file = m_root / "a-file";
    std::ofstream{file};
    setenv("CORVANE_LOG_DIR", (file / "logs").c_str(), 1);
    EXPECT_EQ(GetLogsFolder(), "");
}

}  // namespace
