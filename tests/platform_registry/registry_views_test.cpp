// Roots, the 32-bit view, link keys and the two kinds of HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "tests/platform_registry/test_util.h"

namespace Branwick::Platform {
namespace {

using RegTest::ReadSz;
using RegTest::SubKeys;
using RegTest::Sz;

// What a 64-bit Wine prefix holds for the view tests.
constexpr const char* kWow64Machine = R"(
[Software\\Vendor]
"Bits"="64"
[Software\\Wow6432Node\\Vendor]
"Bits"="32"
[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}]
@="native"
[Software\\Classes\\Wow6432Node\\CLSID\\{00000000-0000-0000-0000-000000000001}]
@="wow"
[Software\\Classes\\.txt]
@="txtfile"
[Software\\Classes\\Wow6432Node\\Interface]
)";

TEST(RegistryViews, ThirtyTwoBitViewOnA64BitTarget) {
    CRegistry reg = CRegistry::CreateInMemory({.m_b64Bit = true});
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kWow64Machine).Ok());
    EXPECT_TRUE(reg.Is64Bit());

    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor", L"Bits", KEY_WOW64_64KEY),
              L"64");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor", L"Bits", 0), L"64");
    EXPECT_EQ(
        ReadSz(reg, HKEY_LOCAL_MACHINE, L"SOFTWARE\\vendor", L"Bits", KEY_READ | KEY_WOW64_32KEY),
        L"32");
    // An explicit Wow6432Node is not redirected twice.
    EXPECT_EQ(
        ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Vendor", L"Bits", KEY_WOW64_32KEY),
        L"32");
    // HKLM\Software itself is redirected: its 32-bit view lists Wow6432Node's children.
    EXPECT_EQ(SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY),
              std::vector<std::wstring>{L"Vendor"});

    const std::wstring clsid = L"CLSID\\{00000000-0000-0000-0000-000000000001}";
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, clsid, L"", KEY_WOW64_64KEY), L"native");
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, clsid, L"", KEY_WOW64_32KEY), L"wow");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + clsid, L"", KEY_WOW64_32KEY),
              L"wow");
    // Classes\.txt is shared between the views.
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, L".txt", L"", KEY_WOW64_32KEY), L"txtfile");

    // Writes follow the view too.
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\NewVendor", KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\NewVendor");
    ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, L"Interface\\{I}", KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\Interface\\{I}");
    ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, L".new", KEY_WOW64_32KEY, &key), ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Classes\\.new");
    EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor", KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor", L"Bits"), L"64");
    // HKCU is shared in a Wine prefix.
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\UserVendor", KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\UserVendor");
}

TEST(RegistryViews, ThirtyTwoBitTargetHasOneView) {
    CRegistry reg = CRegistry::CreateInMemory({.m_b64Bit = false});
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kWow64Machine).Ok());
    EXPECT_FALSE(reg.Is64Bit());
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor", L"Bits", KEY_WOW64_32KEY),
              L"64");
    EXPECT_EQ(ReadSz(reg, HKEY_CLASSES_ROOT, L"CLSID\\{00000000-0000-0000-0000-000000000001}", L"",
                     KEY_WOW64_32KEY),
              L"native");
}

// "\Registry\Machine\System\ControlSet001", a link to it, a link to itself and one to nowhere.
constexpr const char* kLinkedSystem = R"(
[System\\ControlSet001\\Control]
"Real"="yes"
[System\\CurrentControlSet]
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,5c,00,4d,00,61,00,63,00,\
  68,00,69,00,6e,00,65,00,5c,00,53,00,79,00,73,00,74,00,65,00,6d,00,5c,00,43,00,6f,00,6e,00,74,00,72,00,\
  6f,00,6c,00,53,00,65,00,74,00,30,00,30,00,31,00
[System\\Loop]
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,45,00,47,00,49,00,53,00,54,00,52,00,59,00,5c,00,4d,00,61,00,63,00,\
  68,00,69,00,6e,00,65,00,5c,00,53,00,79,00,73,00,74,00,65,00,6d,00,5c,00,4c,00,6f,00,6f,00,70,00
[System\\Broken]
#link
)";

TEST(RegistryViews, LinkKeysAreFollowed) {
    CRegistry reg = CRegistry::CreateInMemory();
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kLinkedSystem).Ok());
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", L"Real"),
              L"yes");
    CRegKey key;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet", 0, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\System\\ControlSet001");
    ASSERT_EQ(
        reg.CreateKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\New", 0, &key),
        ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services\\New");
    EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"System\\Loop", 0, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"System\\Broken\\x", 0, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"System\\Broken\\x", 0, &key),
              ERROR_FILE_NOT_FOUND);
    // The enumeration of the parent lists the link under its own name.
    EXPECT_EQ(
        SubKeys(reg, HKEY_LOCAL_MACHINE, L"System"),
        (std::vector<std::wstring>{L"Broken", L"ControlSet001", L"CurrentControlSet", L"Loop"}));
}

