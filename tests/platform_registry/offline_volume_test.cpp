// An offline Windows volume through the public API: where each hive appears, the links Windows
// makes at boot, the merged classes root, the views, and the volume without a user.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "tests/platform_registry/hive_util.h"

namespace Branwick::Platform {
namespace {

using RegTest::ReadSz;
using RegTest::SubKeys;
using RegTest::Sz;

constexpr wchar_t kMuseumSid[] = L"S-1-5-21-2290304894-658537038-505560459-1001";

CRegistry Open(const std::string& dir, const std::wstring& user = L"alice") {
    CRegistry reg;
    const CStatus status = CRegistry::OpenOfflineVolume(dir, user, &reg);
    EXPECT_TRUE(status.Ok()) << ToUtf8(status.m_strText);
    return reg;
}

std::wstring PathOf(const CRegistry& reg, HKEY root, const std::wstring& path, REGSAM sam = 0) {
    CRegKey key;
    return reg.OpenKey(root, path, sam, &key) == ERROR_SUCCESS ? key.GetPath() : L"<missing>";
}

TEST(OfflineVolume, HivesAppearWhereWindowsLoadsThem) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    RegTest::BuildVolume(dir.Path(), {.m_strSystem = "regipy__SYSTEM_WIN_10_1709",
                                      .m_strNtUser = "museum__Win10_NTUSER.DAT"});
    const CRegistry reg = Open(dir.Path() + "/");
    EXPECT_TRUE(reg.Is64Bit()) << "PROCESSOR_ARCHITECTURE is AMD64 in this SYSTEM";
    EXPECT_TRUE(reg.IsValid());

    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                     L"CurrentBuildNumber"),
              L"1381");
    EXPECT_EQ(PathOf(reg, HKEY_LOCAL_MACHINE, L"system\\CurrentControlSet\\Services"),
              L"HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE,
                     L"System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                     L"PROCESSOR_ARCHITECTURE"),
              L"AMD64");
    EXPECT_EQ(PathOf(reg, HKEY_CURRENT_CONFIG, L""),
              L"HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Hardware Profiles\\0001");

    // The user's SID is not in NT4's profile list, so UsrClass.dat's root name gives it.
    EXPECT_EQ(SubKeys(reg, HKEY_USERS, L""),
              (std::vector<std::wstring>{L".DEFAULT", kMuseumSid,
                                         std::wstring(kMuseumSid) + L"_Classes"}));
    EXPECT_EQ(PathOf(reg, HKEY_CURRENT_USER, L"Control Panel"),
              std::wstring(L"HKEY_USERS\\") + kMuseumSid + L"\\Control Panel");
    EXPECT_EQ(PathOf(reg, HKEY_CURRENT_USER, L"Software\\Classes\\.avi"),
              std::wstring(L"HKEY_USERS\\") + kMuseumSid + L"_Classes\\.avi");
    EXPECT_NE(PathOf(reg, HKEY_USERS, L".default\\Control Panel"), L"<missing>");

    // HKCR: the user's class shadows the machine's value by value; the rest is the union.
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, L"http", L""), L"URL:http");
    CRegKey http;
    ASSERT_EQ(reg.OpenKey(HKEY_CLASSES_ROOT, L"http", 0, &http), ERROR_SUCCESS);
    DWORD type = 0;
    CRegBytes data;
    EXPECT_EQ(http.QueryValue(L"EditFlags", &type, &data), ERROR_SUCCESS) << "the machine's";
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, L".avi", L""), L"AVIFile");
    EXPECT_EQ(SubKeys(reg, HKEY_CLASSES_ROOT, L".avi"),
              std::vector<std::wstring>{L"OpenWithProgids"});
    const std::vector<std::wstring> classes = SubKeys(reg, HKEY_CLASSES_ROOT, L"");
    for (const wchar_t* name : {L".3fr", L"batfile", L"CLSID", L"Local Settings"}) {
        EXPECT_NE(std::find(classes.begin(), classes.end(), name), classes.end()) << ToUtf8(name);
    }
    // Writes go where the key lives, new keys to the machine.
    CRegKey created;
    ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, L"Local Settings\\UserOnly", 0, &created),
              ERROR_SUCCESS);
    ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, L"batfile\\MachineOnly", 0, &created),
              ERROR_SUCCESS);
    EXPECT_NE(PathOf(reg, HKEY_CURRENT_USER, L"Software\\Classes\\Local Settings\\UserOnly"),
              L"<missing>");
    EXPECT_EQ(PathOf(reg, HKEY_CURRENT_USER, L"Software\\Classes\\batfile"), L"<missing>");
    EXPECT_NE(PathOf(reg, HKEY_LOCAL_MACHINE, L"Software\\Classes\\batfile\\MachineOnly"),
              L"<missing>");
}

