// The startup manager on real prefixes: the Wine fixture made into a prefix, and the demo prefix.
// Changes are checked on disk, through a registry and settings read again, as after a restart.
#include "tools/startup/StartupManager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "core/MessageBox.h"
#include "platform/demo/demo.h"
#include "platform/text/text.h"
#include "tests/support/lnk_builder.h"
#include "tests/support/locked_folder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wine_fixture.h"

namespace Branwick {
namespace {

namespace fs = std::filesystem;
using CorvaneTest::ReadAll;
using CorvaneTest::Touch;

const fs::path kFixture = fs::path(CORVANE_FIXTURES_DIR) / "wine8-win64";
constexpr wchar_t kUserStartup[] =
    L"C:\\users\\wineuser\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\";
constexpr wchar_t kCommonStartup[] = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\";
const fs::path kCommonStartupHost = "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp";

// A prefix with its target, settings and manager, opened again by Restart() as the program
// opens them at its next start.
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { m_pPrevious = SetMessageBox(&m_boxes); }
    void TearDown() override {
        m_pManager.reset();
        m_pSettings.reset();
        SetMessageBox(m_pPrevious);
    }

    bool UseFixture() {
        m_startup = m_prefix / "drive_c/users/wineuser/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/StartUp";
        return fs::exists(kFixture / "system.reg") && Testing::MaterialiseWineFixture(kFixture, m_prefix) && Restart();
    }
    bool UseDemo() {
        m_startup = m_prefix / "drive_c/users/demo/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/StartUp";
        std::wstring strError;
        return Platform::MakeDemoPrefix(m_prefix.string(), nullptr, strError) && Restart();
    }
    bool Restart() {
        m_pManager.reset();
        m_pSettings.reset();
        std::wstring strError;
        m_pTarget = Platform::CTarget::OpenWinePrefix(m_prefix.string(), strError);
        if (!m_pTarget) {
            ADD_FAILURE() << Platform::ToUtf8(strError);
            return false;
        }
        m_strDataFolder = GetDataFolder(*m_pTarget);
        CSettingsSite site;
        site.m_pTarget = m_pTarget.get();
        site.m_strDataFolder = m_strDataFolder;
        m_pSettings = std::make_unique<CSettings>(site);  // without a task: a box says so
        m_pManager = std::make_unique<CStartupManager>(*m_pTarget, *m_pSettings, m_strDataFolder);
        return true;
    }
    void Import(HKEY hRoot, const char* pszText) {
        ASSERT_TRUE(m_pTarget->Registry().ImportText(hRoot, pszText).Ok());
        ASSERT_TRUE(m_pTarget->Registry().Flush().Ok());
    }
    // The demo prefix with one user Run value, "Updater", disabled.
    void DisableDemoUpdater() {
        ASSERT_TRUE(UseDemo());
        Import(HKEY_CURRENT_USER, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Updater"="C:\\updater.exe"
)");
        ASSERT_TRUE(m_pManager->SetStartupState(One(L"Updater"), false, false).Ok());
    }

    std::vector<CStartupItem> Named(const std::wstring& strName) const {
        std::vector<CStartupItem> found;
        for (const CStartupItem& item : m_pManager->List()) {
            if (item.m_strName == strName) {
                found.push_back(item);
            }
        }
        return found;
    }
    CStartupItem One(const std::wstring& strName) const {
        const std::vector<CStartupItem> found = Named(strName);
        EXPECT_EQ(found.size(), 1u) << Platform::ToUtf8(strName);
        return found.empty() ? CStartupItem{} : found[0];
    }
    std::string RunKeyOnDisk(DWORD dwAccess) const {
        Platform::CRegistry reg;
        EXPECT_TRUE(Platform::CRegistry::OpenWinePrefix(m_prefix.string(), {}, &reg).Ok());
        const std::wstring strPath = dwAccess == KEY_WOW64_32KEY ? L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"
                                                                 : std::wstring(kRunKey);
        return reg.ExportText(HKEY_LOCAL_MACHINE, strPath);
    }
    fs::path HoldingHost() const { return m_prefix / "drive_c/ProgramData/Application Data/Corvane/Tmp"; }