// A walk opens each subkey right after EnumKey gave its name, which finds it without a search; it
// must be the key that the name finds, in every view, through links, and after changes.
TEST(RegistryViews, AnEnumeratedSubkeyOpensAsItsNameDoes) {
    CRegistry reg = CRegistry::CreateInMemory({.m_b64Bit = true});
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kWow64Machine).Ok());
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kLinkedSystem).Ok());
    struct SParent {
        HKEY hRoot;
        const wchar_t* pszPath;
        REGSAM sam;
    };
    for (const SParent& parent : {SParent{HKEY_LOCAL_MACHINE, L"", KEY_WOW64_64KEY},
                                  SParent{HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_64KEY},
                                  SParent{HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY},
                                  SParent{HKEY_CLASSES_ROOT, L"", KEY_WOW64_64KEY},
                                  SParent{HKEY_LOCAL_MACHINE, L"System", 0}}) {
        CRegKey key;
        CRegKey unwalked;  // the same key, never enumerated
        ASSERT_EQ(reg.OpenKey(parent.hRoot, parent.pszPath, parent.sam, &key), ERROR_SUCCESS);
        ASSERT_EQ(key.OpenKey(L"", 0, &unwalked), ERROR_SUCCESS);
        std::wstring strName;
        for (DWORD i = 0; key.EnumKey(i, &strName) == ERROR_SUCCESS; ++i) {
            for (const REGSAM sam : {REGSAM{0}, REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
                CRegKey walked;
                CRegKey named;
                EXPECT_EQ(key.OpenKey(strName, sam, &walked),
                          unwalked.OpenKey(strName, sam, &named))
                    << key.GetPath() << " " << strName << " " << sam;
                EXPECT_EQ(walked.GetPath(), named.GetPath()) << strName << " " << sam;
            }
        }
    }
    // The subkey enumerated last is deleted, and made again, before it is opened.
    CRegKey software;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_64KEY, &software),
              ERROR_SUCCESS);
    std::wstring strName;
    ASSERT_EQ(software.EnumKey(1, &strName), ERROR_SUCCESS);
    ASSERT_EQ(strName, L"Vendor");
    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Vendor"), ERROR_SUCCESS);
    CRegKey gone;
    EXPECT_EQ(software.OpenKey(strName, 0, &gone), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(software.EnumKey(1, &strName), ERROR_SUCCESS);
    ASSERT_EQ(strName, L"Wow6432Node");
    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node"), ERROR_SUCCESS);
    CRegKey again;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\" + strName, 0, &again), ERROR_SUCCESS);
    CRegKey found;
    ASSERT_EQ(software.OpenKey(strName, 0, &found), ERROR_SUCCESS);
    EXPECT_EQ(found.SetValue(L"v", REG_SZ, Sz(L"new")), ERROR_SUCCESS);
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\" + strName, L"v"), L"new");
}

TEST(RegistryViews, RootsOfAWinePrefix) {
    CRegistry reg = CRegistry::CreateInMemory();
    ASSERT_TRUE(reg.ImportText(HKEY_CURRENT_USER, "[Software\\\\Mine]\n\"v\"=\"user\"\n").Ok());
    ASSERT_TRUE(
        reg.ImportText(
               HKEY_LOCAL_MACHINE,
               "[System\\\\CurrentControlSet\\\\Hardware Profiles\\\\Current\\\\Software]\n")
            .Ok());
    EXPECT_EQ(ReadSz(reg, HKEY_USERS, L"S-1-5-21-0-0-0-1000\\Software\\Mine", L"v"), L"user");
    EXPECT_EQ(SubKeys(reg, HKEY_USERS, L""),
              (std::vector<std::wstring>{L".Default", L"S-1-5-21-0-0-0-1000"}));
    EXPECT_EQ(SubKeys(reg, HKEY_CURRENT_CONFIG, L""), std::vector<std::wstring>{L"Software"});
    // In a Wine prefix HKEY_CLASSES_ROOT is the machine's classes alone.
    ASSERT_TRUE(reg.ImportText(HKEY_CURRENT_USER, "[Software\\\\Classes\\\\.user]\n").Ok());
    CRegKey key;
    EXPECT_EQ(reg.OpenKey(HKEY_CLASSES_ROOT, L".user", 0, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, L".machine", 0, &key), ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Classes\\.machine");
}

class MergedClassesRoot : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_reg
                        .ImportText(HKEY_LOCAL_MACHINE, R"(
[Software\\Classes\\.both]
@="machine"
"MachineOnly"="m"
[Software\\Classes\\.both\\shell\\open]
[Software\\Classes\\.machine]
@="m"
[Software\\Classes\\CLSID\\{C}]
@="machine64"
)")
                        .Ok());
        ASSERT_TRUE(m_reg
                        .ImportText(HKEY_CURRENT_USER, R"(
[Software\\Classes\\.both]
@="user"
[Software\\Classes\\.both\\shell\\edit]
[Software\\Classes\\.user]
@="u"
[Software\\Classes\\Wow6432Node\\CLSID\\{C}]
@="user32"
)")
                        .Ok());
    }
    CRegistry m_reg =
        CRegistry::CreateInMemory({.m_b64Bit = true, .m_eClassesRoot = EClassesRoot::Merged});
};

