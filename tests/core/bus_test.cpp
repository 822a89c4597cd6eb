#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "core/MessageManager.h"

using namespace Branwick;
using namespace Branwick::Platform;

namespace {

// Records what it was given (type and text) and runs an optional action inside Processmessage.
class CRecorder : public IObserver {
public:
    void Processmessage(CMessage* pMessage) override {
        m_vTypes.push_back(pMessage->m_nType);
        if (pMessage->m_nType == CGenProgressMessage::kType) {
            m_vValues.push_back(static_cast<CGenProgressMessage*>(pMessage)->m_nCurProgress);
        }
        if (m_action) {
            m_action(pMessage);
        }
    }
    std::vector<std::int32_t> m_vTypes;
    std::vector<std::int32_t> m_vValues;
    std::function<void(CMessage*)> m_action;
};

// Drains what is queued, as the runner does while it is running.
void Drain(CMessageManager& manager) {
    CMessageRunnerData runner(&manager);
    runner.DrainQueue();
}

TEST(Bus, DuplicateSubscriptionIsCalledOnce) {
    CMessageManager manager;
    CRecorder observer;
    manager.Subscribe(CFinishScanMessage::kType, &observer);
    manager.Subscribe(CFinishScanMessage::kType, &observer);
    manager.Send(std::make_unique<CFinishScanMessage>());
    Drain(manager);
    EXPECT_EQ(observer.m_vTypes, std::vector<std::int32_t>{4});
    EXPECT_TRUE(manager.GetSink()->GetQueue()->IsEmpty());
}

TEST(Bus, ObserversGetOnlyTheirTypesInSubscriptionOrder) {
    CMessageManager manager;
    std::vector<int> order;
    CRecorder first, second;
    first.m_action = [&](CMessage*) { order.push_back(1); };
    second.m_action = [&](CMessage*) { order.push_back(2); };
    manager.Subscribe(CStartScanMessage::kType, &second);
    manager.Subscribe(CStartScanMessage::kType, &first);
    manager.Subscribe(CFinishScanMessage::kType, &first);
    manager.Send(std::make_unique<CStartScanMessage>());
    manager.Send(std::make_unique<CFinishScanMessage>());
    manager.Send(std::make_unique<CInvalidateMessage>());  // no observer: deleted undelivered
    manager.Send(nullptr);                                 // ignored
    EXPECT_EQ(manager.GetSink()->GetQueue()->Size(), 3u);
    Drain(manager);
    EXPECT_EQ(order, (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(first.m_vTypes, (std::vector<std::int32_t>{12, 4}));
    EXPECT_EQ(second.m_vTypes, (std::vector<std::int32_t>{12}));
}

TEST(Bus, UnsubscribedObserverIsNoLongerCalled) {
    CMessageManager manager;
    CRecorder observer;
    manager.Subscribe(CStartFixMessage::kType, &observer);
    manager.Unsubscribe(CStartFixMessage::kType, &observer);
    manager.Unsubscribe(CStartFixMessage::kType, &observer);  // not there: nothing happens
    manager.Unsubscribe(99, &observer);
    manager.Send(std::make_unique<CStartFixMessage>());
    Drain(manager);
    EXPECT_TRUE(observer.m_vTypes.empty());
}

TEST(Bus, ObserverMayUnsubscribeItselfWhileBeingCalled) {
    CMessageManager manager;
    CRecorder self, after;
    self.m_action = [&](CMessage*) { manager.Unsubscribe(CStartScanMessage::kType, &self); };
    manager.Subscribe(CStartScanMessage::kType, &self);
    manager.Subscribe(CStartScanMessage::kType, &after);
    manager.Send(std::make_unique<CStartScanMessage>());
    manager.Send(std::make_unique<CStartScanMessage>());
    Drain(manager);
    EXPECT_EQ(self.m_vTypes.size(), 1u);
    EXPECT_EQ(after.m_vTypes.size(), 2u);  // the one behind it is not skipped
}

TEST(Bus, ObserverRemovedOrAddedDuringDispatch) {
    CMessageManager manager;
    CRecorder remover, removed, added;
    remover.m_action = [&](CMessage*) {
        manager.Unsubscribe(CStartScanMessage::kType, &removed);
        manager.Subscribe(CStartScanMessage::kType, &added);
    };
    manager.Subscribe(CStartScanMessage::kType, &remover);
    manager.Subscribe(CStartScanMessage::kType, &removed);
    manager.Send(std::make_unique<CStartScanMessage>());
    manager.Send(std::make_unique<CStartScanMessage>());
    Drain(manager);
    EXPECT_TRUE(removed.m_vTypes.empty());  // removed before its turn
    EXPECT_EQ(added.m_vTypes.size(), 1u);   // only from the next message on
    EXPECT_EQ(remover.m_vTypes.size(), 2u);
}

TEST(Bus, TheSinkKnowsWhichTypesHaveAnObserver) {
    CMessageManager manager;
    const CMessageSink& sink = *manager.GetSink();
    CRecorder first, second;
    EXPECT_FALSE(sink.IsListened(CLogMessage::kType));
    manager.Subscribe(CLogMessage::kType, &first);
    manager.Subscribe(CLogMessage::kType, &second);
    EXPECT_TRUE(sink.IsListened(CLogMessage::kType));
    EXPECT_FALSE(sink.IsListened(CFixProgressMessage::kType));
    manager.Unsubscribe(CLogMessage::kType, &first);
    EXPECT_TRUE(sink.IsListened(CLogMessage::kType));  // one is left
    // The last one leaves from inside a dispatch, where its slot is only emptied.
    second.m_action = [&](CMessage*) { manager.Unsubscribe(CLogMessage::kType, &second); };
    manager.Send(std::make_unique<CLogMessage>(L"last"));
    Drain(manager);
    EXPECT_FALSE(sink.IsListened(CLogMessage::kType));
    // Types outside the set, and a sink no manager keeps, count as read.
    EXPECT_TRUE(sink.IsListened(64));
    CMessageQueue queue;
    EXPECT_TRUE(CMessageSink(&queue).IsListened(CLogMessage::kType));
}

TEST(Bus, AfterStopOnlyLogMessagesAreDelivered) {
    CMessageManager manager;
    CRecorder logger, progress;
    manager.Subscribe(CLogMessage::kType, &logger);
    manager.Subscribe(CScanProgressMessage::kType, &progress);
    manager.Send(std::make_unique<CScanProgressMessage>(0, L"Starting...", COM));
    manager.Send(std::make_unique<CLogMessage>(L"still written"));
    manager.Send(std::make_unique<CScanProgressMessage>(100, L"", COM));

    CMessageRunnerData runner(&manager);
    runner.Stop();
    CThread thread(&CMessageRunnerData::MessageRunnerProc, &runner);
    ASSERT_EQ(thread.Wait(10000), WAIT_OBJECT_0);
    EXPECT_TRUE(progress.m_vTypes.empty());
    EXPECT_EQ(logger.m_vTypes, std::vector<std::int32_t>{0});
    EXPECT_TRUE(manager.GetSink()->GetQueue()->IsEmpty());
    EXPECT_FALSE(runner.IsRunning(0));
}

// Several producers post through the sink while the runner delivers: nothing is lost, and each
// producer's messages arrive in the order it posted them.
struct SProducer {
    CMessageSink* pSink;
    int nId;
};

constexpr int kPerProducer = 2000;

DWORD Produce(void* pArg) {
    auto* pProducer = static_cast<SProducer*>(pArg);
    for (int i = 0; i < kPerProducer; ++i) {
        pProducer->pSink->Post(
            std::make_unique<CGenProgressMessage>(pProducer->nId * kPerProducer + i, 0));
    }
    return 0;
}

TEST(Bus, ProducersOnSeveralThreadsKeepTheirOrder) {
    CMessageManager manager;
    CRecorder observer;
    CEvent allDelivered(true, false);
    observer.m_action = [&](CMessage*) {
        if (observer.m_vValues.size() == 4 * kPerProducer) {
            allDelivered.Set();
        }
    };
    manager.Subscribe(CGenProgressMessage::kType, &observer);
    CMessageRunnerData runner(&manager);
    CThread runnerThread(&CMessageRunnerData::MessageRunnerProc, &runner);

    std::vector<SProducer> producers;
    for (int i = 0; i < 4; ++i) {
        producers.push_back({manager.GetSink(), i});
    }
    std::vector<std::unique_ptr<CThread>> threads;
    for (SProducer& producer : producers) {
        threads.push_back(std::make_unique<CThread>(Produce, &producer));
    }
    for (auto& pThread : threads) {
        ASSERT_EQ(pThread->Wait(30000), WAIT_OBJECT_0);
    }
    // A stop would drop what is still queued, so stop only once everything has arrived.
    EXPECT_EQ(allDelivered.Wait(30000), WAIT_OBJECT_0);
    runner.Stop();
    ASSERT_EQ(runnerThread.Wait(10000), WAIT_OBJECT_0);

    ASSERT_EQ(observer.m_vValues.size(), 4u * kPerProducer);
    std::vector<int> next(4, 0);
    for (std::int32_t nValue : observer.m_vValues) {
        const int nProducer = nValue / kPerProducer;
        ASSERT_EQ(nValue % kPerProducer, next[nProducer])
            << "producer " << nProducer << " out of order";
        ++next[nProducer];
    }
}

TEST(Bus, QueueDeletesWhatIsLeftInIt) {
    // Run under LeakSanitizer: a message left in the queue, taken from it but not popped, or
    // delivered and handed back must not leak.
    CMessageManager manager;
    CMessageQueue* pQueue = manager.GetSink()->GetQueue();
    manager.Send(std::make_unique<CLogMessage>(L"delivered"));
    Drain(manager);
    manager.Send(std::make_unique<CLogMessage>(L"never drained"));
    manager.Send(std::make_unique<CFinishFixMessage>());
    EXPECT_EQ(pQueue->Size(), 2u);
    std::unique_ptr<CMessage> pFirst = pQueue->PopFront();
    ASSERT_NE(pFirst, nullptr);
    EXPECT_EQ(pFirst->m_nType, 0);
    manager.Send(std::make_unique<CInvalidateMessage>());
    EXPECT_EQ(pQueue->Size(), 2u);
    EXPECT_EQ(pQueue->PopFront()->m_nType, CFinishFixMessage::kType);
}

TEST(Bus, OnlyThePostThatFindsTheQueueEmptyWakesTheRunner) {
    CMessageManager manager;
    CMessageSink* pSink = manager.GetSink();
    pSink->Post(std::make_unique<CStartScanMessage>());
    EXPECT_EQ(pSink->GetEvent().Wait(0), WAIT_OBJECT_0);
    pSink->Post(std::make_unique<CFinishScanMessage>());
    EXPECT_EQ(pSink->GetEvent().Wait(0), WAIT_TIMEOUT) << "the first post's wake covers it";
    EXPECT_EQ(pSink->GetQueue()->TakeAll().size(), 2u);
    pSink->Post(std::make_unique<CFinishScanMessage>());
    EXPECT_EQ(pSink->GetEvent().Wait(0), WAIT_OBJECT_0) << "a post after the take wakes again";
}

TEST(Bus, DeliveredMessagesOfOneTypeComeBackToBeFilledAnew) {
    CMessageManager manager;
    CRecorder observer;
    manager.Subscribe(CGenProgressMessage::kType, &observer);
    std::vector<const CMessage*> vPosted;
    for (int i = 0; i < 3; ++i) {
        auto pMessage = std::make_unique<CGenProgressMessage>(i, 0);
        vPosted.push_back(pMessage.get());
        manager.Send(std::move(pMessage));
        manager.Send(std::make_unique<CLogMessage>(L"between"));
    }
    CMessageQueue* pQueue = manager.GetSink()->GetQueue();
    std::vector<std::unique_ptr<CMessage>> vReused;
    pQueue->Reclaim(CGenProgressMessage::kType, &vReused);
    EXPECT_TRUE(vReused.empty()) << "nothing comes back before it has been delivered";

    Drain(manager);
    EXPECT_EQ(observer.m_vValues, (std::vector<std::int32_t>{0, 1, 2}));
    pQueue->Reclaim(CGenProgressMessage::kType, &vReused);
    std::vector<const CMessage*> vBack;
    for (const auto& pMessage : vReused) {
        vBack.push_back(pMessage.get());
    }
    std::sort(vPosted.begin(), vPosted.end());
    std::sort(vBack.begin(), vBack.end());
    EXPECT_EQ(vBack, vPosted) << "the very messages delivered, the log lines left out";

    // Posted again, a refilled message is delivered with its new content.
    static_cast<CGenProgressMessage*>(vReused.back().get())->m_nCurProgress = 7;
    manager.Send(std::move(vReused.back()));
    vReused.pop_back();
    Drain(manager);
    EXPECT_EQ(observer.m_vValues.back(), 7);
    std::vector<std::unique_ptr<CMessage>> vAgain;
    pQueue->Reclaim(CGenProgressMessage::kType, &vAgain);
    EXPECT_EQ(vAgain.size(), 1u) << "what was reclaimed once is not handed out twice";
}

TEST(Bus, ATypeNoLongerReclaimedLeavesRoomForTheOthers) {
    // A finished scan leaves its progress messages parked; the fix that follows still gets its own
    // back, and a Reclaim of its type leaves the scan's where they are.
    CMessageManager manager;
    CMessageQueue* pQueue = manager.GetSink()->GetQueue();
    std::vector<std::unique_ptr<CMessage>> vScan, vFix;
    pQueue->Reclaim(CScanProgressMessage::kType, &vScan);
    pQueue->Reclaim(CFixProgressMessage::kType, &vFix);
    constexpr int kMany = 10000;  // more than are kept of one type
    for (int i = 0; i < kMany; ++i) {
        manager.Send(std::make_unique<CScanProgressMessage>(0, L"", 1));
    }
    Drain(manager);
    for (int i = 0; i < 3; ++i) {
        manager.Send(std::make_unique<CFixProgressMessage>(i, L"", 1, i));
    }
    Drain(manager);
    pQueue->Reclaim(CFixProgressMessage::kType, &vFix);
    EXPECT_EQ(vFix.size(), 3u);
    pQueue->Reclaim(CScanProgressMessage::kType, &vScan);
    EXPECT_GT(vScan.size(), 0u);
    EXPECT_LT(vScan.size(), static_cast<std::size_t>(kMany)) << "what is kept is bounded";
}

TEST(Bus, DeliveredMessagesOfSeveralTypesEachComeBackToTheirOwnReclaim) {
    // A fix posts progress and log lines in turn and refills both.
    CMessageManager manager;
    CMessageQueue* pQueue = manager.GetSink()->GetQueue();
    std::vector<std::unique_ptr<CMessage>> vProgress, vLogs;
    pQueue->Reclaim(CGenProgressMessage::kType, &vProgress);
    pQueue->Reclaim(CLogMessage::kType, &vLogs);
    for (int i = 0; i < 3; ++i) {
        manager.Send(std::make_unique<CGenProgressMessage>(i, 0));
        manager.Send(std::make_unique<CLogMessage>(L"line"));
    }
    manager.Send(std::make_unique<CFinishScanMessage>());
    Drain(manager);

    pQueue->Reclaim(CGenProgressMessage::kType, &vProgress);
    pQueue->Reclaim(CLogMessage::kType, &vLogs);
    ASSERT_EQ(vProgress.size(), 3u);
    ASSERT_EQ(vLogs.size(), 3u) << "the progress messages' Reclaim kept the log lines";
    for (const auto& pMessage : vLogs) {
        EXPECT_EQ(pMessage->m_nType, CLogMessage::kType);
    }
    std::vector<std::unique_ptr<CMessage>> vFinish;
    pQueue->Reclaim(CFinishScanMessage::kType, &vFinish);
    EXPECT_TRUE(vFinish.empty()) << "a type nobody had reclaimed is not kept";

    // A log line filled anew reads as a new one.
    auto* pLog = static_cast<CLogMessage*>(vLogs.back().get());
    pLog->SetText(L"second");
    EXPECT_TRUE(pLog->m_strText.starts_with(L"\r\n")) << "it starts with its new time stamp";
    EXPECT_TRUE(pLog->m_strText.ends_with(L"\nsecond"));
    EXPECT_EQ(pLog->m_strText.find(L"line"), std::wstring::npos);
}

}  // namespace
