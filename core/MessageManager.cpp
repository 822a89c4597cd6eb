#include "core/MessageManager.h"

#include <algorithm>

namespace Branwick {

namespace {

// How long, after a drain, posts gather before the runner takes them (a delay no one sees).
constexpr DWORD kGatherMs = 1;

}  // namespace

CMessageManager::CMessageManager() : m_sink(&m_queue) {
    for (std::int32_t nType = 0; nType < 64; ++nType) {
        m_sink.SetListened(nType, false);
    }
}

CMessageManager::~CMessageManager() = default;

void CMessageManager::Subscribe(std::int32_t nType, IObserver* pObserver) {
    std::lock_guard lock(m_mutex);
    std::vector<IObserver*>& observers = m_observers[nType];
    if (std::find(observers.begin(), observers.end(), pObserver) == observers.end()) {
        observers.push_back(pObserver);
    }
    m_sink.SetListened(nType, true);
}

void CMessageManager::Unsubscribe(std::int32_t nType, IObserver* pObserver) {
    std::lock_guard lock(m_mutex);
    const auto found = m_observers.find(nType);
    if (found == m_observers.end()) {
        return;
    }
    std::vector<IObserver*>& observers = found->second;
    const auto it = std::find(observers.begin(), observers.end(), pObserver);
    if (it == observers.end()) {
        return;
    }
    if (m_nDispatchDepth > 0) {
        // A dispatch walks this vector by index: empty the slot rather than shift the others.
        *it = nullptr;
        m_bRemovedInDispatch = true;
    } else {
        observers.erase(it);
    }
    m_sink.SetListened(nType, std::any_of(observers.begin(), observers.end(),
                                          [](const IObserver* p) { return p != nullptr; }));
}

void CMessageManager::Dispatch(CMessage* pMessage) {
    std::lock_guard lock(m_mutex);
    const auto found = m_observers.find(pMessage->m_nType);
    if (found == m_observers.end()) {
        return;
    }
    // Map nodes stay put and are never erased, so the vector outlives the walk; indices survive
    // a reallocation by a subscription from inside an observer.
    const std::vector<IObserver*>& observers = found->second;
    const size_t nCount = observers.size();
    ++m_nDispatchDepth;
    for (size_t i = 0; i < nCount; ++i) {
        if (IObserver* pObserver = observers[i]; pObserver != nullptr) {
            pObserver->Processmessage(pMessage);
        }
    }
    --m_nDispatchDepth;
    CompactAfterDispatch();
}

void CMessageManager::CompactAfterDispatch() {
    if (m_nDispatchDepth > 0 || !m_bRemovedInDispatch) {
        return;
    }
    for (auto& [nType, observers] : m_observers) {
        observers.erase(std::remove(observers.begin(), observers.end(), nullptr), observers.end());
    }
    m_bRemovedInDispatch = false;
}

CMessageRunnerData::CMessageRunnerData(CMessageManager* pManager)
    : m_pSink(pManager->GetSink()), m_pManager(pManager) {}

DWORD CMessageRunnerData::MessageRunnerProc(void* pData) {
    auto* pRunner = static_cast<CMessageRunnerData*>(pData);
    bool bLastPass = false;
    while (!bLastPass) {
        const DWORD dwResult =
            Platform::WaitForAny({&pRunner->m_pSink->GetEvent(), &pRunner->m_stopEvent}, INFINITE);
        bLastPass = dwResult == WAIT_OBJECT_0 + 1;
        pRunner->DrainQueue();
        if (!bLastPass) {
            // Waking a sleeping runner costs the poster a system call, more than posting many
            // messages; a producer that posts one per registry key would pay it for each. So the
            // runner lets the next posts gather for a moment before it waits for them.
            pRunner->m_stopEvent.Wait(kGatherMs);
        }
    }
    return 0;
}

void CMessageRunnerData::DrainQueue() {
    CMessageQueue* pQueue = m_pSink->GetQueue();
    for (auto batch = pQueue->TakeAll(); !batch.empty(); batch = pQueue->TakeAll()) {
        for (const std::unique_ptr<CMessage>& pMessage : batch) {
            if (IsRunning(0) || pMessage->m_nType == CLogMessage::kType) {
                m_pManager->Dispatch(pMessage.get());
            }
        }
        pQueue->GiveBack(std::move(batch));
    }
}

}  // namespace Branwick
