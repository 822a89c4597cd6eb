#include "app/ThreadManager.h"

#include <algorithm>

#include "core/Text.h"

namespace Branwick {

CThreadManager::~CThreadManager() {
    StopAllThreads();
}

void CThreadManager::Log(const std::wstring& strText) {
    if (!m_logFile.IsOpen()) {
        m_logFile.Open(L"CThreadManager.log");
    }
    m_logFile.Write(strText, true);
}

DWORD CThreadManager::StartThread(Platform::ThreadProc routine,
                                  std::unique_ptr<CThreadComm> pData) {
    Log(L"Entering into StartThread");
    std::lock_guard lock(m_cs);
    ForgetReturned();
    Log(L"Starting new thread");
    try {
        m_vThreads.push_back(SThreadEntry{nullptr, std::move(pData), 0});
    } catch (...) {
        return 0;  // pData went with the failed entry
    }
    SThreadEntry& entry = m_vThreads.back();
    try {
        // The entry is complete before anyone can look for it: a thread that ends at once posts
        // its finish message, and Processmessage waits for this lock.
        entry.pThread = std::make_unique<Platform::CThread>(routine, entry.pData.get());
    } catch (...) {
        m_vThreads.pop_back();
        return 0;
    }
    entry.dwId = entry.pThread->GetId();
    Log(L"Exiting from StartThread");
    return entry.dwId;
}

bool CThreadManager::StopThread(DWORD dwId, DWORD dwTimeout) {
    SThreadEntry entry;
    {
        std::lock_guard lock(m_cs);
        const auto found = std::find_if(m_vThreads.begin(), m_vThreads.end(),
                                        [dwId](const SThreadEntry& e) { return e.dwId == dwId; });
        if (found == m_vThreads.end()) {
            Log(L"Thread not found");
            return false;
        }
        // The entry leaves the table before the wait, and the wait runs without the lock: the
        // runner takes the lock for every finish message, so waiting for the runner (at exit)
        // under the lock would never end. A finish message of this thread now finds nothing.
        entry = std::move(*found);
        m_vThreads.erase(found);
    }
    entry.pData->Stop();
    const DWORD dwRes = entry.pThread->Wait(dwTimeout);
    switch (dwRes) {
        case WAIT_OBJECT_0:
            Log(L"dwRes == WAIT_OBJECT_0");
            break;
        case WAIT_TIMEOUT: {
            Log(L"dwRes == WAIT_TIMEOUT");
            // There is no safe way to kill a thread: it runs on, detached, and keeps its data
            // until it ends, since destroying the data under a running thread would be fatal.
            std::shared_ptr<CThreadComm> pData(std::move(entry.pData));
            entry.pThread->Detach([pData] {});
            Log(L"The thread did not stop in time: left running detached");
            break;
        }
        case WAIT_FAILED:
            // The only failing wait here is on a thread object that holds no thread any more.
            Log(L"dwRes == WAIT_FAILED");
            Log(L"GetLastError() == ERROR_INVALID_HANDLE");
            break;
        default:
            Log(FormatText(L":WaitForSingleObject dwRes: %d", static_cast<int>(dwRes)));
            break;
    }
    return true;
}

void CThreadManager::StopAllThreads() {
    for (;;) {
        DWORD dwId = 0;
        {
            std::lock_guard lock(m_cs);
            if (m_vThreads.empty()) {
                break;
            }
            dwId = m_vThreads.back().dwId;
        }
        // A finish message may drop the entry meanwhile; StopThread then finds nothing, and the
        // next round takes the next newest.
        StopThread(dwId, INFINITE);
    }
    WaitForEnded();
}

void CThreadManager::WaitForEnded() {
    for (;;) {
        std::vector<SThreadEntry> vEnded;
        {
            std::lock_guard lock(m_cs);
            if (m_vEnded.empty()) {
                return;
            }
            vEnded.swap(m_vEnded);
        }
        // Without the lock, as in StopThread: a thread on its way out may still post a message
        // whose handler takes it.
        for (SThreadEntry& entry : vEnded) {
            entry.pData->Stop();
            entry.pThread->Wait(INFINITE);
        }
    }
}

void CThreadManager::ForgetReturned() {
    std::erase_if(m_vEnded,
                  [](SThreadEntry& entry) { return entry.pThread->Wait(0) == WAIT_OBJECT_0; });
}

void CThreadManager::Processmessage(CMessage* pMessage) {
    Log(L"Entering into Processmessage");
    if (pMessage->m_nType != CFinishThreadMessage::kType) {
        return;
    }
    const DWORD dwId = static_cast<CFinishThreadMessage*>(pMessage)->m_dwId;
    std::lock_guard lock(m_cs);
    const auto found =
        std::find_if(m_vThreads.begin(), m_vThreads.end(),
                     [dwId](const SThreadEntry& entry) { return entry.dwId == dwId; });
    if (found == m_vThreads.end()) {
        Log(L"Exiting from Processmessage. This thread was not found");
        return;
    }
    // Not waited for here: the thread may still write its last log line, and this runs on the
    // thread that delivers messages. StopAllThreads waits for it before the program's end.
    m_vEnded.push_back(std::move(*found));
    m_vThreads.erase(found);
    ForgetReturned();
    Log(L"Exiting from Processmessage");
}

size_t CThreadManager::GetThreadCount() const {
    std::lock_guard lock(m_cs);
    return m_vThreads.size();
}

}  // namespace Branwick
