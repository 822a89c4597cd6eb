#include "platform/demo/demo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/demo/recipe.h"
#include "platform/target/target.h"
#include "platform/text/text.h"
#include "tests/support/temp_folder.h"

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

class DemoTest : public ::testing::Test {
protected:
    CorvaneTest::CTempFolder m_dir{"corvane-demo"};
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
    std::ofstream(m_dir / "precious.txt") << "keep";
    std::wstring strError;
    EXPECT_FALSE(MakeDemoPrefix(m_dir.Path().string(), nullptr, strError));
    EXPECT_NE(strError.find(L"not an empty folder"), std::wstring::npos) << strError;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1);
}

TEST_F(DemoTest, TheDemoPrefixHoldsWhatItsExpectationsSay) {
    CDemoExpectations made;
    std::wstring strError;
    ASSERT_TRUE(MakeDemoPrefix(m_dir.Path().string(), &made, strError)) << strError;
    CDemoExpectations loaded;
    ASSERT_TRUE(LoadDemoExpectations(m_dir.Path().string(), loaded, strError)) << strError;
    ASSERT_EQ(loaded.m_vcFindings.size(), made.m_vcFindings.size());
    EXPECT_EQ(loaded.m_vcFindings.back().m_strDescription, made.m_vcFindings.back().m_strDescription);
    EXPECT_EQ(loaded.m_strUser, L"demo");

    auto target = CTarget::OpenWinePrefix(m_dir.Path().string(), strError);
    ASSERT_NE(target, nullptr) << strError;
    EXPECT_TRUE(target->Is64Bit());
    EXPECT_EQ(target->Environment().Get(L"USERPROFILE"), L"C:\\users\\demo");
    EXPECT_EQ(target->Environment().Get(L"TEMP"), L"C:\\users\\demo\\Temp");
    const CRegistry& reg = target->Registry();
    CFileSystem& files = target->Files();

    // The look-alikes and the history traces are there; the planted problems are shown to be by
    // the scan of the demo prefix through the engine.
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
}