    CorvaneTest::CTempFolder m_temp{"corvane-startup"};
    const fs::path m_prefix = m_temp / "prefix";
    fs::path m_startup;  // the user's Startup folder on the host
    CRecordingMessageBox m_boxes;
    IMessageBox* m_pPrevious = nullptr;
    std::unique_ptr<Platform::CTarget> m_pTarget;
    std::wstring m_strDataFolder;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CStartupManager> m_pManager;
};

#define REQUIRE_FIXTURE()                                                                   \
    if (!fs::exists(kFixture)) {                                                            \
        GTEST_SKIP() << "the Wine fixture is not here (" << kFixture << "); nothing to run on"; \
    }                                                                                       \
    ASSERT_TRUE(UseFixture())

TEST_F(StartupTest, TheDemoListsBothViewsTheUserAndTheFoldersInOrderLeavingOutItsOwn) {
    ASSERT_TRUE(UseDemo());
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"CORVANE"="C:\\Program Files\\Corvane\\corvane.exe"
"Counter"=dword:00000001
"Blank"=""
[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run]
"Corvane"="C:\\Program Files\\Corvane\\corvane.exe"
)");
    const fs::path startup = m_prefix / "drive_c/users/demo/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/StartUp";
    Touch(startup / "Desktop.INI", "[.ShellClassInfo]");

