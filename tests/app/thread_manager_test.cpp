#include "app/ThreadManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "tests/support/log_folder.h"

using namespace Branwick;
using namespace Branwick::Platform;

namespace {

// A worker's data: what it is told and what it reports, and a flag that its destruction sets.
class CWorkerData : public CThreadComm {
public:
    CWorkerData(CMessageSink* pSink, CEvent* pDestroyed)
        : m_pSink(pSink), m_pDestroyed(pDestroyed) {}
    ~CWorkerData() override {
        if (m_pDestroyed != nullptr) {
            m_pDestroyed->Set();
        }
    }

    // Told also to an event of the test's, which outlives this object.
    void Stop() override {
        CThreadComm::Stop();
        if (m_pOnStop != nullptr) {
            m_pOnStop->Set();
        }
    }

    CMessageSink* m_pSink;
    CEvent* m_pDestroyed;
    CEvent m_release{true, false};  // lets a stubborn worker end
    CEvent m_ended{true, false};    // the worker's last act, for workers that post nothing
    CEvent* m_pOnStop = nullptr;
    std::atomic<DWORD> m_dwSeenId{0};
};

// Works until stopped, then reports its end as every worker does.
DWORD PoliteWorker(void* pArg) {
    auto* pData = static_cast<CWorkerData*>(pArg);
    pData->m_dwSeenId = GetCurrentThreadId();
    while (pData->IsRunning(5)) {
    }
    pData->m_pSink->Post(std::make_unique<CLogMessage>(L"worker stopped"));
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(GetCurrentThreadId()));
    return 0;
}

// Ends at once, posting its finish message.
DWORD QuickWorker(void* pArg) {
    auto* pData = static_cast<CWorkerData*>(pArg);
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(GetCurrentThreadId()));
    return 0;
}

// Reports its end and then, like an engine entry point writing its last log line, is still busy
// until told to stop; records whether it has returned. Touches nothing of its data after the
// report, as the engine's entry points do not.
CEvent g_lingererStop{true, false};
std::atomic<bool> g_bLingererReturned{false};
DWORD LingeringWorker(void* pArg) {
    auto* pData = static_cast<CWorkerData*>(pArg);
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(GetCurrentThreadId()));
    g_lingererStop.Wait(INFINITE);
    g_bLingererReturned = true;
    return 0;
}

// Ends without a finish message, as the history cleaning does.
DWORD SilentWorker(void* pArg) {
    static_cast<CWorkerData*>(pArg)->m_ended.Set();
    return 0;
}

// Ignores the stop request until released.
DWORD StubbornWorker(void* pArg) {
    static_cast<CWorkerData*>(pArg)->m_release.Wait(INFINITE);
    return 0;
}

// Sets an event once it has seen a message of its type; subscribed behind the thread manager, it
// tells the test that the manager is done with that message.
class CSignal : public IObserver {
public:
    void Processmessage(CMessage* pMessage) override {
        if (pMessage->m_nType == CLogMessage::kType) {
            m_nLogs.fetch_add(1);
        }
        m_seen.Set();
    }
    CEvent m_seen{false, false};
    std::atomic<int> m_nLogs{0};
};

class ThreadManager : public CorvaneTest::CLogFolderTest {
protected:
    void SetUp() override {
        CLogFolderTest::SetUp();
        m_pManager = std::make_unique<CThreadManager>();
        m_messages.Subscribe(CFinishThreadMessage::kType, m_pManager.get());
        m_messages.Subscribe(CFinishThreadMessage::kType, &m_finished);
        m_messages.Subscribe(CLogMessage::kType, &m_logs);
        m_dwRunnerId = m_pManager->StartThread(&CMessageRunnerData::MessageRunnerProc,
                                               std::make_unique<CMessageRunnerData>(&m_messages));
        ASSERT_NE(m_dwRunnerId, 0u);
    }
    void TearDown() override {
        m_pManager.reset();  // stops what is left, the runner last
        CLogFolderTest::TearDown();
    }

    std::unique_ptr<CWorkerData> NewData(CEvent* pDestroyed = nullptr) {
        return std::make_unique<CWorkerData>(m_messages.GetSink(), pDestroyed);
    }
    std::vector<std::string> Log() const { return ReadLogLines("CThreadManager.log"); }
    size_t CountInLog(const std::string& line) const {
        const auto lines = Log();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }

    CMessageManager m_messages;
    CSignal m_finished, m_logs;
    std::unique_ptr<CThreadManager> m_pManager;
    DWORD m_dwRunnerId = 0;
};

TEST_F(ThreadManager, StartAndStopByTheThreadsOwnId) {
    auto pData = NewData();
    CWorkerData* pWorker = pData.get();
    const DWORD dwId = m_pManager->StartThread(PoliteWorker, std::move(pData));
    ASSERT_NE(dwId, 0u);
    EXPECT_EQ(m_pManager->GetThreadCount(), 2u);
    while (pWorker->m_dwSeenId == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(pWorker->m_dwSeenId, dwId);
    EXPECT_TRUE(m_pManager->StopThread(dwId, INFINITE));
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
    const std::vector<std::string> expected = {
        "Entering into StartThread", "Starting new thread", "Exiting from StartThread",  // runner
        "Entering into StartThread", "Starting new thread", "Exiting from StartThread",  // worker
        "dwRes == WAIT_OBJECT_0"};
    // In this order; the runner's lines for the finish message may fall in between.
    std::vector<std::string> lines = Log();
    std::erase(lines, "Entering into Processmessage");
    std::erase(lines, "Exiting from Processmessage. This thread was not found");
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin()))
        << ::testing::PrintToString(lines);
}

