// What a producer needs to reach the program's message runner: the queue, the sink that posts
// into it, and the thread-data base every worker gets. libfendral.so and the programs share these
// objects across the module boundary (the engine posts straight into the program's queue), so both
// must be built from this one header.
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/Messages.h"
#include "platform/threads/threads.h"

namespace Branwick {

// First in, first out, owning the messages it holds; any thread may push while the runner takes.
// A push takes no lock (a walk pushes two messages per registry key): it links the message in
// front of the chain of those pushed since the last take, which the taker turns round. The
// runner hands the messages it has delivered back, and a producer that posts many messages of
// one type fills those anew instead of allocating (see m_spent). Messages still queued or handed
// back when the queue is destroyed are deleted with it.
class CMessageQueue {
public:
    CMessageQueue() = default;
    ~CMessageQueue();
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    // True when nothing had been pushed since the last take: only then need the runner, which
    // takes everything each time, be woken.
    bool Push(std::unique_ptr<CMessage> pMessage);
    // The front message, removed from the queue; null when the queue is empty.
    std::unique_ptr<CMessage> PopFront();
    // Every message queued, in order, leaving the queue empty.
    std::vector<std::unique_ptr<CMessage>> TakeAll();
    // Hands back messages that have been delivered: those of a type that has been reclaimed
    // before are kept for Reclaim, up to kKeptForReuse of each type (a few megabytes at most,
    // held until the next Reclaim of their type); the others are destroyed.
    void GiveBack(std::vector<std::unique_ptr<CMessage>> delivered);
    // Moves every delivered message of type nType that was kept to the end of *pReused, to be
    // filled anew and pushed again; from now on messages of that type are kept. The messages of
    // other types that were kept stay for their own Reclaim.
    void Reclaim(std::int32_t nType, std::vector<std::unique_ptr<CMessage>>* pReused);
    bool IsEmpty() const;
    size_t Size() const;

private:
    static constexpr size_t kKeptForReuse = 8192;

    // The messages pushed since the last take, oldest first; no lock needed.
    std::vector<std::unique_ptr<CMessage>> TakePushed();

    std::atomic<CMessage*> m_pPushed{nullptr};  // the newest message pushed; it links the older
    std::atomic<std::uint64_t> m_nReclaimedTypes{0};  // bit n: messages of type n are kept
    mutable std::mutex m_cs;                          // guards what follows
    std::deque<std::unique_ptr<CMessage>> m_taken;  // taken from the chain by PopFront, not yet popped
    // Delivered messages wait here, by type, to be filled anew by a producer that posts many of
    // one type (a walk posts two progress messages per registry key). Freed by the runner and
    // allocated again by the producer, every message would have both threads take the
    // allocator's lock of the producer's arena, and that costs more than the walk itself. Kept by
    // type so that a Reclaim costs nothing for the other types' messages: a fix reclaims for
    // every record, while thousands of a finished scan's progress messages may still wait.
    std::array<std::vector<std::unique_ptr<CMessage>>, 64> m_spent;
};

// The one way into the queue: Post pushes the message and, when nothing had been pushed since the
// runner's last take, sets the sink's auto-reset event on which the runner waits. Callable from
// any thread of either module. Not copyable.
class CMessageSink {
public:
    // pQueue must outlive the sink. The event starts non-signalled.
    explicit CMessageSink(CMessageQueue* pQueue) : m_pQueue(pQueue), m_event(false, false) {}
    CMessageSink(const CMessageSink&) = delete;
    CMessageSink& operator=(const CMessageSink&) = delete;

    // Takes ownership of pMessage; a null message is ignored. The event is set only by the post
    // that finds the queue empty: the runner drains the queue until it is empty, so the posts
    // that follow before it does are covered by that set.
    void Post(std::unique_ptr<CMessage> pMessage);

    CMessageQueue* GetQueue() const { return m_pQueue; }
    Platform::CEvent& GetEvent() { return m_event; }

    // Whether an observer holds messages of type nType now. A producer of many messages that may
    // have no reader at all (a fix's log lines, which nobody reads in a program that keeps no log)
    // asks before it composes them. Until someone keeps the set (the message manager does), and for
    // types it cannot hold, every type counts as read.
    bool IsListened(std::int32_t nType) const;
    void SetListened(std::int32_t nType, bool bListened);

private:
    CMessageQueue* m_pQueue;
    Platform::CEvent m_event;
    std::atomic<std::uint64_t> m_nListened{~std::uint64_t{0}};  // bit n: type n has an observer
};

// Hands one producer delivered messages of the types it posts by the hundred thousand (a walk's
// progress steps, a fix's progress and log lines) to fill anew, so that neither it nor the runner
// takes the allocator's lock for them. Used by the producer's thread only.
class CRecycler {
public:
    // pQueue may be null: then there is never anything to refill.
    explicit CRecycler(CMessageQueue* pQueue) : m_pQueue(pQueue) {}

    // A delivered message of type T to fill anew, or null when there is none.
    template <class T>
    std::unique_ptr<T> Take() {
        if (m_pQueue == nullptr) {
            return nullptr;
        }
        std::vector<std::unique_ptr<CMessage>>& vSpent = m_mapSpent[T::kType];
        if (vSpent.empty()) {
            m_pQueue->Reclaim(T::kType, &vSpent);
        }
        if (vSpent.empty()) {
            return nullptr;
        }
        // Every message of a type is of that type's one class.
        std::unique_ptr<T> pMessage(static_cast<T*>(vSpent.back().release()));
        vSpent.pop_back();
        return pMessage;
    }

private:
    CMessageQueue* m_pQueue;
    std::map<std::int32_t, std::vector<std::unique_ptr<CMessage>>> m_mapSpent;
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
