// The program's side of the bus: observers, the message manager that holds them with the queue and
// its sink, and the message runner that hands each queued message to the observers of its type.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/MessageSink.h"

namespace Branwick {

// Receives the messages of the types it subscribed to, on the runner thread, under the manager's
// mutex. It must neither delete the message nor keep the pointer: to keep the content it takes a
// Clone(). It catches its own exceptions. It may subscribe or unsubscribe (itself or others) from
// inside Processmessage.
class IObserver {
public:
    virtual ~IObserver() = default;
    virtual void Processmessage(CMessage* pMessage) = 0;
};

// The observer table, the queue and its sink; one per program. Every method is thread-safe.
// Observers must unsubscribe from all their types before they are destroyed.
class CMessageManager {
public:
    CMessageManager();
    ~CMessageManager();
    CMessageManager(const CMessageManager&) = delete;
    CMessageManager& operator=(const CMessageManager&) = delete;

    // Adds the observer for messages of type nType, after those already there; a second
    // subscription of the same observer to the same type changes nothing.
    void Subscribe(std::int32_t nType, IObserver* pObserver);
    // Removes the observer from type nType; nothing happens when it is not subscribed.
    void Unsubscribe(std::int32_t nType, IObserver* pObserver);

    // The sink into the manager's queue; it lives as long as the manager.
    CMessageSink* GetSink() { return &m_sink; }
    // Posts the message (ownership passes to the queue); a null message is ignored.
    void Send(std::unique_ptr<CMessage> pMessage) { m_sink.Post(std::move(pMessage)); }

    // Calls every observer of the message's type, in subscription order, holding the manager's
    // mutex. An observer that is unsubscribed during the dispatch is not called after that; one
    // subscribed during it is first called for the next message. The runner calls this.
    void Dispatch(CMessage* pMessage);

private:
    void CompactAfterDispatch();

    Platform::CRecursiveMutex m_mutex;
    std::map<std::int32_t, std::vector<IObserver*>> m_observers;
    int m_nDispatchDepth = 0;           // > 0 while observers run
    bool m_bRemovedInDispatch = false;  // slots were emptied and wait to be erased
    CMessageQueue m_queue;
    CMessageSink m_sink;
};

// The data of the message-runner thread, started by the thread manager before any other thread
// and stopped after all of them.
class CMessageRunnerData : public CThreadComm {
public:
    // pManager must outlive the runner thread.
    explicit CMessageRunnerData(CMessageManager* pManager);

    // The thread procedure; pData is the CMessageRunnerData. Waits for posts or the stop request
    // and drains the queue after each; the pass that follows the stop request is the last, and
    // in it only log messages are still delivered. Returns 0.
    static DWORD MessageRunnerProc(void* pData);

    // Empties the queue once: every message taken out is dispatched while the runner has not been
    // stopped (log messages always), then deleted.
    void DrainQueue();

private:
    CMessageSink* m_pSink;
    CMessageManager* m_pManager;
};

}  // namespace Branwick