// A backup names the hive a classes key lives in, which is where a delete through the merged
// root takes it from; a restore through the merged root would put a new key into the machine's.
TEST(OfflineVolume, AClassesKeysHomeIsTheHiveADeleteTakesItFrom) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    RegTest::BuildVolume(dir.Path(), {.m_strSystem = "regipy__SYSTEM_WIN_10_1709",
                                      .m_strNtUser = "museum__Win10_NTUSER.DAT"});
    const CRegistry reg = Open(dir.Path());
    using Home = std::pair<HKEY, std::wstring>;
    EXPECT_EQ(reg.HomeOf(HKEY_CLASSES_ROOT, L".avi", 0),
              Home(HKEY_CURRENT_USER, L"Software\\Classes\\.avi"));
    EXPECT_EQ(reg.HomeOf(HKEY_CLASSES_ROOT, L"batfile", 0),
              Home(HKEY_LOCAL_MACHINE, L"Software\\Classes\\batfile"));
    // Both hold "http"; its value EditFlags only the machine's key.
    const std::wstring strEditFlags = L"EditFlags";
    EXPECT_EQ(reg.HomeOf(HKEY_CLASSES_ROOT, L"http", 0),
              Home(HKEY_CURRENT_USER, L"Software\\Classes\\http"));
    EXPECT_EQ(reg.HomeOf(HKEY_CLASSES_ROOT, L"http", 0, &strEditFlags),
              Home(HKEY_LOCAL_MACHINE, L"Software\\Classes\\http"));
    EXPECT_EQ(reg.HomeOf(HKEY_CLASSES_ROOT, L"NoSuchClass", 0),
              Home(HKEY_CLASSES_ROOT, L"NoSuchClass"));
    EXPECT_EQ(reg.HomeOf(HKEY_LOCAL_MACHINE, L"Software", 0),
              Home(HKEY_LOCAL_MACHINE, L"Software"));

    // A Wine prefix's classes root is the machine's alone: its keys keep the root they were named
    // by.
    const CRegistry wine = CRegistry::CreateInMemory();
    ASSERT_TRUE(wine.ImportText(HKEY_CLASSES_ROOT, "[batfile]\n").Ok());
    EXPECT_EQ(wine.HomeOf(HKEY_CLASSES_ROOT, L"batfile", 0), Home(HKEY_CLASSES_ROOT, L"batfile"));
}

