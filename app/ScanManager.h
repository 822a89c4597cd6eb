// The program's controller of the engine: it binds libfendral.so, starts scans, fix runs and
// history cleanings on worker threads through the thread manager, and keeps the error collection
// (what the scan found and the user has not ignored, per category, in the order found). It also
// keeps the quiet period of fixed categories in the target's registry.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/EngineLibrary.h"
#include "app/IgnoreList.h"
#include "app/ThreadManager.h"
#include "core/MessageManager.h"
#include "core/ScanThreadData.h"

namespace Branwick {

// The program's own key in the target (written by whoever installs the program): "FirstRun"
// and the quiet times "value2". The program is a 32-bit one, so a 64-bit target keeps the key
// in the 32-bit view, where the Windows program would find it.
inline constexpr wchar_t kCorvaneKey[] = L"Software\\Corvane";
inline constexpr REGSAM kCorvaneKeyView = KEY_WOW64_32KEY;
inline constexpr wchar_t kQuietTimesValue[] = L"value2";

// Threads: StartScan, StartFix, StopFix, CancelScan, StartHistoryCleaning, IgnoreError and the
// quiet-period calls run on the user-interface thread (ResetQuietTimes also on a restore thread
// while the user interface waits); Processmessage runs on the message-runner thread. The
// collection has no lock: findings arrive only while a scan runs, and a fix starts only after it.
class CScanManager : public IObserver {
public:
    // Subscribes to CErrorFoundMessage, CFinishScanMessage and CFinishFixMessage and loads the
    // ignore list from strDataFolder. Everything given must outlive the manager;
    // pMessageBox (may be null: the engine's stderr default) is where the engine shows its boxes.
    // strLibrary is the engine library's file name, looked for in the program's library search
    // path and loaded here.
    CScanManager(CMessageManager& messages, CThreadManager& threads,
                 const Platform::CTarget& target, const std::wstring& strDataFolder,
                 IMessageBox* pMessageBox = nullptr, std::string strLibrary = kFendralLibrary);
    ~CScanManager() override;
    CScanManager(const CScanManager&) = delete;
    CScanManager& operator=(const CScanManager&) = delete;

    // Clears the collection, computes the accepted categories, sends CStartScanMessage and starts
    // the engine's scan of dwCategories. Returns the thread id, or 0 when the engine or its entry
    // point could not be had: then the reason has been shown to the user and is in GetLastError(),
    // nothing was sent and no thread runs.
    DWORD StartScan(DWORD dwCategories);
    // Sends CStartFixMessage and starts the engine's fix run over the records in state 1 of the
    // categories of the last scan. A backup before the fix is the caller's (CBackUpManager).
    // Returns the thread id, or 0 as StartScan.
    DWORD StartFix();
    // Stop the running fix or scan and wait for it; the collection keeps what it holds.
    void StopFix();
    void CancelScan();
    // Starts the engine's history cleaning of the history item bits; its thread ends with a
    // CFinishThreadMessage after the engine's own messages. It holds the target's one-writer lock
    // while it runs. Returns the thread id, or 0 as StartScan (also when another process holds
    // the lock past the wait).
    DWORD StartHistoryCleaning(DWORD dwHistoryFlags);

    // Moves that very record (an element of the category's list) to the ignore list. False when
    // the list could not be saved (its LastError says why); the record is ignored in memory.
    bool IgnoreError(std::int32_t nScanType, CRegError* pRecord);
    std::size_t GetErrorCount(std::int32_t nScanType) const;
    CErrorCollection& GetErrors() { return m_errors; }
    CIgnoreList& GetIgnoreList() { return m_ignoreList; }
    DWORD GetScanCategories() const { return m_dwScanCategories; }
    DWORD GetAcceptedCategories() const { return m_dwAccepted; }
    bool IsScanning() const { return m_bScanning; }
    bool IsFixing() const { return m_bFixing; }
    const std::wstring& GetLastError() const { return m_strLastError; }
    const Platform::CTarget& GetTarget() const { return m_target; }

    // After a completed fix run, with its counts per category: every category of the last scan
    // that was accepted and had something fixed or nothing found stays quiet for seven days.
    // Written to the target and flushed; a failure is logged.
    void SetQuietAfterFix(const std::map<std::int32_t, SFixCount>& counts);
    // After a restore: every category reports again at the next scan. Written to the target's
    // registry in memory only; the restore flushes once at its end.
    void ResetQuietTimes();

    void Processmessage(CMessage* pMessage) override;

private:
    using CQuietTimes = std::array<std::int64_t, 12>;

    Platform::ThreadProc Bind(const char* pszEntry);
    DWORD Start(Platform::ThreadProc routine, DWORD dwFlags);
    DWORD ComputeAcceptedCategories();
    void WriteQuietTimes(bool bFlush);

    CMessageManager& m_messages;
    CThreadManager& m_threads;
    const Platform::CTarget& m_target;
    IMessageBox* m_pMessageBox;
    CEngineLibrary m_engine;
    CErrorCollection m_errors;
    DWORD m_dwThreadId = 0xFFFFFFFF;
    DWORD m_dwScanCategories = 0;
    std::atomic<bool> m_bScanning{false};
    std::atomic<bool> m_bFixing{false};
    CIgnoreList m_ignoreList;
    DWORD m_dwAccepted = kAllScanTypes;
    CQuietTimes m_nQuietUntil{};
    std::wstring m_strLastError;
};

}  // namespace Branwick
