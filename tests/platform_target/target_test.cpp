#include "platform/target/target.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/text/text.h"
#include "tests/support/pending_renames.h"
#include "tests/support/temp_folder.h"

using namespace Branwick;
using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

class TargetTest : public ::testing::Test {
protected:
    std::unique_ptr<CTarget> TestTarget(bool b64Bit) {
        CRegistry reg = CRegistry::CreateInMemory({.m_b64Bit = b64Bit});
        EXPECT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, R"REG(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProgramData"=str(2):"C:\\ProgramData"
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000]
"ProfileImagePath"="C:\\users\\tester"
)REG").Ok());
        EXPECT_TRUE(reg.Flush().Ok());  // so that IsDirty tells what the target changed
        fs::create_directories(m_root / "c" / "windows");
        return CTarget::OpenTest((m_root / "c").string(), reg);
    }

    CorvaneTest::CTempFolder m_temp{"corvane-target"};
    const fs::path m_root = m_temp.Path();
};

}  // namespace

TEST_F(TargetTest, AFolderThatIsNeitherKindIsRefusedClearly) {
    std::wstring strError;
    EXPECT_EQ(CTarget::Open(m_root.string(), L"", strError), nullptr);
    EXPECT_NE(strError.find(L"neither a Wine prefix"), std::wstring::npos) << strError;
    EXPECT_NE(strError.find(L"Windows\\System32\\config"), std::wstring::npos) << strError;
    EXPECT_EQ(CTarget::OpenWinePrefix(m_root.string(), strError), nullptr);
    EXPECT_NE(strError.find(L"no system.reg"), std::wstring::npos) << strError;
    EXPECT_EQ(CTarget::OpenOfflineVolume(m_root.string(), L"ann", strError), nullptr);
    EXPECT_NE(strError.find(L"not a Windows volume"), std::wstring::npos) << strError;
}