TEST_F(MergedClassesRoot, ReadsFindTheUserFirstAndEnumerateTheUnion) {
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L".both", L""), L"user");
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L".both", L"MachineOnly"), L"m");
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L".machine", L""), L"m");
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L".user", L""), L"u");
    EXPECT_EQ(
        SubKeys(m_reg, HKEY_CLASSES_ROOT, L""),
        (std::vector<std::wstring>{L".both", L".machine", L".user", L"CLSID", L"Wow6432Node"}));
    EXPECT_EQ(SubKeys(m_reg, HKEY_CLASSES_ROOT, L".both\\shell"),
              (std::vector<std::wstring>{L"edit", L"open"}));

    CRegKey both;
    ASSERT_EQ(m_reg.OpenKey(HKEY_CLASSES_ROOT, L".both", 0, &both), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    CRegValue value;
    for (DWORD i = 0; both.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
        names.push_back(value.m_strName);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"", L"MachineOnly"}));
    CRegKeyInfo info;
    ASSERT_EQ(both.QueryInfo(&info), ERROR_SUCCESS);
    EXPECT_EQ(info.m_dwSubKeys, 1u);
    EXPECT_EQ(info.m_dwValues, 2u);
    EXPECT_EQ(both.GetPath(), L"HKEY_CLASSES_ROOT\\.both");

    // The user's classes are redirected for the 32-bit view on Windows.
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L"CLSID\\{C}", L"", KEY_WOW64_32KEY), L"user32");
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L"CLSID\\{C}", L"", KEY_WOW64_64KEY), L"machine64");
}

TEST_F(MergedClassesRoot, WritesGoWhereTheKeyLivesElseToTheMachine) {
    CRegKey key;
    ASSERT_EQ(m_reg.OpenKey(HKEY_CLASSES_ROOT, L".both", 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"New", REG_SZ, Sz(L"n")), ERROR_SUCCESS);
    EXPECT_EQ(ReadSz(m_reg, HKEY_CURRENT_USER, L"Software\\Classes\\.both", L"New"), L"n");
    ASSERT_EQ(key.DeleteValue(L"MachineOnly"), ERROR_SUCCESS);
    EXPECT_EQ(ReadSz(m_reg, HKEY_LOCAL_MACHINE, L"Software\\Classes\\.both", L"MachineOnly"),
              L"<missing>");

    bool created = false;
    ASSERT_EQ(m_reg.CreateKey(HKEY_CLASSES_ROOT, L".fresh", 0, &key, &created), ERROR_SUCCESS);
    EXPECT_TRUE(created);
    CRegKey probe;
    EXPECT_EQ(m_reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.fresh", 0, &probe),
              ERROR_SUCCESS);
    // Under a key that only the user has, new keys go to the user.
    ASSERT_EQ(m_reg.CreateKey(HKEY_CLASSES_ROOT, L".user\\shell", 0, &key, &created),
              ERROR_SUCCESS);
    EXPECT_EQ(m_reg.OpenKey(HKEY_CURRENT_USER, L"Software\\Classes\\.user\\shell", 0, &probe),
              ERROR_SUCCESS);

    // Deleting removes the user's copy first; the machine's then shows through.
    ASSERT_EQ(m_reg.DeleteTree(HKEY_CLASSES_ROOT, L".both"), ERROR_SUCCESS);
    EXPECT_EQ(ReadSz(m_reg, HKEY_CLASSES_ROOT, L".both", L""), L"machine");
    ASSERT_EQ(m_reg.DeleteTree(HKEY_CLASSES_ROOT, L".both"), ERROR_SUCCESS);
    EXPECT_EQ(m_reg.OpenKey(HKEY_CLASSES_ROOT, L".both", 0, &probe), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace Branwick::Platform
