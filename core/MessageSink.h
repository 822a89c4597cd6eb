// What a producer needs to reach the program's message runner: the queue, the sink that posts
// into it, and the thread-data base every worker gets. libfendral.so and the programs share these
// objects across the module boundary (the engine posts straight into the program's queue), so both
// must be built from this one header.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "core/Messages.h"
#include "platform/threads/threads.h"

namespace Branwick {

// First in, first out, owning the messages it holds. Every operation takes the queue's own lock
// for that operation only, so any thread may push while the runner pops. Messages still queued
// when the queue is destroyed are deleted with it.
class CMessageQueue {
public:
    CMessageQueue() = default;
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    void Push(std::unique_ptr<CMessage> pMessage);
    // The front message, removed from the queue; null when the queue is empty.
    std::unique_ptr<CMessage> PopFront();
    bool IsEmpty() const;
    size_t Size() const;

private:
    mutable std::mutex m_cs;
    std::deque<std::unique_ptr<CMessage>> m_queue;
};

// The one way into the queue: Post pushes the message and then sets the sink's auto-reset event,
// on which the runner waits. Callable from any thread of either module. Not copyable.
class CMessageSink {
public:
    // pQueue must outlive the sink. The event starts non-signalled.
    explicit CMessageSink(CMessageQueue* pQueue) : m_pQueue(pQueue), m_event(false, false) {}
    CMessageSink(const CMessageSink&) = delete;
    CMessageSink& operator=(const CMessageSink&) = delete;

    // Takes ownership of pMessage; a null message is ignored. One set of the event may cover
    // several posts: the runner drains the queue until it is empty.
    void Post(std::unique_ptr<CMessage> pMessage);

    CMessageQueue* GetQueue() const { return m_pQueue; }
    Platform::CEvent& GetEvent() { return m_event; }

private:
    CMessageQueue* m_pQueue;
    Platform::CEvent m_event;
};

// The base of every worker's thread data. The thread manager owns the object from StartThread on
// and destroys it when the thread's entry is dropped. The stop event is manual-reset, so a stop
// request stays in force until the thread ends. IsRunning and Stop may be called from any thread.
class CThreadComm {
public:
    virtual ~CThreadComm() = default;
    CThreadComm(const CThreadComm&) = delete;
    CThreadComm& operator=(const CThreadComm&) = delete;

    // Waits up to dwTimeout ms (INFINITE: no limit) on the stop event: false once a stop has been
    // requested, true otherwise. Workers poll it with 0 between items.
    virtual bool IsRunning(DWORD dwTimeout) { return m_stopEvent.Wait(dwTimeout) != WAIT_OBJECT_0; }
    // Requests the stop.
    virtual void Stop() { m_stopEvent.Set(); }

protected:
    CThreadComm() : m_stopEvent(true, false) {}

    Platform::CEvent m_stopEvent;
};

}  // namespace Branwick
