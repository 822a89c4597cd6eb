#include "platform/demo/demo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/demo/recipe.h"
#include "platform/shelllink/shelllink.h"
#include "platform/target/target.h"
#include "platform/text/text.h"

using namespace Branwick;
using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

const DWORD kCategories[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800};

HKEY RootOf(const std::wstring& name) {
    static const std::map<std::wstring, HKEY> roots = {{L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                                                       {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                                                       {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                                                       {L"HKEY_USERS", HKEY_USERS}};
    const auto it = roots.find(name);
    return it == roots.end() ? 0 : it->second;
}

// The keys below hRoot\strPath (its own path included) that have neither values nor subkeys.
void EmptyKeys(const CRegistry& reg, HKEY hRoot, const std::wstring& strPath, std::set<std::wstring>& out) {
    CRegKey key;
    CRegKeyInfo info;
    if (reg.OpenKey(hRoot, strPath, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS ||
        key.QueryInfo(&info) != ERROR_SUCCESS) {
        return;
    }
    if (info.m_dwSubKeys == 0 && info.m_dwValues == 0) {
        out.insert(strPath);
    }
    std::wstring name;
    for (DWORD i = 0; key.EnumKey(i, &name) == ERROR_SUCCESS; ++i) {
        EmptyKeys(reg, hRoot, strPath.empty() ? name : strPath + L'\\' + name, out);
    }
}

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("corvane-demo-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

}  // namespace

TEST(DemoRecipe, PlantsTwoProblemsAndTwoLookAlikesOfEveryCategory) {
    CDemoRecipe recipe;
    std::wstring strError;
    ASSERT_TRUE(ParseRecipe(kDemoRecipe, recipe, strError)) << strError;
    for (DWORD dwCategory : kCategories) {
        const auto count = [dwCategory](const std::vector<CDemoEntry>& v) {
            return std::count_if(v.begin(), v.end(), [&](const CDemoEntry& e) { return e.m_dwCategory == dwCategory; });
        };
        EXPECT_GE(count(recipe.m_expect.m_vcFindings), 2) << std::hex << dwCategory;
        EXPECT_GE(count(recipe.m_expect.m_vcSound), 2) << std::hex << dwCategory;
    }
    for (const CDemoEntry& e : recipe.m_expect.m_vcFindings) {
        EXPECT_TRUE(e.m_strRoot.empty() ? e.m_dwView == 0 : (e.m_dwView == KEY_WOW64_32KEY || e.m_dwView == KEY_WOW64_64KEY))
            << e.m_strPath;
    }
    EXPECT_GE(recipe.m_expect.m_vcHistory.size(), 20u);
}

TEST(DemoRecipe, ABadLineIsNamed) {
    CDemoRecipe recipe;
    std::wstring strError;
    EXPECT_FALSE(ParseRecipe("; fine\n\n[Software\\\\X]\n", recipe, strError));
    EXPECT_EQ(strError, L"Demo recipe, line 3: registry text before !machine or !user");
    EXPECT_FALSE(ParseRecipe("!plant 0x1 problem x\n!expect HKEY_USERS | a | 0x100 | v\n", recipe, strError));
    EXPECT_NE(strError.find(L"line 2: !expect needs"), std::wstring::npos) << strError;
    EXPECT_FALSE(ParseRecipe("!file relative\\path\n", recipe, strError));
    EXPECT_FALSE(ParseRecipe("!frobnicate\n", recipe, strError));
    EXPECT_TRUE(ParseRecipe("!machine\n[Software\\\\X]\n\"a\"=\"b\"\n!linkkey A\\B -> \\Registry\\Machine\\C\n", recipe, strError));
    EXPECT_NE(recipe.m_strMachine.find("[A\\\\B]\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00"), std::string::npos);
}

TEST_F(DemoTest, RefusesAFolderThatIsNotEmpty) {
    fs::create_directories(m_dir);
    std::ofstream(m_dir / "precious.txt") << "keep";
    std::wstring strError;
    EXPECT_FALSE(MakeDemoPrefix(m_dir.string(), nullptr, strError));
    EXPECT_NE(strError.find(L"not an empty folder"), std::wstring::npos) << strError;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(DemoTest, TheDemoPrefixHoldsWhatItsExpectationsSay) {
    CDemoExpectations made;
    std::wstring strError;
    ASSERT_TRUE(MakeDemoPrefix(m_dir.string(), &made, strError)) << strError;
    CDemoExpectations loaded;
    ASSERT_TRUE(LoadDemoExpectations(m_dir.string(), loaded, strError)) << strError;
    ASSERT_EQ(loaded.m_vcFindings.size(), made.m_vcFindings.size());
    EXPECT_EQ(loaded.m_vcFindings.back().m_strDescription, made.m_vcFindings.back().m_strDescription);
    EXPECT_EQ(loaded.m_strUser, L"demo");

    auto target = CTarget::OpenWinePrefix(m_dir.string(), strError);
    ASSERT_NE(target, nullptr) << strError;
    EXPECT_TRUE(target->Is64Bit());
    EXPECT_EQ(target->Environment().Get(L"USERPROFILE"), L"C:\\users\\demo");
    EXPECT_EQ(target->Environment().Get(L"TEMP"), L"C:\\users\\demo\\Temp");
    const CRegistry& reg = target->Registry();
    CFileSystem& files = target->Files();

    // Every registry finding names a key that its view shows, and the value it names.
    for (const CDemoEntry& e : loaded.m_vcFindings) {
        if (e.m_strRoot.empty()) {
            EXPECT_TRUE(files.Exists(e.m_strPath)) << ToUtf8(e.m_strPath);
            continue;
        }
        CRegKey key;
        ASSERT_EQ(reg.OpenKey(RootOf(e.m_strRoot), e.m_strPath, KEY_READ | e.m_dwView, &key), ERROR_SUCCESS)
            << ToUtf8(e.m_strPath);
        DWORD dwType = 0;
        CRegBytes data;
        if (!e.m_strValue.empty()) {
            EXPECT_EQ(key.QueryValue(e.m_strValue, &dwType, &data), ERROR_SUCCESS) << ToUtf8(e.m_strValue);
        }
    }
    for (const CDemoEntry& e : loaded.m_vcSound) {
        CRegKey key;
        EXPECT_TRUE(e.m_strRoot.empty() ? files.Exists(e.m_strPath)
                                        : reg.OpenKey(RootOf(e.m_strRoot), e.m_strPath, KEY_READ, &key) == ERROR_SUCCESS ||
                                              reg.OpenKey(RootOf(e.m_strRoot), e.m_strPath, KEY_READ | KEY_WOW64_32KEY,
                                                          &key) == ERROR_SUCCESS)
            << ToUtf8(e.m_strPath);
    }
    for (const CDemoTrace& t : loaded.m_vcHistory) {
        CRegKey key;
        const bool bKey = t.m_strPath.compare(0, 18, L"HKEY_CURRENT_USER\\") == 0;
        EXPECT_TRUE(bKey ? reg.OpenKey(HKEY_CURRENT_USER, t.m_strPath.substr(18), KEY_READ, &key) == ERROR_SUCCESS
                         : files.Exists(t.m_strPath))
            << ToUtf8(t.m_strPath);
    }

    // The only empty keys outside the kept places are the planted ones.
    std::set<std::wstring> empty;
    EmptyKeys(reg, HKEY_USERS, L"", empty);
    std::set<std::wstring> reported;
    for (const std::wstring& path : empty) {
        if (path.find(L"Microsoft") == std::wstring::npos && path.find(L"Classes") == std::wstring::npos) {
            reported.insert(path);
        }
    }
    EXPECT_EQ(reported, (std::set<std::wstring>{L"S-1-5-21-0-0-0-1000\\Software\\GoneVendor\\Gone App\\Settings",
                                                L"S-1-5-21-0-0-0-1000\\Software\\Old Tool"}));

    // The shortcuts point where the expectations say.
    std::wstring strTarget;
    EXPECT_EQ(GetLinkPath(files, L"C:\\users\\demo\\Desktop\\Gone App.lnk", strTarget), S_OK);
    EXPECT_EQ(strTarget, L"C:\\Program Files\\Gone App\\gone.exe");
    EXPECT_FALSE(files.Exists(strTarget));
}