TEST_F(TargetTest, AnOfflineVolumeOpensFromItsHives) {
    const fs::path config = m_root / "WINDOWS" / "system32" / "Config";  // any case, as NTFS mounts show it
    fs::create_directories(config);
    std::wstring strError;
    EXPECT_EQ(CTarget::Open(m_root.string() + "/", L"", strError), nullptr);
    EXPECT_NE(strError.find(L"needs the name of the user"), std::wstring::npos) << strError;
    EXPECT_EQ(CTarget::Open(m_root.string(), L"ann", strError), nullptr);
    EXPECT_NE(strError.find(L"SOFTWARE or SYSTEM is missing"), std::wstring::npos) << strError;

    const fs::path hives = fs::path(CORVANE_FIXTURES_DIR) / "hives";
    if (!fs::exists(hives)) {
        GTEST_SKIP() << "fixture hives not found in " << hives;
    }
    const std::pair<const char*, fs::path> files[] = {
        {"aiowinreg_nt4__software.reg", config / "SOFTWARE"},
        {"aiowinreg_nt4__system.reg", config / "SYSTEM"},
        {"regipy__NTUSER.DAT", m_root / "Users" / "ann" / "NTUSER.DAT"}};
    for (const auto& [name, to] : files) {
        fs::create_directories(to.parent_path());
        const std::string cmd = "xz -dc '" + (hives / name).string() + ".xz' > '" + to.string() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    auto target = CTarget::Open(m_root.string(), L"Ann", strError);
    ASSERT_NE(target, nullptr) << strError;
    EXPECT_EQ(target->Kind(), ETargetKind::OfflineVolume);
    EXPECT_FALSE(target->Is64Bit()) << "NT 4 on x86";
    CRegKey key;
    EXPECT_EQ(target->Registry().OpenKey(HKEY_CURRENT_USER, L"Environment", KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(target->Registry().OpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services", KEY_READ, &key),
              ERROR_SUCCESS);

    // The user's SID is the one the machine's profile list gives the profile.
    ASSERT_EQ(target->Registry().CreateKey(HKEY_LOCAL_MACHINE,
                                           L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
                                           L"S-1-5-21-11-22-33-1004",
                                           KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"ProfileImagePath", REG_EXPAND_SZ, ToUtf16Le(L"%SystemDrive%\\Users\\ann")), ERROR_SUCCESS);
    key.Close();
    const CStatus saved = target->Registry().Flush();
    ASSERT_TRUE(saved.Ok()) << ToUtf8(saved.m_strText);
    target = CTarget::Open(m_root.string(), L"Ann", strError);
    ASSERT_NE(target, nullptr) << ToUtf8(strError);
    EXPECT_EQ(target->UserSid(), L"S-1-5-21-11-22-33-1004");
}

TEST_F(TargetTest, ATestTargetBundlesItsRegistryFilesAndEnvironment) {
    auto target = TestTarget(true);
    EXPECT_EQ(target->Kind(), ETargetKind::Test);
    EXPECT_TRUE(target->Is64Bit());
    EXPECT_EQ(target->Environment().Get(L"USERPROFILE"), L"C:\\users\\tester");
    EXPECT_EQ(target->Environment().Expand(L"%SystemRoot%\\system32"), L"C:\\windows\\system32");
    EXPECT_TRUE(target->Files().DriveMap().m_bWow64);
    EXPECT_EQ(target->Files().DriveMap().m_strSystemRoot, L"C:\\windows");
    EXPECT_EQ(target->UserSid(), L"S-1-5-21-0-0-0-1000");  // Wine's one user
    EXPECT_FALSE(TestTarget(false)->Is64Bit());
}

TEST_F(TargetTest, TheDataFolderIsMadeLevelByLevel) {
    auto target = TestTarget(false);
    EXPECT_EQ(target->DataFolder(), L"C:\\ProgramData\\Application Data\\Corvane\\");
    std::string strHost;
    ASSERT_TRUE(target->CreateDataFolder(&strHost).Ok());
    EXPECT_TRUE(fs::is_directory(m_root / "c" / "ProgramData" / "Application Data" / "Corvane"));
    EXPECT_EQ(fs::path(strHost), m_root / "c" / "ProgramData" / "Application Data" / "Corvane");
    EXPECT_TRUE(target->CreateDataFolder().Ok());  // again: nothing to do

    auto bare = CTarget::OpenTest(m_root.string(), CRegistry::CreateInMemory());
    EXPECT_EQ(bare->DataFolder(), L"");
    EXPECT_EQ(bare->CreateDataFolder().m_lCode, ERROR_PATH_NOT_FOUND);
}

TEST_F(TargetTest, DeleteAtRestartAppendsInTheFormWineReads) {
    auto target = TestTarget(true);
    std::ofstream(m_root / "c" / "a.tmp") << "x";
    std::ofstream(m_root / "c" / "windows" / "b.log") << "x";
    CRegKey key;
    ASSERT_EQ(target->Registry().CreateKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                                           KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    // An earlier rename, and an earlier delete whose empty target must not end the list.
    const std::wstring earlier = std::wstring(L"\\??\\C:\\old") + L'\0' + L"\\??\\C:\\new" + L'\0' +
                                 L"\\??\\C:\\gone" + L'\0' + L'\0' + L'\0';
    const std::vector<std::uint8_t> bytes = ToUtf16Le(earlier, false);
    ASSERT_EQ(key.SetValue(L"PendingFileRenameOperations", REG_MULTI_SZ, CRegBytes(bytes.begin(), bytes.end())),
              ERROR_SUCCESS);

    ASSERT_TRUE(target->DeleteFileAtRestart(L"c:\\A.TMP").Ok());
    ASSERT_TRUE(target->DeleteFileAtRestart(L"C:\\Windows\\B.log").Ok());
    EXPECT_EQ(CorvaneTest::PendingRenames(target->Registry()),
              L"\\??\\C:\\old|\\??\\C:\\new|\\??\\C:\\gone||\\??\\C:\\A.TMP||\\??\\C:\\Windows\\B.log|||");
    EXPECT_TRUE(fs::exists(m_root / "c" / "a.tmp"));  // only scheduled

    EXPECT_EQ(target->DeleteFileAtRestart(L"C:\\missing.tmp").m_lCode, ERROR_FILE_NOT_FOUND);
}

TEST_F(TargetTest, DeleteAtRestartStaysInTheTarget) {
    auto target = TestTarget(false);
    fs::create_directories(m_root / "outside");
    std::ofstream(m_root / "outside" / "victim.txt") << "keep";
    fs::create_symlink(m_root / "outside", m_root / "c" / "Desktop");
    const CStatus s = target->DeleteFileAtRestart(L"C:\\Desktop\\victim.txt");
    EXPECT_EQ(s.m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_NE(s.m_strText.find(L"outside the target"), std::wstring::npos) << s.m_strText;
    EXPECT_EQ(CorvaneTest::PendingRenames(target->Registry()), L"<none>");
    EXPECT_FALSE(target->Registry().IsDirty());
}

// The environment of the fixture prefix equals what a 32-bit cmd printed in it, less what Wine
// passes through from Linux or makes for itself (USER, LANG, WINE*...) and cmd's own PROMPT.
TEST_F(TargetTest, TheFixturePrefixHasTheEnvironmentWineGaveA32BitProgram) {
    const fs::path fixture = fs::path(CORVANE_FIXTURES_DIR) / "wine8-win64";
    if (!fs::exists(fixture / "system.reg")) {
        GTEST_SKIP() << "fixture " << fixture << " is absent";
    }
    const fs::path prefix = m_root / "prefix";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c");
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:");
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(fixture / name, prefix / name);
    }
    setenv("WINEPREFIX", prefix.c_str(), 1);  // the default prefix
    std::wstring strError;
    auto target = CTarget::OpenWinePrefix("", strError);
    unsetenv("WINEPREFIX");
    ASSERT_NE(target, nullptr) << ToUtf8(strError);
    EXPECT_EQ(target->Kind(), ETargetKind::WinePrefix);
    EXPECT_TRUE(target->Is64Bit());

    std::map<std::wstring, std::wstring> expected;
    std::ifstream in(fixture / "env" / "cmd-set-32bit.txt");
    for (std::string line; std::getline(in, line);) {
        line.erase(line.find_last_not_of("\r") + 1);
        const std::size_t eq = line.find('=');
        const std::string name = line.substr(0, eq);
        if (eq == std::string::npos || name.rfind("WINE", 0) == 0 || name == "USER" || name == "LOGNAME" ||
            name == "LANG" || name == "PROMPT") {
            continue;
        }
        expected[FromUtf8(name)] = FromUtf8(line.substr(eq + 1));
    }
    std::map<std::wstring, std::wstring> actual;
    for (const auto& [name, value] : target->Environment().Variables()) {
        actual[name] = value;
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(target->DataFolder(), L"C:\\ProgramData\\Application Data\\Corvane\\");
    EXPECT_TRUE(target->Files().DriveMap().m_bDotFilesHidden);

    // The user may ask Wine to show dot-files as ordinary files.
    ASSERT_TRUE(target->Registry().ImportText(HKEY_CURRENT_USER, "[Software\\\\Wine]\n\"ShowDotFiles\"=\"Y\"\n").Ok());
    ASSERT_TRUE(target->Registry().Flush().Ok());
    target = CTarget::OpenWinePrefix(prefix.string(), strError);
    ASSERT_NE(target, nullptr) << ToUtf8(strError);
    EXPECT_FALSE(target->Files().DriveMap().m_bDotFilesHidden);
}

TEST_F(TargetTest, WineFontFoldersAreReachedThroughTheClosestDrive) {
    fs::create_directories(m_root / "host" / "share" / "wine" / "fonts");
    fs::create_directories(m_root / "drive_c");
    CDriveMap map;
    map.m_mapDrives[L'C'] = (m_root / "drive_c").string();
    map.m_mapDrives[L'Y'] = (m_root / "host").string();
    fs::create_directory_symlink(m_root / "host" / "share", m_root / "share-link");
    map.m_mapDrives[L'S'] = (m_root / "share-link").string();  // a drive by a link, and closer
    EXPECT_EQ(WindowsPathsOf(map, {(m_root / "host" / "share" / "wine" / "fonts").string(),
                                   (m_root / "host" / "missing").string(), "/"}),
              (std::vector<std::wstring>{L"S:\\wine\\fonts"}));
    map.m_mapDrives[L'Z'] = "/";
    EXPECT_EQ(WindowsPathsOf(map, {(m_root / "host").string()}), (std::vector<std::wstring>{L"Y:\\"}));

    EXPECT_EQ(TestTarget(false)->FontFolders(), (std::vector<std::wstring>{L"C:\\windows\\Fonts"}));
}
