// Backups over the loaded engine on the demo prefix: a backup of a fix brings back what the fix
// deleted, byte for byte; the list, names and the failures that must change nothing.
#include <set>

#include "tests/app/engine_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

constexpr wchar_t kGone[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GoneApp";
constexpr wchar_t kDescription[] = L"Uninstall entry refers to a missing file (test).";

class BackUpTest : public EngineTest {
protected:
    // The counter hears of a finished backup or restore only after the backup manager has.
    BackUpTest() {
        for (const std::int32_t nType : {CCreateBkupFinishMsg::kType, CRestoreBkupFinishMsg::kType}) {
            m_messages.Unsubscribe(nType, &m_counter);
        }
        BackUps();
        for (const std::int32_t nType : {CCreateBkupFinishMsg::kType, CRestoreBkupFinishMsg::kType}) {
            m_messages.Subscribe(nType, &m_counter);
        }
    }

    // The key as the prefix's registry file on disk holds it.
    std::string OnDisk(const std::wstring& strPath) {
        Platform::CRegistry reread;
        EXPECT_TRUE(Platform::CRegistry::OpenWinePrefix((m_folder / "prefix").string(), {}, &reread).Ok());
        return reread.ExportText(HKEY_LOCAL_MACHINE, strPath);
    }

    CRegError GoneApp() {
        return CRegError(UNINSTALL, HKEY_LOCAL_MACHINE, kGone, kDescription,
                         KEY_WOW64_64KEY, true);
    }

    // A scan of the uninstall entries that keeps only the test's record (the engine's own
    // scanner reports the demo's other planted entries too).
    void ScanGoneApp() {
        Scan(UNINSTALL, {GoneApp()});
        m_pScan->GetErrors()[UNINSTALL].remove_if(
            [](const CRegError& record) { return record.m_sDescription != kDescription; });
    }

    std::wstring CreateBackup() {
        m_counter.Clear();
        EXPECT_NE(BackUps().CreateBackup(), 0u);
        EXPECT_TRUE(m_counter.WaitFor(CCreateBkupFinishMsg::kType));
        const auto backups = BackUps().GetBackups();
        return backups.empty() ? std::wstring() : backups.rbegin()->second;
    }

    void Fix() {
        m_counter.Clear();
        ASSERT_NE(m_pScan->StartFix(), 0u);
        ASSERT_TRUE(m_counter.WaitFor(CFinishFixMessage::kType));
        EXPECT_FALSE(m_pScan->IsFixing());
    }

    bool Restore(const std::wstring& strName) {
        m_counter.Clear();
        EXPECT_NE(BackUps().RestoreBackup(strName), 0u);
        EXPECT_TRUE(m_counter.WaitFor(CRestoreBkupFinishMsg::kType));
        return BackUps().LastRestoreSucceeded();
    }

    // What the boxes said: why a restore that should have worked did not.
    std::string Shown() const {
        std::string strShown;
        for (const auto& shown : m_box.GetShown()) {
            strShown += WideToUtf8(shown.strText) + "\n";
        }
        return strShown;
    }
};

TEST_F(BackUpTest, ABackupOfAFixRestoredBringsBackEveryKeyAndValueByteForByte) {
    const std::string strBefore = OnDisk(kGone);
    ASSERT_NE(strBefore.find("DisplayName"), std::string::npos) << strBefore;
    ScanGoneApp();
    ASSERT_EQ(m_pScan->GetErrorCount(UNINSTALL), 1u);
    const std::wstring strName = CreateBackup();
    ASSERT_FALSE(strName.empty());
    ASSERT_EQ(BackUps().GetBackups().size(), 1u);

    Fix();
    EXPECT_EQ(m_pScan->GetErrorCount(UNINSTALL), 0u);
    EXPECT_EQ(OnDisk(kGone), "");

    ASSERT_TRUE(Restore(strName)) << Shown();
    EXPECT_EQ(OnDisk(kGone), strBefore);
    EXPECT_FALSE(m_pTarget->Registry().IsDirty()) << "the restore is flushed at its end";
}

// The engine's own value findings: their fixes are objects of the engine, whose code once read the
// registry from the engine's context, and that is gone when its scan thread has ended.
TEST_F(BackUpTest, ABackupAfterTheScanThreadHasEndedHoldsTheValuesTheEnginesFixesDelete) {
    constexpr wchar_t kEditor[] = L"Software\\Wow6432Node\\DemoVendor\\Demo Editor";
    const std::string strBefore = OnDisk(kEditor);
    Scan(FILE_PATH, {});
    ASSERT_TRUE(m_counter.WaitFor(CFinishThreadMessage::kType));
    ASSERT_GE(m_pScan->GetErrorCount(FILE_PATH), 1u);
    const std::wstring strName = CreateBackup();
    Fix();
    ASSERT_NE(OnDisk(kEditor), strBefore);
    ASSERT_TRUE(Restore(strName)) << Shown();
    EXPECT_EQ(OnDisk(kEditor), strBefore);
}

TEST_F(BackUpTest, ACreationThatSavesNothingAddsNoEntry) {
    ScanGoneApp();
    m_pScan->GetErrors()[UNINSTALL].front().m_nState = 0;
    EXPECT_EQ(CreateBackup(), L"");
    EXPECT_TRUE(BackUps().GetBackups().empty());
    BackUps().Reload();
    EXPECT_TRUE(BackUps().GetBackups().empty());
}

// The list used to be keyed by the second, so the second backup of a second hid the first, and a
// fix waiting for a new entry took the backup as failed.
TEST_F(BackUpTest, TwoBackupsInOneSecondAreBothListedUnderTheirOwnNames) {
    ScanGoneApp();
    const std::wstring strPattern = BackUps().GetFolder() + L"*.bak";
    std::vector<Platform::CFindData> files;
    bool bSameSecond = false;
    // Each takes far less than a second; retried when a second boundary fell between them.
    for (int nTry = 0; nTry < 5 && !bSameSecond; ++nTry) {
        m_pTarget->Files().FindFiles(strPattern, files);
        for (const Platform::CFindData& file : files) {
            m_pTarget->Files().DeleteFile(BackUps().GetFolder() + file.m_strName);
        }
        BackUps().Reload();
        const std::time_t t0 = std::time(nullptr);
        CreateBackup();
        CreateBackup();
        bSameSecond = std::time(nullptr) == t0;
    }
    ASSERT_TRUE(bSameSecond);
    const auto listed = BackUps().GetBackups();
    BackUps().Reload();
    EXPECT_EQ(BackUps().GetBackups(), listed) << "the list read from the folder is the one kept";
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed.rbegin()->second, listed.begin()->second + L"_2");
    ASSERT_TRUE(m_pTarget->Files().FindFiles(strPattern, files).Ok());
    EXPECT_EQ(files.size(), 2u) << "the second backup must not replace the first";
}

