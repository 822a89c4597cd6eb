// The application core as corvane-cli runs it: the message manager and its runner, the thread
// manager, the target, the settings, the scan manager, the backup manager and the scan-and-fix
// session, made in the order the desktop program makes them, and a waiter that shows progress and
// lets a command wait for the end of a restore or a history cleaning.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/BackUp/BackUp.h"
#include "app/ScanManager.h"
#include "app/Session/ScanSession.h"
#include "app/Settings/Settings.h"
#include "app/ThreadManager.h"
#include "core/MessageBox.h"
#include "core/MessageManager.h"

namespace Branwick::Cli {

// Remembers which message types have arrived since the last Reset and shows the progress of
// scans, fixes and backups on stderr when bProgress is set. Called on the runner thread.
class CWaiter : public IObserver {
public:
    explicit CWaiter(bool bProgress) : m_bProgress(bProgress) {}
    void Processmessage(CMessage* pMessage) override;
    void Reset();
    // Waits until a message of the type has arrived.
    void WaitFor(std::int32_t nType);
    // The history cleaner's entities, one line each, saying whether each was erased.
    std::vector<std::wstring> GetHistoryLines();
    // How many of them could not be erased.
    int GetHistoryNotErased();

private:
    void ShowProgress(const CMessage& message);

    bool m_bProgress;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::int32_t> m_seen;
    std::vector<std::wstring> m_history;
    int m_nHistoryNotErased = 0;
    bool m_bProgressShown = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

class CCore {
public:
    // Takes the target; bTask makes the program's scheduled task available to the settings
    // (only the schedule commands need it: opening it writes the task's job).
    CCore(std::unique_ptr<Platform::CTarget> pTarget, bool bTask, bool bProgress);
    ~CCore();
    CCore(const CCore&) = delete;
    CCore& operator=(const CCore&) = delete;

    const Platform::CTarget& Target() const { return *m_pTarget; }
    CSettings& Settings() { return *m_pSettings; }
    CScanManager& ScanManager() { return *m_pScanManager; }
    CBackUpManager& BackUpManager() { return *m_pBackUpManager; }
    CWaiter& Waiter() { return m_waiter; }
    CScanSession& Session() { return *m_pSession; }
    const std::wstring& DataFolder() const { return m_strDataFolder; }

    // Runs a restore or a history cleaning to its end.
    bool RestoreBackup(const std::wstring& strName);
    bool CleanHistory(DWORD dwItems);

private:
    CMessageManager m_messages;
    CThreadManager m_threads;
    std::unique_ptr<Platform::CTarget> m_pTarget;
    std::wstring m_strDataFolder;
    std::unique_ptr<CTask> m_pTask;
    CRecordingMessageBox m_quietSettingsBox;
    std::unique_ptr<CSettings> m_pSettings;
    CWaiter m_waiter;
    std::unique_ptr<CScanManager> m_pScanManager;
    std::unique_ptr<CBackUpManager> m_pBackUpManager;
    std::unique_ptr<CScanSession> m_pSession;
};

}  // namespace Branwick::Cli
