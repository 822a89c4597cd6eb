#include "core/Messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/Text.h"

using namespace Branwick;

namespace {

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
    // Keys compare whole and case-sensitively, display names ignoring case.
    EXPECT_EQ(ScanTypeFromKey(L"junk_files"), 0);
    EXPECT_EQ(ScanTypeFromKey(L"COM "), 0);
    EXPECT_EQ(ScanTypeFromKey(L""), 0);
    EXPECT_EQ(ScanTypeFromDisplayName(L"COM/ACTIVEX ENTRIES"), COM);
    EXPECT_EQ(ScanTypeFromDisplayName(L"Junk File"), 0);
    EXPECT_EQ(ScanTypeFromDisplayName(L""), 0);
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

}  // namespace
