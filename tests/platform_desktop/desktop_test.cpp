#include "platform/desktop/desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

namespace Branwick {
namespace {

namespace fs = std::filesystem;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string Entry() { return CorvaneTest::ReadAll(m_dir / "autostart/corvane.desktop"); }
    CorvaneTest::CTempFolder m_temp{"corvane-desktop"};
    const fs::path m_dir = m_temp.Path();
};

TEST_F(DesktopTest, ExecQuotesReservedCharacters) {
    ASSERT_EQ(Platform::SetAutostart(L"corvane", L"/opt/my app/$x`y\"z\\w 100%", true),
              ERROR_SUCCESS);
    const std::string entry = Entry();
    EXPECT_EQ(entry.rfind("[Desktop Entry]\nType=Application\n", 0), 0u) << entry;
    EXPECT_NE(entry.find("\nExec=\"/opt/my app/\\\\$x\\\\`y\\\\\"z\\\\\\\\w 100%%\"\n"),
              std::string::npos)
        << entry;
}

TEST_F(DesktopTest, AHiddenEntryDoesNotCount) {
    fs::create_directories(m_dir / "autostart");
    std::ofstream(m_dir / "autostart/corvane.desktop")
        << "[Desktop Entry]\nType=Application\nExec=corvane\nHidden=true\n";
    EXPECT_FALSE(Platform::IsAutostart(L"corvane"));
}

TEST_F(DesktopTest, ConfigHomeFallsBackToHome) {
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    ::setenv("HOME", m_dir.c_str(), 1);
    EXPECT_EQ(Platform::ConfigHome(), (m_dir / ".config").string());
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Platform::ConfigHome(), (m_dir / ".config").string());
    ::setenv("XDG_DATA_HOME", "relative/path", 1);
    EXPECT_EQ(Platform::DataHome(), (m_dir / ".local" / "share").string());
    ::setenv("XDG_DATA_HOME", "/elsewhere/data", 1);
    EXPECT_EQ(Platform::DataHome(), "/elsewhere/data");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", saved.c_str(), 1);
}

TEST(ProgramPath, IsThisTestProgram) {
    const std::wstring path = Platform::GetProgramPath();
    EXPECT_NE(path.find(L"test_platform_desktop"), std::wstring::npos);
}

}  // namespace
}  // namespace Branwick
