#include "platform/module/module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
    void SetUp() override {
        m_root =
            std::filesystem::temp_directory_path() / ("corvane-logs-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_root);
    }
    void TearDown() override {
        unsetenv("CORVANE_LOG_DIR");
        std::filesystem::remove_all(m_root);
    }
    std::filesystem::path m_root;
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
    std::filesystem::create_directories(m_root);
    const std::filesystem::path file = m_root / "a-file";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    setenv("CORVANE_LOG_DIR", (file / "logs").c_str(), 1);
    EXPECT_EQ(GetLogsFolder(), "");
}

}  // namespace
