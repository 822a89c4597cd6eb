#include "app/cli/Core.h"

#include <chrono>
#include <cstdio>

#include "core/Text.h"
#include "platform/desktop/desktop.h"

namespace Branwick::Cli {

namespace {

constexpr std::int32_t kWatched[] = {
    CScanProgressMessage::kType, CFixProgressMessage::kType, CFinishScanMessage::kType,
    CFinishFixMessage::kType, CFinishThreadMessage::kType, CRestoreCreateBkupProgress::kType,
    CCreateBkupFinishMsg::kType, CRestoreBkupFinishMsg::kType, CGenProgressMessage::kType,
    CFinishProgressMessage::kType, CHistoryCleanerMessage::kType};

}  // namespace

// ---- CWaiter ----

// A walk posts two progress messages per registry key: drawn each, a scan of a large registry
// writes megabytes to the terminal. The line is redrawn at most every kRedrawInterval.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void CWaiter::ShowProgress(const CMessage& message) {
    const std::int32_t nType = message.m_nType;
    if (nType == CFinishScanMessage::kType || nType == CFinishFixMessage::kType ||
        nType == CFinishProgressMessage::kType) {
        if (m_bProgressShown) {
            std::fprintf(stderr, "\r\033[K");
            m_bProgressShown = false;
        }
        return;
    }
    const auto* pProgress = dynamic_cast<const CProgressMessage*>(&message);
    const auto* pGen = dynamic_cast<const CGenProgressMessage*>(&message);
    const auto now = std::chrono::steady_clock::now();
    if ((pProgress == nullptr && pGen == nullptr) ||
        (m_bProgressShown && now - m_lastDraw < kRedrawInterval)) {
        return;
    }
    if (pProgress != nullptr) {
        std::fprintf(stderr, "\r\033[K%s %s: %d%%",
                     nType == CScanProgressMessage::kType ? "Scanning" : "Fixing",
                     WideToUtf8(ScanTypeDisplayName(pProgress->m_nScanType)).c_str(),
                     pProgress->m_nProgress);
    } else {
        std::fprintf(stderr, "\r\033[KCleaning: step %d of %d", pGen->m_nCurProgress,
                     pGen->m_nMaxProgress);
    }
    m_bProgressShown = true;
    m_lastDraw = now;
}

void CWaiter::Processmessage(CMessage* pMessage) {
    std::lock_guard lock(m_mutex);
    if (m_bProgress) {
        ShowProgress(*pMessage);
    }
    if (pMessage->m_nType == CHistoryCleanerMessage::kType) {
        const auto* p = static_cast<const CHistoryCleanerMessage*>(pMessage);
        switch (p->m_hcRes) {
            case 0:
                m_history.push_back(L"Erased: " + p->m_sHistoryEntity);
                break;
            case 1:
                m_history.push_back(L"Erased: " + p->m_sHistoryEntity + L" (deleted at the next start of Windows)");
                break;
            default:
                m_history.push_back(L"Not erased: " + p->m_sHistoryEntity +
                                    (p->m_strReason.empty() ? L"" : L" (" + p->m_strReason + L")"));
                ++m_nHistoryNotErased;
                break;
        }
    }
    m_seen.insert(pMessage->m_nType);
    m_changed.notify_all();
}

void CWaiter::Reset() {
    std::lock_guard lock(m_mutex);
    m_seen.clear();
    m_history.clear();
    m_nHistoryNotErased = 0;
}

void CWaiter::WaitFor(std::int32_t nType) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_seen.count(nType) != 0; });
}

std::vector<std::wstring> CWaiter::GetHistoryLines() {
    std::lock_guard lock(m_mutex);
    return m_history;
}

int CWaiter::GetHistoryNotErased() {
    std::lock_guard lock(m_mutex);
    return m_nHistoryNotErased;
}

// ---- CCore ----

CCore::CCore(std::unique_ptr<Platform::CTarget> pTarget, bool bTask, bool bProgress)
    : m_pTarget(std::move(pTarget)), m_waiter(bProgress) {
    m_messages.Subscribe(CFinishThreadMessage::kType, &m_threads);
    m_threads.StartThread(&CMessageRunnerData::MessageRunnerProc,
                          std::make_unique<CMessageRunnerData>(&m_messages));
    m_strDataFolder = GetDataFolder(*m_pTarget);
    CSettingsSite site;
    site.m_pTarget = m_pTarget.get();
    site.m_strDataFolder = m_strDataFolder;
    site.m_pSink = m_messages.GetSink();
    site.m_strProgramPath = Platform::GetProgramPath();
    if (bTask) {
        m_pTask = std::make_unique<CTask>();
        site.m_pTask = m_pTask.get();
    } else {
        // Without the task the store complains that it has none; that is expected here, and
        // the commands say themselves what failed.
        site.m_pMessageBox = &m_quietSettingsBox;
    }
    m_pSettings = std::make_unique<CSettings>(site);
    m_pScanManager =
        std::make_unique<CScanManager>(m_messages, m_threads, *m_pTarget, m_strDataFolder);
    m_pBackUpManager = std::make_unique<CBackUpManager>(m_messages, m_threads, *m_pScanManager,
                                                        *m_pTarget, m_strDataFolder);
    m_pSession = std::make_unique<CScanSession>(m_messages, *m_pScanManager, *m_pBackUpManager,
                                                *m_pSettings);
    // After the managers: when the waiter sees a finish message, they have handled it.
    for (const std::int32_t nType : kWatched) {
        m_messages.Subscribe(nType, &m_waiter);
    }
}

CCore::~CCore() {
    m_pSession.reset();
    m_pBackUpManager.reset();
    m_pScanManager.reset();
    for (const std::int32_t nType : kWatched) {
        m_messages.Unsubscribe(nType, &m_waiter);
    }
    m_threads.StopAllThreads();
    m_messages.Unsubscribe(CFinishThreadMessage::kType, &m_threads);
}

bool CCore::RestoreBackup(const std::wstring& strName) {
    m_waiter.Reset();
    if (m_pBackUpManager->RestoreBackup(strName) == 0) {
        return false;
    }
    m_waiter.WaitFor(CRestoreBkupFinishMsg::kType);
    return m_pBackUpManager->LastRestoreSucceeded();
}

bool CCore::CleanHistory(DWORD dwItems) {
    m_waiter.Reset();
    if (m_pScanManager->StartHistoryCleaning(dwItems) == 0) {
        return false;
    }
    m_waiter.WaitFor(CFinishThreadMessage::kType);
    return true;
}

}  // namespace Branwick::Cli
