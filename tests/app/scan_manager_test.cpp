// The scan manager over the loaded engine on the demo prefix: what a scan keeps (quiet
// categories, the scan's own categories, the ignore list), IgnoreError, the quiet period after a
// fix and a restore, and a missing engine.
#include "tests/app/engine_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

constexpr wchar_t kKeyA[] = L"Software\\Classes\\CLSID\\{00000000-0000-0000-0000-00000000000A}";
constexpr wchar_t kKeyB[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gone";

std::array<std::int64_t, 12> AllQuiet() {
    std::array<std::int64_t, 12> offsets;
    offsets.fill(86400);
    return offsets;
}

using ScanManagerTest = EngineTest;

TEST_F(ScanManagerTest, AScanOfQuietCategoriesKeepsNothing) {
    SetQuietTimes(AllQuiet());
    Scan(COM | UNINSTALL, {Finding(COM, kKeyA), Finding(UNINSTALL, kKeyB)});
    EXPECT_EQ(TestFindings(COM), 0u);
    EXPECT_EQ(TestFindings(UNINSTALL), 0u);
    EXPECT_EQ(m_counter.Count(CErrorAddedMessage::kType), 0);
    EXPECT_EQ(m_pScan->GetAcceptedCategories(), 0u);
}

TEST_F(ScanManagerTest, QuietTimeEqualToNowOrPastIsAccepted) {
    std::array<std::int64_t, 12> offsets = AllQuiet();
    offsets[0] = 0;       // COM: quiet until now
    offsets[1] = -86400;  // UNINSTALL: over yesterday
    SetQuietTimes(offsets);
    Scan(COM | UNINSTALL | FONTS, {Finding(COM, kKeyA), Finding(UNINSTALL, kKeyB),
                                   Finding(FONTS, L"Software\\Fonts")});
    EXPECT_EQ(TestFindings(COM), 1u);
    EXPECT_EQ(TestFindings(UNINSTALL), 1u);
    EXPECT_EQ(TestFindings(FONTS), 0u);
}

TEST_F(ScanManagerTest, ACategoryOutsideTheScanIsDroppedWhileTheQuietTimesCanBeRead) {
    SetQuietTimes({});  // every category quiet until now: accepted
    Scan(COM, {Finding(COM, kKeyA), Finding(UNINSTALL, kKeyB)});
    EXPECT_EQ(TestFindings(COM), 1u);
    EXPECT_EQ(TestFindings(UNINSTALL), 0u);
}

TEST_F(ScanManagerTest, EveryCategoryIsAcceptedWhenTheQuietTimesCannotBeRead) {
    // The key exists, the value has the wrong type.
    Platform::CRegKey key;
    ASSERT_EQ(m_pTarget->Registry().CreateKey(HKEY_LOCAL_MACHINE, kCorvaneKey,
                                              KEY_ALL_ACCESS | kCorvaneKeyView, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(kQuietTimesValue, REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    Scan(COM, {Finding(COM, kKeyA), Finding(UNINSTALL, kKeyB)});
    EXPECT_EQ(TestFindings(UNINSTALL), 1u);
    // Without the key at all, the same.
    key.Close();
    ASSERT_EQ(m_pTarget->Registry().DeleteTree(HKEY_LOCAL_MACHINE, kCorvaneKey, kCorvaneKeyView),
              ERROR_SUCCESS);
    Scan(COM, {Finding(UNINSTALL, kKeyB)});
    EXPECT_EQ(TestFindings(UNINSTALL), 1u);
}

TEST_F(ScanManagerTest, IgnoredFindingsAreNotAddedAndTheCountsStartAtEachScan) {
    const CRegError ignored = Finding(COM, kKeyA);
    m_pScan->GetIgnoreList().Add(COM, ignored);
    const CRegError kept = Finding(COM, L"Software\\Classes\\CLSID\\{B}");
    Scan(0, {ignored, kept, kept});  // no quiet times: every category is accepted
    ASSERT_TRUE(m_counter.WaitFor(CErrorAddedMessage::kType, 2));
    ASSERT_EQ(TestFindings(COM), 2u);
    for (const CRegError& record : m_pScan->GetErrors()[COM]) {
        EXPECT_EQ(record.m_sPath, kept.m_sPath);
        EXPECT_EQ(record.m_nState, 1);
    }
    std::vector<int> counts;
    for (const CErrorAddedMessage& added : m_counter.Of<CErrorAddedMessage>()) {
        EXPECT_EQ(added.m_nScanType, COM);
        counts.push_back(added.m_nErrorCount);
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 2}));

    Scan(0, {kept});
    ASSERT_TRUE(m_counter.WaitFor(CErrorAddedMessage::kType, 1));
    ASSERT_EQ(m_counter.Of<CErrorAddedMessage>().size(), 1u);
    EXPECT_EQ(m_counter.Of<CErrorAddedMessage>()[0].m_nErrorCount, 1);
}

TEST_F(ScanManagerTest, IgnoreErrorRemovesExactlyThatRecord) {
    const CRegError same = Finding(COM, kKeyA);
    Scan(0, {same, same, Finding(COM, L"Software\\Other")});
    std::list<CRegError>& list = m_pScan->GetErrors()[COM];
    ASSERT_EQ(list.size(), 3u);
    CRegError* pSecond = &*std::next(list.begin());
    const CRegError* pFirst = &list.front();
    m_pScan->IgnoreError(COM, pSecond);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(&list.front(), pFirst);  // the first of the twins is still the same object
    EXPECT_EQ(list.back().m_sPath, L"Software\\Other");
    EXPECT_EQ(m_pScan->GetIgnoreList().GetCount(COM), 1u);
    EXPECT_TRUE(m_pScan->GetIgnoreList().IsIgnored(COM, same));
}

TEST_F(ScanManagerTest, AFixMakesItsCategoriesQuietAndARestoreMakesEveryCategoryReportAgain) {
    SetQuietTimes({});
    Scan(COM | UNINSTALL, {Finding(COM, kKeyA)});
    std::map<std::int32_t, SFixCount> counts = CFinishFixMessage().m_mapStatistics;
    counts[COM] = {1, 1};        // fixed: quiet
    counts[UNINSTALL] = {0, 0};  // nothing found: quiet
    counts[FONTS] = {0, 0};      // not scanned: stays
    m_pScan->SetQuietAfterFix(counts);
    Scan(COM | UNINSTALL | FONTS, {Finding(COM, kKeyA), Finding(UNINSTALL, kKeyB),
                                   Finding(FONTS, L"Software\\Fonts")});
    EXPECT_EQ(m_pScan->GetAcceptedCategories(), static_cast<DWORD>(FONTS));
    EXPECT_EQ(TestFindings(COM), 0u);

    // What a restore does at its end.
    m_pScan->ResetQuietTimes();
    Scan(COM | UNINSTALL | FONTS, {Finding(COM, kKeyA), Finding(UNINSTALL, kKeyB),
                                   Finding(FONTS, L"Software\\Fonts")});
    EXPECT_EQ(m_pScan->GetAcceptedCategories(), static_cast<DWORD>(COM | UNINSTALL | FONTS));
    EXPECT_EQ(TestFindings(COM) + TestFindings(UNINSTALL) +
                  TestFindings(FONTS),
              3u);
}

TEST_F(ScanManagerTest, AMissingEngineFailsClearlyAndStartsNoThread) {
    CScanManager missing(m_messages, m_threads, *m_pTarget, m_strData, &m_box,
                         "libfendral-missing.so");
    const std::size_t nThreads = m_threads.GetThreadCount();
    const std::size_t nShown = m_box.GetShown().size();
    EXPECT_EQ(missing.StartScan(0xFFF), 0u);
    EXPECT_EQ(missing.StartHistoryCleaning(0x3FFF), 0u);
    EXPECT_EQ(missing.StartFix(), 0u);
    EXPECT_FALSE(missing.IsScanning());
    EXPECT_FALSE(missing.IsFixing());
    EXPECT_EQ(m_threads.GetThreadCount(), nThreads);
    EXPECT_FALSE(missing.GetLastError().empty());
    const auto shown = m_box.GetShown();
    ASSERT_EQ(shown.size(), nShown + 3);
    EXPECT_EQ(shown.back().strText, missing.GetLastError());
}

}  // namespace
