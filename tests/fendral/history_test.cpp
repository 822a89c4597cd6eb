// History cleaning of the demo prefix through the loaded library: item by item, each erases what the
// demo's expectations name for it and nothing else, with one message per erased entity, and the
// registry changes reach the prefix's files.
#include <set>

#include "platform/demo/demo.h"
#include "platform/text/text.h"
#include "tests/fendral/fendral_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/trash.h"

using namespace Branwick;
using namespace Branwick::Testing;
namespace fs = std::filesystem;

namespace {

const DWORD kItems[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x100, 0x80, 0x200, 0x1000, 0x2000, 0x800, 0x400};

class HistoryDemoTest : public FendralTest {
protected:
    HistoryDemoTest() {
        setenv("XDG_DATA_HOME", (m_folder / "data").c_str(), 1);  // never the real user's trash
    }
    ~HistoryDemoTest() override { unsetenv("XDG_DATA_HOME"); }

    fs::path Prefix() const { return m_folder / "prefix"; }

    // What the prefix holds on disk: every file below drive_c as "C:\..." and every key of the
    // user as "HKEY_CURRENT_USER\...", folded, read from the registry files afresh.
    std::set<std::wstring> OnDisk() const {
        std::set<std::wstring> out;
        const fs::path driveC = Prefix() / "drive_c";
        for (const auto& e : fs::recursive_directory_iterator(driveC)) {
            if (!e.is_directory() || e.is_symlink()) {
                std::string s = e.path().lexically_relative(driveC).string();
                std::replace(s.begin(), s.end(), '/', '\\');
                out.insert(Platform::FoldCase(L"C:\\" + Platform::FromUtf8(s)));
            }
        }
        Platform::CRegistry reg;
        EXPECT_TRUE(Platform::CRegistry::OpenWinePrefix(Prefix().string(), {}, &reg).Ok());
        AddKeys(reg, L"", out);
        return out;
    }

    static void AddKeys(const Platform::CRegistry& reg, const std::wstring& strPath, std::set<std::wstring>& out) {
        Platform::CRegKey key;
        if (reg.OpenKey(HKEY_CURRENT_USER, strPath, KEY_READ, &key) != ERROR_SUCCESS) {
            return;
        }
        std::wstring strName;
        for (DWORD i = 0; key.EnumKey(i, &strName) == ERROR_SUCCESS; ++i) {
            const std::wstring strChild = strPath.empty() ? strName : strPath + L'\\' + strName;
            out.insert(Platform::FoldCase(L"HKEY_CURRENT_USER\\" + strChild));
            AddKeys(reg, strChild, out);
        }
    }

    // One history cleaning to its finish; its thread is then stopped, as the program does.
    void Clean(DWORD dwItems, Platform::CTarget* pTarget) {
        m_recorder.Clear();
        const DWORD dwId = Start(kFendralCleanHistory, std::make_unique<CScanThreadData>(
                                                           m_messages.GetSink(), nullptr, dwItems, pTarget, &m_box));
        ASSERT_TRUE(m_recorder.WaitFor(CFinishProgressMessage::kType));
        EXPECT_TRUE(m_threads.StopThread(dwId, INFINITE));
        EXPECT_EQ(m_recorder.Of<CGenProgressMessage>().size(), 14u);
    }

    CorvaneTest::CTempFolder m_folder{"corvane-fendral-history"};
};

TEST_F(HistoryDemoTest, EachItemErasesWhatItNamesAndNothingElse) {
    Platform::CDemoExpectations expected;
    std::wstring strError;
    ASSERT_TRUE(Platform::MakeDemoPrefix(Prefix().string(), &expected, strError)) << WideToUtf8(strError);
    std::unique_ptr<Platform::CTarget> pTarget = Platform::CTarget::OpenWinePrefix(Prefix().string(), strError);
    ASSERT_NE(pTarget, nullptr) << WideToUtf8(strError);
    CorvaneTest::PutInTrash(m_folder / "data", "old-notes.txt",
                            (Prefix() / "drive_c/users/demo/Desktop/old-notes.txt").string());
    CorvaneTest::PutInTrash(m_folder / "data", "holiday.jpg",
                            (m_folder / "home/Pictures/holiday.jpg").string());

    std::set<std::wstring> before = OnDisk();
    for (DWORD dwItem : kItems) {
        SCOPED_TRACE(::testing::Message() << "item 0x" << std::hex << dwItem);
        Clean(dwItem, pTarget.get());
        const std::set<std::wstring> after = OnDisk();

        // What went is exactly what this item names and was still there.
        std::set<std::wstring> gone, named;
        std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::inserter(gone, gone.end()));
        for (const Platform::CDemoTrace& t : expected.m_vcHistory) {
            const std::wstring strPath = Platform::FoldCase(t.m_strPath);
            if ((t.m_dwItems & dwItem) && t.m_bErased && before.count(strPath)) {
                named.insert(strPath);
            }
            EXPECT_FALSE((t.m_dwItems & dwItem) && t.m_bErased && after.count(strPath)) << WideToUtf8(t.m_strPath);
            EXPECT_FALSE((t.m_dwItems & dwItem) && !t.m_bErased && !after.count(strPath)) << WideToUtf8(t.m_strPath);
        }
        std::set<std::wstring> goneKeysBelow;  // a deleted key takes its subkeys with it
        for (const std::wstring& s : gone) {
            const bool bBelowNamed = std::any_of(named.begin(), named.end(), [&](const std::wstring& n) {
                return s.size() > n.size() && s.compare(0, n.size() + 1, n + L'\\') == 0 && n.starts_with(L"HKEY_");
            });
            EXPECT_TRUE(named.count(s) || bBelowNamed) << "erased although not named: " << WideToUtf8(s);
        }

        // One message per erased file and autocomplete key, the typed addresses go without one.
        std::set<std::wstring> reported;
        for (const CHistoryCleanerMessage& m : m_recorder.Of<CHistoryCleanerMessage>()) {
            EXPECT_EQ(m.m_hcType, static_cast<std::int32_t>(dwItem));
            EXPECT_EQ(m.m_hcRes, 0) << WideToUtf8(m.m_sHistoryEntity);
            EXPECT_TRUE(reported.insert(Platform::FoldCase(m.m_sHistoryEntity)).second);
        }
        std::set<std::wstring> expectedReports = named;
        expectedReports.erase(Platform::FoldCase(L"HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\TypedURLs"));
        if (dwItem == 0x1000) {
            expectedReports.insert(Platform::FoldCase(L"Recycle Bin"));
        }
        EXPECT_EQ(reported, expectedReports);
        EXPECT_TRUE(m_recorder.Of<CLogMessage>().empty());
        before = after;
    }
    EXPECT_FALSE(fs::exists(m_folder / "data" / "Trash" / "files" / "old-notes.txt"));
    EXPECT_TRUE(fs::exists(m_folder / "data" / "Trash" / "files" / "holiday.jpg"));
    EXPECT_TRUE(m_box.GetShown().empty());
}

}  // namespace
