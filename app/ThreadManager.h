// The one owner of the program's threads: it starts every worker (and the message runner) with
// its thread data, remembers it by thread id, stops it on request or at exit, and sets it aside
// when the worker reports its own end with a CFinishThreadMessage, until the thread has returned.
// Logs to "CThreadManager.log".
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "core/Log.h"
#include "core/MessageManager.h"
#include "platform/threads/threads.h"

namespace Branwick {

// Thread-safe: StartThread and StopThread are called from the user-interface thread and the
// shutdown path, Processmessage from the runner thread. One lock guards the table; nobody holds
// it while waiting for a thread, since the runner itself takes it for every finish message.
class CThreadManager : public IObserver {
public:
    CThreadManager() = default;
    // Stops every thread that is left (StopAllThreads).
    ~CThreadManager() override;
    CThreadManager(const CThreadManager&) = delete;
    CThreadManager& operator=(const CThreadManager&) = delete;

    // Runs routine(pData) on a new thread and keeps its entry. The manager owns pData from here
    // on, also when this fails. Returns the new thread's id, or 0 when no thread was started.
    DWORD StartThread(Platform::ThreadProc routine, std::unique_ptr<CThreadComm> pData);

    // Drops the thread's entry, asks the thread to stop (its data's Stop()) and waits up to
    // dwTimeout ms (INFINITE: no limit) for it to end; then destroys its data. A thread that is
    // still running after the time-out cannot be killed safely: it is left running, detached, and
    // its data is destroyed when it ends. True if the id had an entry, false if not.
    bool StopThread(DWORD dwId, DWORD dwTimeout);

    // Stops every thread, the newest first, each without a time-out. The message runner, started
    // first, is thus stopped last, after every worker has posted its final messages. Then asks
    // the threads that reported their end to stop too, and waits until each has returned: a
    // worker still writing its last log line must not outlive the program's logs.
    void StopAllThreads();

    // A CFinishThreadMessage: the thread has ended its work; its entry is set aside, and it and
    // its data go once the thread has returned (looked at without waiting, here and at every
    // start). Subscribe the manager to that type only.
    void Processmessage(CMessage* pMessage) override;

    // The number of threads the manager keeps that have not reported their end.
    size_t GetThreadCount() const;

private:
    struct SThreadEntry {
        std::unique_ptr<Platform::CThread> pThread;
        std::unique_ptr<CThreadComm> pData;
        DWORD dwId = 0;
    };

    void Log(const std::wstring& strText);  // opens the log first if it is not open yet
    void ForgetReturned();                  // holding m_cs
    void WaitForEnded();

    std::vector<SThreadEntry> m_vThreads;
    std::vector<SThreadEntry> m_vEnded;  // reported their end; may still be on their way out
    mutable std::mutex m_cs;
    CLogFile m_logFile;
};

}  // namespace Branwick
