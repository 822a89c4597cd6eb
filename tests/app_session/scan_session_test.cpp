// The scan-and-fix session over the loaded engine on the demo prefix, driven as the command-line
// program drives it (blocking) and as the desktop program does (a step callback, then Advance on
// the driving thread): numbering, the choice of findings, the backup, what reaches the disk.
#include <condition_variable>
#include <mutex>

#include "app/Session/ScanSession.h"
#include "tests/app/engine_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

class ScanSessionTest : public EngineTest {
protected:
    ScanSessionTest() {
        CSettingsSite site;
        site.m_pTarget = m_pTarget.get();
        site.m_strDataFolder = m_strData;
        site.m_pSink = m_messages.GetSink();
        m_pSettings = std::make_unique<CSettings>(site);
        m_pSession = std::make_unique<CScanSession>(m_messages, *m_pScan, BackUps(), *m_pSettings);
    }
    ~ScanSessionTest() override { m_pSession.reset(); }

    // The target as a new program run would find it on disk.
    std::unique_ptr<Platform::CTarget> Reopened() {
        std::wstring strError;
        auto pTarget = Platform::CTarget::OpenWinePrefix((m_folder / "prefix").string(), strError);
        EXPECT_NE(pTarget, nullptr) << WideToUtf8(strError);
        return pTarget;
    }

    static bool KeyExists(const Platform::CTarget& target, const CRegError& record) {
        Platform::CRegKey key;
        return target.Registry().OpenKey(record.m_hRoot, record.m_sPath,
                                         KEY_READ | record.m_dwRegSam, &key) == ERROR_SUCCESS;
    }

    // The first two registry findings of the first category, copied.
    std::vector<CRegError> FirstTwoKeys() {
        std::vector<CRegError> out;
        for (const auto& [nId, pRecord] : m_pSession->Findings()) {
            if (pRecord->m_hRoot != 0 && out.size() < 2 &&
                (out.empty() || out[0].m_nScanType == pRecord->m_nScanType)) {
                out.push_back(*pRecord);
                m_ids.push_back(nId);
            }
        }
        return out;
    }

    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CScanSession> m_pSession;
    std::vector<int> m_ids;
};

TEST_F(ScanSessionTest, FindingsAreNumberedFromOneInCategoryOrder) {
    ASSERT_TRUE(m_pSession->Scan(0xFFF)) << WideToUtf8(m_pSession->LastError());
    const auto findings = m_pSession->Findings();
    ASSERT_GT(findings.size(), 10u);
    for (std::size_t n = 0; n < findings.size(); ++n) {
        EXPECT_EQ(findings[n].first, static_cast<int>(n + 1));
        if (n > 0) {
            EXPECT_LE(findings[n - 1].second->m_nScanType, findings[n].second->m_nScanType);
        }
    }
    EXPECT_EQ(m_pSession->QuietCategories(), 0u);
}

TEST_F(ScanSessionTest, AFixTouchesOnlyTheChosenFindingsAndKeepsItsResultsOnDisk) {
    // The program's key, as its installer leaves it: nothing quiet.
    std::array<std::int64_t, 12> past;
    past.fill(-60);
    SetQuietTimes(past);
    m_pSettings->SetGeneralFlag(CSettings::GENERAL_BACKUP_BEFORE_FIX, true);
    ASSERT_TRUE(m_pSession->Scan(0xFFF)) << WideToUtf8(m_pSession->LastError());
    const std::vector<CRegError> keys = FirstTwoKeys();
    ASSERT_EQ(keys.size(), 2u);
    const std::int32_t nCategory = keys[0].m_nScanType;

    SFixChoice choice;
    choice.only = {m_ids[0], m_ids[1]};
    choice.exclude = {m_ids[1]};
    ASSERT_TRUE(m_pSession->Fix(choice)) << WideToUtf8(m_pSession->LastError());
    const SFixOutcome& outcome = m_pSession->FixOutcome();
    EXPECT_EQ(outcome.nSelected, 1);
    EXPECT_EQ(outcome.nFixed, 1);
    EXPECT_EQ(outcome.counts.at(nCategory).nFixed, 1);
    ASSERT_FALSE(outcome.strBackup.empty());
    EXPECT_EQ(BackUps().GetBackups().rbegin()->second, outcome.strBackup);

    const auto pDisk = Reopened();
    EXPECT_FALSE(KeyExists(*pDisk, keys[0]));
    EXPECT_TRUE(KeyExists(*pDisk, keys[1]));
    // The fixed category is quiet for the next scan; the counters were saved.
    CScanManager next(m_messages, m_threads, *pDisk, m_strData, &m_box);
    CScanSession nextSession(m_messages, next, BackUps(), *m_pSettings);
    ASSERT_TRUE(nextSession.Scan(0xFFF));
    EXPECT_EQ(nextSession.QuietCategories(), static_cast<DWORD>(nCategory));
    CSettingsSite site;
    site.m_pTarget = pDisk.get();
    site.m_strDataFolder = m_strData;
    CSettings saved(site);
    EXPECT_EQ(saved.GetLastScan(nCategory).fixed, 1);
    EXPECT_NE(saved.GetLastScanTime(), 0);
}

