#include "app/Session/ScanSession.h"

#include <ctime>

namespace Branwick {

namespace {

constexpr std::int32_t kObserved[] = {CFinishScanMessage::kType, CCreateBkupFinishMsg::kType,
                                      CFinishFixMessage::kType};

}  // namespace

CScanSession::CScanSession(CMessageManager& messages, CScanManager& scanManager,
                           CBackUpManager& backUpManager, CSettings& settings)
    : m_messages(messages),
      m_scanManager(scanManager),
      m_backUpManager(backUpManager),
      m_settings(settings) {
    for (const std::int32_t nType : kObserved) {
        m_messages.Subscribe(nType, this);
    }
}

CScanSession::~CScanSession() {
    for (const std::int32_t nType : kObserved) {
        m_messages.Unsubscribe(nType, this);
    }
}

void CScanSession::SetStepCallback(std::function<void()> onStepEnded) {
    std::lock_guard lock(m_mutex);
    m_onStepEnded = std::move(onStepEnded);
}

void CScanSession::Begin(EStep eStep) {
    std::lock_guard lock(m_mutex);
    m_eStep = eStep;
    m_bStepEnded = false;
}

bool CScanSession::Fail(const std::wstring& strText) {
    m_strLastError = strText;
    Begin(EStep::kNone);
    m_writerLock.Release();
    return false;
}

// Another process may have written the target since it was read; its changes are read again
// under the lock, so that ours are made on top of them instead of over them.
bool CScanSession::LockTarget() {
    std::wstring strError;
    const Platform::CTarget& target = m_scanManager.GetTarget();
    if (!m_writerLock.Acquire(target, Platform::kWriterWaitMs, strError)) {
        return Fail(strError);
    }
    if (target.Registry().ChangedOnDisk()) {
        if (const CStatus status = target.Registry().Reload(); !status.Ok()) {
            return Fail(L"The registry changed on disk and could not be read again: " +
                        status.m_strText);
        }
    }
    return true;
}

bool CScanSession::StartScan(DWORD dwCategories) {
    if (!Advance()) {
        return Fail(L"Another scan or fix is still running.");
    }
    m_strLastError.clear();
    // Set before the start: the scan may end before StartScan returns.
    Begin(EStep::kScan);
    if (m_scanManager.StartScan(dwCategories) == 0) {
        return Fail(m_scanManager.GetLastError());
    }
    return true;
}

bool CScanSession::StartFix(const SFixChoice& choice) {
    if (!Advance()) {
        return Fail(L"Another scan or fix is still running.");
    }
    m_strLastError.clear();
    m_outcome = SFixOutcome();
    if (!LockTarget()) {
        return false;
    }
    for (const auto& [nId, pRecord] : Findings()) {
        const bool bChosen =
            (choice.only.empty() || choice.only.count(nId) != 0) && choice.exclude.count(nId) == 0;
        const bool bLeftAlone = bChosen && !WhyLeftAlone(*pRecord).empty();
        pRecord->m_nState = bChosen && !bLeftAlone ? FIX_STATE_TO_FIX : FIX_STATE_LEFT;
        m_outcome.nSelected += pRecord->m_nState == FIX_STATE_TO_FIX ? 1 : 0;
        m_outcome.nLeftAlone += bLeftAlone ? 1 : 0;
    }
    const bool bBackup =
        (m_settings.GetGeneral() & CSettings::GENERAL_BACKUP_BEFORE_FIX) != 0 && !choice.bNoBackup;
    if (!bBackup || m_outcome.nSelected == 0) {
        return StartEngineFix();
    }
    m_nBackupsBefore = m_backUpManager.GetBackups().size();
    Begin(EStep::kBackup);
    if (m_backUpManager.CreateBackup() == 0) {
        return Fail(L"Nothing was fixed, because the backup could not be taken.");
    }
    return true;
}

bool CScanSession::IsBackingUp() {
    std::lock_guard lock(m_mutex);
    return m_eStep == EStep::kBackup;
}

bool CScanSession::StartEngineFix() {
    Begin(EStep::kFix);
    if (m_scanManager.StartFix() == 0) {
        return Fail(m_scanManager.GetLastError());
    }
    return true;
}

bool CScanSession::Advance() {
    EStep eStep = EStep::kNone;
    {
        std::lock_guard lock(m_mutex);
        if (m_eStep != EStep::kNone && !m_bStepEnded) {
            return false;
        }
        eStep = m_eStep;
    }
    switch (eStep) {
        case EStep::kBackup:
            return !AfterBackup();
        case EStep::kFix:
            AfterFix();
            break;
        case EStep::kScan:
        case EStep::kNone:
            break;
    }
    Begin(EStep::kNone);
    m_writerLock.Release();
    return true;
}

// True when the fix has been started.
bool CScanSession::AfterBackup() {
    const auto backups = m_backUpManager.GetBackups();
    // A backup that saved nothing adds no file; a fix without the backup asked for must not run.
    if (backups.size() == m_nBackupsBefore) {
        return Fail(L"Nothing was fixed, because the backup could not be taken.");
    }
    m_outcome.strBackup = backups.rbegin()->second;
    return StartEngineFix();
}

// The engine's fix run has flushed its own changes before it reported its end, and the quiet
// times depend on its counts, so they take a second flush. Folding the two into one would leave a
// finished fix (whose history file is already written) unsaved until the program writes its own
// key, or make the engine write the program's key; the second flush rewrites only the file that
// holds that key.
void CScanSession::AfterFix() {
    {
        std::lock_guard lock(m_mutex);
        m_outcome.counts = m_finishCounts;
    }
    std::map<std::int32_t, CLastScanCounters> counters;
    for (const auto& [nBit, count] : m_outcome.counts) {
        counters[nBit] = {count.nFound, count.nFixed, 0};
        m_outcome.nFixed += count.nFixed;
    }
    m_scanManager.SetQuietAfterFix(m_outcome.counts);
    m_settings.SaveFixResult(counters, std::time(nullptr));
    // A fix that changed nothing has nothing to undo; its backup would only be a restore point
    // that restores nothing.
    std::wstring strError;
    if (m_outcome.nFixed == 0 && !m_outcome.strBackup.empty() &&
        m_backUpManager.DeleteBackup(m_outcome.strBackup, strError)) {
        m_outcome.strBackup.clear();
    }
}

void CScanSession::Wait() {
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_ended.wait(lock, [this] { return m_eStep == EStep::kNone || m_bStepEnded; });
        }
        if (Advance()) {
            return;
        }
    }
}