TEST_F(BackUpTest, NamesWithAndWithoutTheExtensionAddressTheSameFile) {
    ScanGoneApp();
    const std::wstring strName = CreateBackup();
    ASSERT_FALSE(strName.empty());
    std::wstring strError;
    EXPECT_FALSE(BackUps().DeleteBackup(L"..\\settings", strError));
    EXPECT_FALSE(strError.empty());
    EXPECT_TRUE(BackUps().DeleteBackup(strName + L".bak", strError)) << WideToUtf8(strError);
    EXPECT_FALSE(BackUps().DeleteBackup(strName, strError));
}

TEST_F(BackUpTest, ABackupThatCannotBeLoadedChangesNothing) {
    ASSERT_TRUE(m_pTarget->Files().CreateDirectory(BackUps().GetFolder()).Ok());
    ASSERT_TRUE(m_pTarget->Files()
                    .WriteFile(BackUps().GetFolder() + L"broken.bak", "<Backup><Registry_Key")
                    .Ok());
    // Quiet times that a restore would reset.
    SetQuietTimes({86400, 86400, 86400, 86400, 86400, 86400, 86400, 86400, 86400, 86400, 86400,
                   86400});
    ASSERT_TRUE(m_pTarget->Registry().Flush().Ok());
    const std::string strBefore = OnDisk(L"Software");
    EXPECT_FALSE(Restore(L"broken"));
    EXPECT_EQ(OnDisk(L"Software"), strBefore);
    EXPECT_FALSE(m_pTarget->Registry().IsDirty());
    EXPECT_TRUE(m_pTarget->Files().Exists(BackUps().GetFolder() + L"broken.bak"));
    // Said once, by the caller, with the reason.
    const std::vector<std::wstring> failures = BackUps().LastRestoreFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find(L"is damaged"), std::wstring::npos) << WideToUtf8(failures[0]);
    EXPECT_TRUE(m_box.GetShown().empty()) << Shown();
}

}  // namespace