TEST_F(ScanSessionTest, NothingIsFixedWhenTheBackupCannotBeTaken) {
    m_pSettings->SetGeneralFlag(CSettings::GENERAL_BACKUP_BEFORE_FIX, true);
    // A file where the backup folder belongs: the backup saves nothing.
    ASSERT_TRUE(m_pTarget->Files().WriteFile(m_strData + L"Backups", "x").Ok());
    ASSERT_TRUE(m_pSession->Scan(0xFFF));
    const std::vector<CRegError> keys = FirstTwoKeys();
    ASSERT_FALSE(keys.empty());
    EXPECT_FALSE(m_pSession->Fix(SFixChoice()));
    EXPECT_NE(m_pSession->LastError().find(L"backup"), std::wstring::npos);
    EXPECT_EQ(m_pSession->FixOutcome().nFixed, 0);
    EXPECT_TRUE(KeyExists(*Reopened(), keys[0]));
    // Without the backup, as asked, the fix runs.
    SFixChoice noBackup;
    noBackup.bNoBackup = true;
    noBackup.only = {m_ids[0]};
    ASSERT_TRUE(m_pSession->Fix(noBackup)) << WideToUtf8(m_pSession->LastError());
    EXPECT_TRUE(m_pSession->FixOutcome().strBackup.empty());
    EXPECT_FALSE(KeyExists(*Reopened(), keys[0]));
}

// The desktop program's way: the callback only wakes the driving thread, which advances.
TEST_F(ScanSessionTest, ADriverThatNeverBlocksInsideTheSessionSeesEachStepEnd) {
    std::mutex mutex;
    std::condition_variable woken;
    int nWakes = 0;
    m_pSession->SetStepCallback([&] {
        std::lock_guard lock(mutex);
        ++nWakes;
        woken.notify_all();
    });
    // Advances until the operation is over; returns how many steps ended.
    auto drive = [&] {
        int nSeen = 0;
        for (;;) {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(woken.wait_for(lock, std::chrono::minutes(1), [&] { return nWakes > nSeen; }));
            nSeen = nWakes;
            lock.unlock();
            if (m_pSession->Advance()) {
                return nSeen;
            }
        }
    };
    m_pSettings->SetGeneralFlag(CSettings::GENERAL_BACKUP_BEFORE_FIX, true);
    ASSERT_TRUE(m_pSession->StartScan(COM | UNINSTALL));
    EXPECT_EQ(drive(), 1);
    ASSERT_FALSE(m_pSession->Findings().empty());
    {
        std::lock_guard lock(mutex);
        nWakes = 0;
    }
    ASSERT_TRUE(m_pSession->StartFix(SFixChoice()));
    EXPECT_EQ(drive(), 2);  // the backup, then the fix
    EXPECT_FALSE(m_pSession->FixOutcome().strBackup.empty());
    EXPECT_EQ(m_pSession->FixOutcome().nFixed, m_pSession->FixOutcome().nSelected);
    EXPECT_TRUE(m_pSession->Advance());
}

}  // namespace