TEST(OfflineVolume, CurrentControlSetFollowsSelectAndViewsFollowTheInstall) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    const std::string config = RegTest::BuildVolume(dir.Path(), {.m_strDefault = ""});
    // Point Select\Current at the second set, as after booting Last Known Good.
    hive_h* h = hivex_open((config + "/system").c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    char two[4] = {2, 0, 0, 0};
    hive_set_value current{const_cast<char*>("Current"), hive_t_REG_DWORD, 4, two};
    ASSERT_EQ(
        hivex_node_set_value(h, hivex_node_get_child(h, hivex_root(h), "Select"), &current, 0), 0);
    ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
    hivex_close(h);

    const CRegistry reg = Open(dir.Path(), L"ALICE");
    EXPECT_EQ(PathOf(reg, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control"),
              L"HKEY_LOCAL_MACHINE\\System\\ControlSet002\\Control");
    EXPECT_FALSE(reg.Is64Bit()) << "NT 4 on x86";
    EXPECT_EQ(SubKeys(reg, HKEY_USERS, L"").front(), std::wstring(kMuseumSid))
        << "no DEFAULT hive on this volume";

    // A 64-bit install: the 32-bit view of HKLM\Software and of the classes' CLSID is
    // Wow6432Node, as Windows redirects it; the links are not written into the hives.
    RegTest::CTempDir dir64;
    RegTest::BuildVolume(dir64.Path(), {.m_strSystem = "regipy__SYSTEM_B"});
    const CRegistry reg64 = Open(dir64.Path());
    ASSERT_TRUE(reg64.Is64Bit());
    CRegKey wow;
    ASSERT_EQ(reg64.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Vendor", 0, &wow),
              ERROR_SUCCESS);
    ASSERT_EQ(wow.SetValue(L"Bits", REG_SZ, Sz(L"32")), ERROR_SUCCESS);
    EXPECT_EQ(ReadSz(reg64, HKEY_LOCAL_MACHINE, L"Software\\Vendor", L"Bits", KEY_WOW64_32KEY),
              L"32");
    EXPECT_EQ(PathOf(reg64, HKEY_CURRENT_USER, L"Software\\Classes\\CLSID", KEY_WOW64_32KEY),
              std::wstring(L"HKEY_USERS\\") + kMuseumSid + L"_Classes\\WOW6432Node\\CLSID")
        << "the hive spells it in capitals";
    EXPECT_EQ(PathOf(reg64, HKEY_CLASSES_ROOT, L"CLSID", KEY_WOW64_32KEY),
              L"HKEY_CLASSES_ROOT\\CLSID");
}

TEST(OfflineVolume, WithoutAUserTheCurrentUserIsAbsent) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    RegTest::BuildVolume(dir.Path());
    const CRegistry reg = Open(dir.Path(), L"");
    CRegKey key;
    EXPECT_EQ(reg.OpenRoot(HKEY_CURRENT_USER, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\X", 0, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubKeys(reg, HKEY_USERS, L""), std::vector<std::wstring>{L".DEFAULT"});
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, L"http", L""), L"URL:HyperText Transfer Protocol")
        << "the machine's classes alone";
    EXPECT_EQ(PathOf(reg, HKEY_CLASSES_ROOT, L"machine"), L"<missing>");
}

TEST(OfflineVolume, MissingPiecesGiveClearErrors) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    CRegistry reg;
    CStatus status = CRegistry::OpenOfflineVolume(dir.Path(), L"alice", &reg);
    EXPECT_EQ(status.m_lCode, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(status.m_strText.find(L"is not a Windows system volume"), std::wstring::npos);
    EXPECT_FALSE(reg.IsValid());

    RegTest::BuildVolume(dir.Path());
    status = CRegistry::OpenOfflineVolume(dir.Path(), L"bob", &reg);
    EXPECT_EQ(status.m_lCode, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(status.m_strText.find(L"no user 'bob'"), std::wstring::npos);
    for (const wchar_t* bad : {L"..", L"../Alice", L"Alice\\..\\Alice"}) {
        EXPECT_EQ(CRegistry::OpenOfflineVolume(dir.Path(), bad, &reg).m_lCode,
                  ERROR_INVALID_PARAMETER);
    }

    RegTest::CopyFixture("regipy__corrupted_system_hive",
                         dir.Path() + "/WINDOWS/system32/Config/system");
    status = CRegistry::OpenOfflineVolume(dir.Path(), L"alice", &reg);
    EXPECT_EQ(status.m_lCode, ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(status.m_strText.find(L"WINDOWS/system32/Config/system"), std::wstring::npos)
        << ToUtf8(status.m_strText);
    EXPECT_FALSE(reg.IsValid());
}

}  // namespace
}  // namespace Branwick::Platform