bool CScanSession::Scan(DWORD dwCategories) {
    if (!StartScan(dwCategories)) {
        return false;
    }
    Wait();
    return m_strLastError.empty();
}

bool CScanSession::Fix(const SFixChoice& choice) {
    if (!StartFix(choice)) {
        return false;
    }
    Wait();
    return m_strLastError.empty();
}

std::vector<std::pair<int, CRegError*>> CScanSession::Findings() {
    std::vector<std::pair<int, CRegError*>> out;
    int nId = 0;
    for (const SScanTypeInfo& info : ScanTypes()) {
        const auto it = m_scanManager.GetErrors().find(info.nBit);
        if (it == m_scanManager.GetErrors().end()) {
            continue;
        }
        for (CRegError& record : it->second) {
            out.emplace_back(++nId, &record);
        }
    }
    return out;
}

std::wstring CScanSession::WhyLeftAlone(const CRegError& record) const {
    const Platform::CTarget& target = m_scanManager.GetTarget();
    if (record.m_hRoot == 0) {
        return target.Files().CheckFixDelete(record.GetFullPath()).m_lCode == ERROR_ACCESS_DENIED
                   ? L"it lies outside the prefix folder (--allow-drive names a drive to include)"
                   : std::wstring();
    }
    return record.CheckRestorable(target.Registry()).m_strText;
}

DWORD CScanSession::QuietCategories() const {
    return m_scanManager.GetScanCategories() & ~m_scanManager.GetAcceptedCategories() &
           kAllScanTypes;
}

void CScanSession::Processmessage(CMessage* pMessage) {
    std::function<void()> onStepEnded;
    {
        std::lock_guard lock(m_mutex);
        const std::int32_t nType = pMessage->m_nType;
        const bool bMine = (m_eStep == EStep::kScan && nType == CFinishScanMessage::kType) ||
                           (m_eStep == EStep::kBackup && nType == CCreateBkupFinishMsg::kType) ||
                           (m_eStep == EStep::kFix && nType == CFinishFixMessage::kType);
        if (!bMine || m_bStepEnded) {
            return;
        }
        if (nType == CFinishFixMessage::kType) {
            m_finishCounts = static_cast<const CFinishFixMessage*>(pMessage)->m_mapStatistics;
        }
        m_bStepEnded = true;
        onStepEnded = m_onStepEnded;
    }
    m_ended.notify_all();
    if (onStepEnded) {
        onStepEnded();
    }
}

}  // namespace Branwick