    std::vector<std::wstring> names;
    for (const CStartupItem& item : m_pManager->List()) {
        names.push_back(item.m_strName + L"@" + std::to_wstring(item.m_dwRoot) + L"/" + std::to_wstring(item.m_dwAccess));
    }
    const std::vector<std::wstring> expected = {
        L"GoodTray@2147483650/512", L"GoneUpdater@2147483649/512", L"Notes@2147483649/512",
        L"GoneTray@2147483650/256", L"Notepad.lnk@0/0"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(One(L"Notepad.lnk").m_strData,
              L"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\Notepad.lnk");
    EXPECT_EQ(One(L"GoodTray").m_strData, L"\"C:\\Program Files (x86)\\Good App\\tray32.exe\" /min");
    EXPECT_EQ(StartupLocation(One(L"GoneTray"), true),
              L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run (64-bit view)");
    EXPECT_EQ(StartupLocation(One(L"Notes"), true), L"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
}

TEST_F(StartupTest, AMachineRunValueOfThe64BitViewComesBackExactlyAndLeavesNoRecord) {
    REQUIRE_FIXTURE();
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Tray"="\"C:\\Program Files\\Tray\\tray.exe\" /min"
)");
    const std::string strBefore = RunKeyOnDisk(KEY_WOW64_64KEY);
    const std::string strOtherView = RunKeyOnDisk(KEY_WOW64_32KEY);
    const CStartupItem tray = One(L"Tray");
    ASSERT_EQ(tray.m_dwAccess, KEY_WOW64_64KEY);

    ASSERT_TRUE(m_pManager->SetStartupState(tray, false, false).Ok());
    EXPECT_EQ(RunKeyOnDisk(KEY_WOW64_64KEY).find("Tray"), std::string::npos);
    EXPECT_EQ(m_pSettings->GetDisabledItems(),
              (std::set<std::wstring>{L"0x80000002\tTray\t\"C:\\Program Files\\Tray\\tray.exe\" /min\t"
                                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\t0x100"}));

    ASSERT_TRUE(Restart());
    const CStartupItem disabled = One(L"Tray");
    EXPECT_FALSE(disabled.m_bEnabled);
    ASSERT_TRUE(m_pManager->SetStartupState(disabled, true, false).Ok());

    ASSERT_TRUE(Restart());
    EXPECT_EQ(RunKeyOnDisk(KEY_WOW64_64KEY), strBefore);
    EXPECT_EQ(RunKeyOnDisk(KEY_WOW64_32KEY), strOtherView);
    EXPECT_TRUE(m_pSettings->GetDisabledItems().empty());
    EXPECT_TRUE(One(L"Tray").m_bEnabled);
}

// The user's and the all-users Startup folder of a real prefix: where its registry says, the
// old profile layout when the registry names none; files held in the data folder while disabled
// and put back in their place.
TEST_F(StartupTest, StartupFilesOfARealPrefixAreHeldAndPutBackInTheirPlace) {
    REQUIRE_FIXTURE();
    EXPECT_EQ(m_pManager->UserStartupFolder(), kUserStartup);
    EXPECT_EQ(m_pManager->CommonStartupFolder(), kCommonStartup);
    const std::string strLink = CorvaneTest::BuildLink({.local = "C:\\Program Files\\Sync\\sync.exe"});
    Touch(m_startup / "Sync.lnk", strLink);
    Touch(m_startup / "desktop.ini", "[.ShellClassInfo]");
    Touch(m_prefix / kCommonStartupHost / "Agent.lnk", "agent");
    EXPECT_TRUE(Named(L"desktop.ini").empty());
    EXPECT_FALSE(One(L"Sync.lnk").m_bAllUsers);
    EXPECT_TRUE(One(L"Agent.lnk").m_bAllUsers);

    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Sync.lnk"), false, false).Ok());
    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Agent.lnk"), false, false).Ok());
    EXPECT_FALSE(fs::exists(m_startup / "Sync.lnk"));
    EXPECT_EQ(ReadAll(HoldingHost() / "Sync.lnk"), strLink);

    ASSERT_TRUE(Restart());
    const CStartupItem held = One(L"Sync.lnk"), agent = One(L"Agent.lnk");
    EXPECT_FALSE(held.m_bEnabled);
    EXPECT_FALSE(held.m_bAllUsers);
    EXPECT_EQ(held.m_strData, std::wstring(kUserStartup) + L"Sync.lnk");
    EXPECT_FALSE(agent.m_bEnabled);
    EXPECT_TRUE(agent.m_bAllUsers);
    ASSERT_TRUE(m_pManager->SetStartupState(held, true, false).Ok());
    ASSERT_TRUE(m_pManager->SetStartupState(agent, true, false).Ok());

    ASSERT_TRUE(Restart());
    EXPECT_EQ(ReadAll(m_startup / "Sync.lnk"), strLink);
    EXPECT_EQ(ReadAll(m_prefix / kCommonStartupHost / "Agent.lnk"), "agent");
    EXPECT_TRUE(One(L"Sync.lnk").m_bEnabled);
    EXPECT_TRUE(m_pSettings->GetDisabledItems().empty());

    Platform::CRegKey key;
    ASSERT_EQ(m_pTarget->Registry().OpenKey(HKEY_CURRENT_USER,
                                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                            KEY_WRITE, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.DeleteValue(L"StartUp"), ERROR_SUCCESS);
    EXPECT_EQ(m_pManager->UserStartupFolder(), L"c:\\users\\wineuser\\Start Menu\\Programs\\Startup\\");
}

TEST_F(StartupTest, DeletingForgetsADisabledEntryAndHoldsADeletedFile) {
    ASSERT_NO_FATAL_FAILURE(DisableDemoUpdater());
    ASSERT_TRUE(Restart());
    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Updater"), false, true).Ok());
    ASSERT_TRUE(Restart());
    EXPECT_TRUE(Named(L"Updater").empty());
    EXPECT_TRUE(m_pSettings->GetDisabledItems().empty());

    // A deleted file is not destroyed: it waits in the holding folder, without a record.
    Touch(m_startup / "Old.lnk", "old");
    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Old.lnk"), false, true).Ok());
    EXPECT_TRUE(Named(L"Old.lnk").empty());
    EXPECT_EQ(ReadAll(HoldingHost() / "Old.lnk"), "old");
    EXPECT_TRUE(m_pSettings->GetDisabledItems().empty());
}

TEST_F(StartupTest, AFileWhereAStartupFileMustGoIsKeptAside) {
    ASSERT_TRUE(UseDemo());
    // A file deleted earlier waits in the holding folder under the name of one now disabled.
    Touch(HoldingHost() / "Sync.lnk", "deleted long ago");
    Touch(m_startup / "Sync.lnk", "first");
    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Sync.lnk"), false, false).Ok());
    EXPECT_EQ(ReadAll(HoldingHost() / "Sync.lnk"), "first");
    EXPECT_EQ(ReadAll(HoldingHost() / "Sync.lnk.bak"), "deleted long ago");

    // Meanwhile a program put a new one in the Startup folder.
    Touch(m_startup / "Sync.lnk", "second");
    ASSERT_TRUE(m_pManager->SetStartupState(Named(L"Sync.lnk").back(), true, false).Ok());
    EXPECT_EQ(ReadAll(m_startup / "Sync.lnk"), "first");
    EXPECT_EQ(ReadAll(m_startup / "Sync.lnk.bak"), "second");

    // While one entry of a name is held, another of that name cannot be: its record would name
    // the other's file.
    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Sync.lnk"), false, false).Ok());
    const fs::path common = m_prefix / kCommonStartupHost;
    Touch(common / "Sync.lnk", "everyone's");
    const CStatus refused = m_pManager->SetStartupState(Named(L"Sync.lnk").front(), false, false);
    EXPECT_FALSE(refused.Ok());
    EXPECT_EQ(ReadAll(common / "Sync.lnk"), "everyone's");
    EXPECT_EQ(ReadAll(HoldingHost() / "Sync.lnk"), "first");
}

TEST_F(StartupTest, EnablingNeverWritesOverAValueTheProgramMadeAgain) {
    ASSERT_NO_FATAL_FAILURE(DisableDemoUpdater());
    Import(HKEY_CURRENT_USER, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Updater"="C:\\v2\\updater.exe"
)");
    const std::vector<CStartupItem> both = Named(L"Updater");
    ASSERT_EQ(both.size(), 2u);
    const CStatus refused = m_pManager->SetStartupState(both[1], true, false);
    EXPECT_EQ(refused.m_lCode, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Named(L"Updater")[0].m_strData, L"C:\\v2\\updater.exe");
    EXPECT_EQ(m_pSettings->GetDisabledItems().size(), 1u);
    // Deleting the disabled entry leaves the new value alone.
    ASSERT_TRUE(m_pManager->SetStartupState(both[1], false, true).Ok());
    EXPECT_EQ(One(L"Updater").m_strData, L"C:\\v2\\updater.exe");
}

// Another writer of the prefix (here: the lock another process would hold) makes a change wait,
// then refuse with one sentence; a registry that writer saved meanwhile is read before a change.
TEST_F(StartupTest, AChangeWaitsForAnotherWriterAndLandsOnTopOfItsChanges) {
    ASSERT_NO_FATAL_FAILURE(DisableDemoUpdater());
    const int fd = open(m_prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const CStatus refused = m_pManager->SetStartupState(One(L"Updater"), true, false);
    close(fd);
    EXPECT_EQ(refused.m_lCode, ERROR_SHARING_VIOLATION);
    EXPECT_NE(refused.m_strText.find(L"try again when it has finished"), std::wstring::npos)
        << Platform::ToUtf8(refused.m_strText);

    // Another process adds a Run value to user.reg while this one has the registry loaded.
    Platform::CRegistry other;
    ASSERT_TRUE(Platform::CRegistry::OpenWinePrefix(m_prefix.string(), {}, &other).Ok());
    ASSERT_TRUE(other
                    .ImportText(HKEY_CURRENT_USER, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Mail"="C:\\mail.exe"
)")
                    .Ok());
    ASSERT_TRUE(other.Flush().Ok());
    ASSERT_TRUE(m_pManager->SetStartupState(One(L"Updater"), true, false).Ok());
    Platform::CRegistry after;
    ASSERT_TRUE(Platform::CRegistry::OpenWinePrefix(m_prefix.string(), {}, &after).Ok());
    const std::string run = after.ExportText(HKEY_CURRENT_USER, kRunKey);
    EXPECT_NE(run.find("\"Mail\""), std::string::npos) << run;
    EXPECT_NE(run.find("\"Updater\""), std::string::npos) << run;
}

TEST_F(StartupTest, ARegistryThatMayNotBeWrittenChangesNothingAndSaysWhy) {
    ASSERT_TRUE(UseDemo());
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Tray"="C:\\tray.exe"
)");
    Touch(m_prefix / "user.reg", ReadAll(m_prefix / "user.reg") + "\nthis line is no registry\n");
    ASSERT_TRUE(Restart());
    const std::string strSystem = ReadAll(m_prefix / "system.reg");
    const std::string strSettings = ReadAll(m_prefix / "drive_c/ProgramData/Application Data/Corvane/settings.xml");
    const std::vector<CStartupItem> before = m_pManager->List();

    const CStatus refused = m_pManager->SetStartupState(One(L"Tray"), false, false);
    EXPECT_EQ(refused.m_lCode, ERROR_REGISTRY_CORRUPT);
    EXPECT_FALSE(refused.m_strText.empty());
    EXPECT_EQ(ReadAll(m_prefix / "system.reg"), strSystem);
    EXPECT_EQ(ReadAll(m_prefix / "drive_c/ProgramData/Application Data/Corvane/settings.xml"), strSettings);
    EXPECT_EQ(m_pManager->List().size(), before.size());
    EXPECT_TRUE(One(L"Tray").m_bEnabled);
}

TEST_F(StartupTest, WhenTheSettingsCannotBeSavedTheEntryStaysWhereItWas) {
    ASSERT_TRUE(UseDemo());
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Tray"="C:\\tray.exe"
)");
    Touch(m_startup / "Sync.lnk", "sync");
    fs::create_directories(HoldingHost());
    const std::string strSystem = ReadAll(m_prefix / "system.reg");
    CorvaneTest::CLockedFolder locked(m_prefix / "drive_c/ProgramData/Application Data/Corvane");
    if (!locked.Locked()) {
        GTEST_SKIP() << "the data folder cannot be locked on this file system";
    }
    EXPECT_EQ(m_pManager->SetStartupState(One(L"Tray"), false, false).m_lCode, ERROR_CANTWRITE);
    EXPECT_EQ(m_pManager->SetStartupState(One(L"Sync.lnk"), false, false).m_lCode, ERROR_CANTWRITE);
    locked.Unlock();
    EXPECT_EQ(ReadAll(m_prefix / "system.reg"), strSystem);
    EXPECT_EQ(ReadAll(m_startup / "Sync.lnk"), "sync");
    EXPECT_TRUE(One(L"Tray").m_bEnabled);
    EXPECT_TRUE(m_pSettings->GetDisabledItems().empty());
}

TEST(StartupRecord, OldAndOddRecordsAreRead) {
    const CStartupItem old = ParseStartupRecord(L"0x80000001\tTool\tC:\\tool.exe\tSOFTWARE\\Run");
    EXPECT_EQ(old.m_dwRoot, HKEY_CURRENT_USER);
    EXPECT_EQ(old.m_dwAccess, KEY_WOW64_32KEY);
    EXPECT_EQ(old.m_strSubKey, L"SOFTWARE\\Run");
    EXPECT_FALSE(old.m_bEnabled);

    const CStartupItem file = ParseStartupRecord(L"0x0\tA.lnk\tC:\\x\\A.lnk\t\t0x0");
    EXPECT_TRUE(file.IsFile());
    EXPECT_TRUE(file.m_strSubKey.empty());
    EXPECT_EQ(StartupRecord(file), file.m_strRecord);

    const CStartupItem cut = ParseStartupRecord(L"garbage");
    EXPECT_EQ(cut.m_dwRoot, 0u);
    EXPECT_EQ(cut.m_strName, L"");
}

TEST_F(StartupTest, ANameTheRecordCannotHoldIsRefusedBeforeAnythingMoves) {
    ASSERT_TRUE(UseDemo());
    Import(HKEY_CURRENT_USER, "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run]\n\"Two\\tParts\"=\"C:\\\\x.exe\"\n");
    const std::vector<CStartupItem> items = m_pManager->List();
    const auto it = std::find_if(items.begin(), items.end(), [](const CStartupItem& i) { return i.m_strName == L"Two\tParts"; });
    ASSERT_NE(it, items.end());
    EXPECT_EQ(m_pManager->SetStartupState(*it, false, false).m_lCode, ERROR_INVALID_DATA);
    EXPECT_EQ(Named(L"Two\tParts").size(), 1u);
}

}  // namespace
}  // namespace Branwick
