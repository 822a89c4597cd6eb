// Messages per second through the bus: producers post into one sink, the message runner takes each
// message out, hands it to one observer and deletes it. Timed from the first post to the delivery
// of the last message.
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/MessageManager.h"

using namespace Branwick;

namespace {

class CCounter : public IObserver {
public:
    explicit CCounter(long nExpected) : m_nExpected(nExpected) {}
    void Processmessage(CMessage*) override {
        if (++m_nSeen == m_nExpected) {
            m_done.Set();
        }
    }
    long m_nExpected;
    long m_nSeen = 0;
    Platform::CEvent m_done{true, false};
};

struct SProducer {
    CMessageSink* pSink;
    long nMessages;
};

DWORD Produce(void* pArg) {
    const auto* pProducer = static_cast<SProducer*>(pArg);
    for (long i = 0; i < pProducer->nMessages; ++i) {
        pProducer->pSink->Post(
            std::make_unique<CGenProgressMessage>(static_cast<std::int32_t>(i), 0));
    }
    return 0;
}

double MessagesPerSecond(int nProducers, long nTotal) {
    CMessageManager manager;
    CCounter counter(nTotal);
    manager.Subscribe(CGenProgressMessage::kType, &counter);
    CMessageRunnerData runner(&manager);
    Platform::CThread runnerThread(&CMessageRunnerData::MessageRunnerProc, &runner);

    std::vector<SProducer> producers(nProducers, SProducer{manager.GetSink(), nTotal / nProducers});
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<Platform::CThread>> threads;
    for (SProducer& producer : producers) {
        threads.push_back(std::make_unique<Platform::CThread>(Produce, &producer));
    }
    counter.m_done.Wait(INFINITE);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    for (auto& pThread : threads) {
        pThread->Wait(INFINITE);
    }
    runner.Stop();
    runnerThread.Wait(INFINITE);
    manager.Unsubscribe(CGenProgressMessage::kType, &counter);
    return static_cast<double>(nTotal) / elapsed.count();
}

}  // namespace

int main() {
    constexpr long kTotal = 2000000;
    MessagesPerSecond(1, kTotal / 10);  // warm the allocator and the caches
    std::printf("bus_1_producer: %.0f msg/s\n", MessagesPerSecond(1, kTotal));
    std::printf("bus_4_producers: %.0f msg/s\n", MessagesPerSecond(4, kTotal));
    return 0;
}
