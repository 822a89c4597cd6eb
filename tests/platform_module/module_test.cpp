#include "platform/module/module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/text/text.h"
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
    void SetUp() override {
        if (const char* psz = std::getenv("XDG_STATE_HOME")) {
            m_strState = psz;
        }
        if (const char* psz = std::getenv("HOME")) {
            m_strHome = psz;
        }
    }
    void TearDown() override {
        unsetenv("CORVANE_LOG_DIR");
        Restore("XDG_STATE_HOME", m_strState);
        Restore("HOME", m_strHome);
    }
    static void Restore(const char* pszName, const std::optional<std::string>& value) {
        if (value) {
            setenv(pszName, value->c_str(), 1);
        } else {
            unsetenv(pszName);
        }
    }
    CorvaneTest::CTempFolder m_root{"corvane-logs"};
    std::optional<std::string> m_strState, m_strHome;
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

// An installed program has no Logs folder beside it and must not make one in a system folder,
// even as root: its logs go to the user's state folder.
TEST_F(LogsFolder, InstalledModuleLogsInTheUsersStateFolder) {
    const std::string bin = (m_root / "usr/bin/").string();
    std::filesystem::create_directories(bin);
    setenv("XDG_STATE_HOME", (m_root / "state").c_str(), 1);
    EXPECT_EQ(LogsFolderOf(bin), (m_root / "state/corvane/Logs/").string());
    EXPECT_TRUE(std::filesystem::is_directory(m_root / "state/corvane/Logs"));
    EXPECT_FALSE(std::filesystem::exists(m_root / "usr/bin/Logs"));

    // A relative XDG_STATE_HOME is ignored, as the desktop conventions say; HOME decides.
    setenv("XDG_STATE_HOME", "state", 1);
    setenv("HOME", (m_root / "home").c_str(), 1);
    EXPECT_EQ(LogsFolderOf(bin), (m_root / "home/.local/state/corvane/Logs/").string());
}

TEST_F(LogsFolder, BuildTreeLayoutKeepsLogsBesideTheModule) {
    const std::string bin = (m_root / "build/bin/").string();
    std::filesystem::create_directories(m_root / "build/bin/Logs");
    setenv("XDG_STATE_HOME", (m_root / "state").c_str(), 1);
    EXPECT_EQ(LogsFolderOf(bin), bin + "Logs/");
    EXPECT_FALSE(std::filesystem::exists(m_root / "state"));
}

TEST_F(LogsFolder, UnusableOverrideGivesNoFolder) {
    const std::filesystem::path file = m_root / "a-file";
    std::ofstream{file};
    setenv("CORVANE_LOG_DIR", (file / "logs").c_str(), 1);
    EXPECT_EQ(GetLogsFolder(), "");
}

// The programs find their data as installed (/usr/bin/ beside /usr/share/corvane/) and in the
// build tree, which mirrors that layout; the build makes the data there.
TEST(DataFolder, IsShareCorvaneBesideTheProgramsFolder) {
    EXPECT_EQ(DataFolderOf("/usr/bin/"), "/usr/share/corvane/");
    EXPECT_EQ(DataFolderOf("/opt/corvane/bin/"), "/opt/corvane/share/corvane/");
    unsetenv("CORVANE_DATA_DIR");
    EXPECT_TRUE(std::filesystem::is_regular_file(GetDataFolder() + "Processes.db")) << GetDataFolder();
    EXPECT_EQ(std::filesystem::canonical(GetDataFolder()),
              std::filesystem::canonical(std::filesystem::path(CORVANE_BIN_DIR) / "../share/corvane"));
}

TEST(DataFolder, EnvironmentOverrides) {
    setenv("CORVANE_DATA_DIR", "/srv/data", 1);
    EXPECT_EQ(GetDataFolder(), "/srv/data/");
    setenv("CORVANE_DATA_DIR", "", 1);
    EXPECT_EQ(DataFolderOf(GetModuleFolder()), GetDataFolder());
    unsetenv("CORVANE_DATA_DIR");
}

// The engine is found through the program's library search path: in a build tree its RUNPATH
// names the program's own folder.
TEST(Library, EngineIsFoundThroughTheSearchPath) {
    CLibrary engine;
    std::wstring strError;
    ASSERT_TRUE(engine.Load("libfendral.so", strError)) << Branwick::Platform::ToUtf8(strError);
    EXPECT_NE(engine.GetSymbol("FendralScan", strError), nullptr);
}

TEST(Library, MissingLibraryNamesWhereItWasSought) {
    CLibrary missing;
    std::wstring strError;
    EXPECT_FALSE(missing.Load("libfendral-missing.so", strError));
    EXPECT_FALSE(missing.IsLoaded());
    const std::string strText = Branwick::Platform::ToUtf8(strError);
    EXPECT_NE(strText.find("libfendral-missing.so cannot be loaded: it is in none of the folders searched"), std::string::npos) << strText;
    // The module's own folder, as its RUNPATH names it.
    EXPECT_NE(strText.find(std::filesystem::path(GetModuleFolder()).parent_path().string()), std::string::npos)
        << strText;
}

}  // namespace
