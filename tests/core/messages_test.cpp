#include "core/Messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/Text.h"

using namespace Branwick;

namespace {

TEST(ScanType, KeysCompareWholeAndCaseSensitively) {
    EXPECT_EQ(ScanTypeFromKey(L"JUNK_FILES"), 0x800);
    EXPECT_EQ(ScanTypeFromKey(L"junk_files"), 0);
    EXPECT_EQ(ScanTypeFromKey(L"COM"), 0x1);
    EXPECT_EQ(ScanTypeFromKey(L"COM "), 0);
    EXPECT_EQ(ScanTypeFromKey(L"SHOTCATS"), 0x40);
    EXPECT_EQ(ScanTypeFromKey(L"NOPE"), 0);
    EXPECT_EQ(ScanTypeFromKey(L""), 0);
}

TEST(ScanType, DisplayNamesCompareIgnoringCase) {
    EXPECT_EQ(ScanTypeFromDisplayName(L"junk files"), 0x800);
    EXPECT_EQ(ScanTypeFromDisplayName(L"COM/ACTIVEX ENTRIES"), 0x1);
    EXPECT_EQ(ScanTypeFromDisplayName(L"Help Files Information"), 0x100);
    EXPECT_EQ(ScanTypeFromDisplayName(L"Junk File"), 0);
    EXPECT_EQ(ScanTypeFromDisplayName(L""), 0);
}

TEST(ScanType, EveryCategoryRoundTripsThroughKeyAndName) {
    std::int32_t nBit = 1;
    for (const SScanTypeInfo& info : ScanTypes()) {
        EXPECT_EQ(info.nBit, nBit);
        EXPECT_EQ(ScanTypeFromKey(ScanTypeKey(nBit)), nBit);
        EXPECT_EQ(ScanTypeFromDisplayName(ScanTypeDisplayName(nBit)), nBit);
        nBit *= 2;
    }
    EXPECT_EQ(nBit, 0x1000);
    EXPECT_EQ(ScanTypeKey(0x3), L"");
    EXPECT_EQ(ScanTypeDisplayName(0), L"");
    EXPECT_EQ(ScanTypeDisplayName(STARTUP), L"Windows Startup Items");
}

TEST(Messages, ProgressTextOnlyAtZeroAndHundred) {
    EXPECT_EQ(CScanProgressMessage(0, L"Starting...", COM).ToString(),
              L"CScanProgressMessage\n Base = CProgressMessage\n ScanType: 1\t m_nProgress = 0\t "
              L"m_strScanDescription = Starting...\n\n");
    EXPECT_EQ(CScanProgressMessage(50, L"Half", COM).ToString(), L"");
    EXPECT_EQ(
        CScanProgressMessage(100, L"Done", JUNK_FILES).ToString(),
        L"CScanProgressMessage\n Base = CProgressMessage\n ScanType: 2048\t m_nProgress = 100\t "
        L"m_strScanDescription = Done\n\n");
    EXPECT_EQ(CFixProgressMessage(100, L"Fixed", FONTS, 7).ToString(),
              L"CScanProgressMessage\n Base = CProgressMessage\n ScanType: 4\t m_nProgress = 100\t "
              L"m_strScanDescription = Fixed\n\n m_nErrorCount = 7\n");
    EXPECT_EQ(CFixProgressMessage(50, L"Fixing", FONTS, 7).ToString(), L"");
}

TEST(Messages, BackupProgressTextAtStartAndEndOnly) {
    EXPECT_EQ(CRestoreCreateBkupProgress(4, 10).ToString(), L"");
    EXPECT_EQ(CRestoreCreateBkupProgress(10, 10).ToString(),
              L"CRestoreCreateBkupProgress\n Progress = 10/10");
    // The total comes first: 10 of them, none done yet.
    EXPECT_EQ(CRestoreCreateBkupProgress(0, 10).ToString(),
              L"CRestoreCreateBkupProgress\n Progress = 10/0");
    EXPECT_EQ(CRestoreCreateBkupProgress(4, 0).ToString(), L"");
}

TEST(Messages, NewFinishFixListsTwelveEmptyCategories) {
    std::wstring expected = L"CFinishFixMessage\n";
    for (int nBit = 1; nBit <= 2048; nBit *= 2) {
        expected += L"ScanType: " + std::to_wstring(nBit) + L"\t Found = 0\t Fixed = 0\n";
    }
    EXPECT_EQ(CFinishFixMessage().ToString(), expected);

    CFinishFixMessage message;
    message.m_mapStatistics[EMPTY_KEYS].nFound += 3;
    message.m_mapStatistics[EMPTY_KEYS].nFixed += 2;
    EXPECT_NE(message.ToString().find(L"ScanType: 128\t Found = 3\t Fixed = 2\n"),
              std::wstring::npos);
}

TEST(Messages, FixedTexts) {
    EXPECT_EQ(CErrorAddedMessage(12, HELP_FILES).ToString(),
              L"CErrorAddedMessage\n ScanType: 256\t m_nErrorCount = 12\n");
    EXPECT_EQ(CFinishThreadMessage(4242).ToString(), L"CFinishThreadMessage\nm_dwId = 4242\n");
    EXPECT_EQ(CGenProgressMessage(3, 9).ToString(), L"m_nCurProgress: 3\nm_nMaxProgress: 9\n");
    EXPECT_EQ(CHistoryCleanerMessage(2, L"C:\\temp\\x.tmp", 1).ToString(),
              L"m_hcType: 2\nm_sHistoryEntity: C:\\temp\\x.tmp\nm_hcRes: 1\n");
    EXPECT_EQ(CFinishScanMessage().ToString(), L"CFinishScanMessage\n");
    EXPECT_EQ(CRestoreBkupFinishMsg().ToString(), L"CRestoreBkupFinishMsg\n");
    EXPECT_EQ(CStartScanMessage().ToString(), L"CStartScanMessage\n");
    EXPECT_EQ(CStartFixMessage().ToString(), L"CStartFixMessage\n");
    EXPECT_EQ(CStartFixAutoMessage().ToString(), L"CStartFixAutoMessage\n");
    EXPECT_EQ(CInvalidateMessage().ToString(), L"CInvalidateMessage\n");
    EXPECT_EQ(CFinishProgressMessage().ToString(), L"");
    EXPECT_EQ(CLogMessage(L"x").ToString(), L"");
}

TEST(Messages, BackupFinishShowsLocalTime) {
    const char* pszOldTz = std::getenv("TZ");
    const std::string oldTz = pszOldTz != nullptr ? pszOldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(CCreateBkupFinishMsg(L"Monday", 86400 + 3723).ToString(),
              L"CCreateBkupFinishMsg\nName : Monday\ntime 1970, 01, 02, 01:02:03\n");
    pszOldTz != nullptr ? setenv("TZ", oldTz.c_str(), 1) : unsetenv("TZ");
    tzset();
}

TEST(Messages, LogMessageCarriesItsOwnTimeStamp) {
    const std::string text = WideToUtf8(CLogMessage(L"disk full").m_strText);
    std::string shape = text;
    for (char& c : shape) {
        c = c >= '0' && c <= '9' ? '#' : c;
    }
    EXPECT_EQ(shape, "\r\n##-##-#### ##:##:##\ndisk full");
}

TEST(Messages, TypeNumbers) {
    EXPECT_EQ(CLogMessage(L"").m_nType, 0);
    EXPECT_EQ(CScanProgressMessage(0, L"", 0).m_nType, 1);
    EXPECT_EQ(CErrorAddedMessage(0, 0).m_nType, 3);
    EXPECT_EQ(CFinishScanMessage().m_nType, 4);
    EXPECT_EQ(CFixProgressMessage(0, L"", 0, 0).m_nType, 5);
    EXPECT_EQ(CFinishFixMessage().m_nType, 6);
    EXPECT_EQ(CFinishThreadMessage(0).m_nType, 7);
    EXPECT_EQ(CRestoreCreateBkupProgress(0, 0).m_nType, 8);
    EXPECT_EQ(CCreateBkupFinishMsg(L"", 0).m_nType, 9);
    EXPECT_EQ(CRestoreBkupFinishMsg().m_nType, 10);
    EXPECT_EQ(CGUIMessage::kType, 11);
    EXPECT_EQ(CStartScanMessage().m_nType, 12);
    EXPECT_EQ(CStartFixMessage().m_nType, 13);
    EXPECT_EQ(CStartFixAutoMessage().m_nType, 14);
    EXPECT_EQ(CInvalidateMessage().m_nType, 15);
    EXPECT_EQ(CGenProgressMessage(0, 0).m_nType, 17);
    EXPECT_EQ(CFinishProgressMessage().m_nType, 18);
    EXPECT_EQ(CHistoryCleanerMessage(0, L"", 0).m_nType, 19);
}

TEST(Messages, CloneCopiesClassAndFields) {
    CFixProgressMessage fix(42, L"Fixing fonts", FONTS, 9);
    std::unique_ptr<CMessage> pCopy = fix.Clone();
    auto* pFix = dynamic_cast<CFixProgressMessage*>(pCopy.get());
    ASSERT_NE(pFix, nullptr);
    EXPECT_EQ(pFix->m_nType, 5);
    EXPECT_EQ(pFix->m_nProgress, 42);
    EXPECT_EQ(pFix->m_strScanDescription, L"Fixing fonts");
    EXPECT_EQ(pFix->m_nScanType, FONTS);
    EXPECT_EQ(pFix->m_nErrorCount, 9);

    CFinishFixMessage finish;
    finish.m_mapStatistics[COM] = {5, 4};
    std::unique_ptr<CMessage> pFinish = finish.Clone();
    finish.m_mapStatistics[COM].nFixed = 0;  // the copy is independent
    EXPECT_EQ(static_cast<CFinishFixMessage*>(pFinish.get())->m_mapStatistics.at(COM).nFixed, 4);

    CLogMessage log(L"kept");
    std::unique_ptr<CMessage> pLog = log.Clone();
    EXPECT_EQ(static_cast<CLogMessage*>(pLog.get())->m_strText, log.m_strText);

    std::unique_ptr<CMessage> pPlain = CStartFixAutoMessage().Clone();
    EXPECT_NE(dynamic_cast<CStartFixAutoMessage*>(pPlain.get()), nullptr);
    EXPECT_EQ(pPlain->m_nType, 14);
}

}  // namespace