TEST_F(ThreadManager, FinishMessageDropsTheEntryAndStopThenFindsNothing) {
    CEvent destroyed(true, false);
    const DWORD dwId = m_pManager->StartThread(QuickWorker, NewData(&destroyed));
    ASSERT_NE(dwId, 0u);
    ASSERT_EQ(m_finished.m_seen.Wait(10000), WAIT_OBJECT_0);
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
    EXPECT_EQ(CountInLog("Entering into Processmessage"), 1u);
    EXPECT_EQ(CountInLog("Exiting from Processmessage"), 1u);

    EXPECT_FALSE(m_pManager->StopThread(dwId, INFINITE));
    EXPECT_EQ(Log().back(), "Thread not found");
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
    // Its data goes with the thread, at the latest when the manager stops everything.
    m_pManager->StopAllThreads();
    EXPECT_EQ(destroyed.Wait(0), WAIT_OBJECT_0);
}

TEST_F(ThreadManager, StopAllWaitsForThreadsThatReportedTheirEndButStillRun) {
    g_bLingererReturned = false;
    g_lingererStop.Reset();
    CEvent destroyed(true, false);
    auto pData = NewData(&destroyed);
    pData->m_pOnStop = &g_lingererStop;
    ASSERT_NE(m_pManager->StartThread(LingeringWorker, std::move(pData)), 0u);
    ASSERT_EQ(m_finished.m_seen.Wait(10000), WAIT_OBJECT_0);
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
    // Still running: its data must not go under it.
    EXPECT_EQ(destroyed.Wait(0), WAIT_TIMEOUT);

    m_pManager->StopAllThreads();
    const bool bReturned = g_bLingererReturned;
    if (!bReturned) {
        g_lingererStop.Set();  // lets it end, so that the failure below is the only harm
    }
    EXPECT_TRUE(bReturned);
    EXPECT_EQ(destroyed.Wait(0), WAIT_OBJECT_0);
}

TEST_F(ThreadManager, FinishMessageThatArrivesWhileStopThreadWaits) {
    const DWORD dwId = m_pManager->StartThread(PoliteWorker, NewData());
    ASSERT_NE(dwId, 0u);
    // The worker posts its finish message in answer to the stop, while StopThread holds the lock.
    EXPECT_TRUE(m_pManager->StopThread(dwId, INFINITE));
    ASSERT_EQ(m_finished.m_seen.Wait(10000), WAIT_OBJECT_0);
    EXPECT_EQ(CountInLog("dwRes == WAIT_OBJECT_0"), 1u);
    EXPECT_EQ(CountInLog("Exiting from Processmessage. This thread was not found"), 1u);
    EXPECT_EQ(CountInLog("Exiting from Processmessage"), 0u);
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
}

TEST_F(ThreadManager, WorkerWithoutFinishMessageKeepsItsEntryUntilStopped) {
    auto pData = NewData();
    CWorkerData* pWorker = pData.get();
    const DWORD dwId = m_pManager->StartThread(SilentWorker, std::move(pData));
    ASSERT_EQ(pWorker->m_ended.Wait(10000), WAIT_OBJECT_0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m_pManager->GetThreadCount(), 2u);
    EXPECT_TRUE(m_pManager->StopThread(dwId, INFINITE));
    EXPECT_EQ(Log().back(), "dwRes == WAIT_OBJECT_0");
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
}

TEST_F(ThreadManager, ThreadThatOutlivesTheTimeOutIsDetachedNotKilled) {
    CEvent destroyed(true, false);
    auto pData = NewData(&destroyed);
    CWorkerData* pWorker = pData.get();
    const DWORD dwId = m_pManager->StartThread(StubbornWorker, std::move(pData));
    EXPECT_TRUE(m_pManager->StopThread(dwId, 20));
    EXPECT_EQ(CountInLog("dwRes == WAIT_TIMEOUT"), 1u);
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
    // Its data stays alive while it runs, and goes when it ends.
    EXPECT_EQ(destroyed.Wait(20), WAIT_TIMEOUT);
    pWorker->m_release.Set();
    EXPECT_EQ(destroyed.Wait(10000), WAIT_OBJECT_0);
    EXPECT_FALSE(m_pManager->StopThread(dwId, INFINITE));
}

TEST_F(ThreadManager, UnknownFinishMessageChangesNothing) {
    CFinishThreadMessage message(1);
    m_pManager->Processmessage(&message);
    EXPECT_EQ(Log().back(), "Exiting from Processmessage. This thread was not found");
    EXPECT_EQ(m_pManager->GetThreadCount(), 1u);
}

TEST_F(ThreadManager, StopAllStopsWorkersBeforeTheRunner) {
    m_pManager->StartThread(PoliteWorker, NewData());
    m_pManager->StartThread(SilentWorker, NewData());
    m_pManager->StartThread(PoliteWorker, NewData());
    EXPECT_EQ(m_pManager->GetThreadCount(), 4u);
    m_pManager->StopAllThreads();
    EXPECT_EQ(m_pManager->GetThreadCount(), 0u);
    // The runner went last, so the log messages the workers posted on their way out got through.
    EXPECT_EQ(m_logs.m_nLogs.load(), 2);
    EXPECT_FALSE(m_pManager->StopThread(m_dwRunnerId, INFINITE));
}

}  // namespace
