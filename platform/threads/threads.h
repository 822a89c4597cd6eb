// Threads and events as the program's thread manager and message runner need them: Win32 event
// semantics (manual or auto reset, waits with a time-out, waiting for any of several events), a
// re-entrant mutex, 32-bit thread ids, and threads that can be waited for with a time-out.
//
// Every object keeps its whole state (locks included) inside itself, so an event made by the
// program can be set by code of libfendral.so, which carries its own copy of this library.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

// A re-entrant mutex: the thread that owns it may lock it again.
using CRecursiveMutex = std::recursive_mutex;

// The id of the calling thread: a 32-bit number, never 0, unique among the live threads of the
// system; an id may be given again to a new thread once its old owner has ended (as on Windows).
DWORD GetCurrentThreadId();

// An event that is either signalled or not. Thread-safe: any thread may set, reset or wait.
// Not copyable. No thread may be waiting on an event while it is destroyed.
class CEvent {
public:
    // A manual-reset event stays signalled until Reset(); an auto-reset event is reset by the one
    // wait that it releases.
    CEvent(bool bManualReset, bool bInitialState);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    // Signals the event; a no-op when it is signalled already.
    void Set();
    void Reset();

    // Waits at most dwMilliseconds (INFINITE: no limit; 0: only looks). Returns WAIT_OBJECT_0 when
    // the event was signalled (an auto-reset event is then reset), WAIT_TIMEOUT otherwise.
    DWORD Wait(DWORD dwMilliseconds);

private:
    friend DWORD WaitForAny(std::initializer_list<CEvent*> events, DWORD dwMilliseconds);
    struct SWaiter;

    bool TryTake();  // caller holds m_mutex

    std::mutex m_mutex;
    const bool m_bManualReset;
    // Written only under m_mutex; atomic so that a poll of an unset event (a worker asks whether
    // it is to stop between every two items) needs no lock.
    std::atomic<bool> m_bSignalled;
    std::vector<SWaiter*> m_vWaiters;
};

// Waits until any of `events` is signalled or dwMilliseconds have passed (INFINITE: no limit).
// Returns WAIT_OBJECT_0 + i for the signalled event with the lowest index i (an auto-reset event
// is reset by this; the others stay as they are), or WAIT_TIMEOUT. `events` must not be empty
// and must not hold null pointers.
DWORD WaitForAny(std::initializer_list<CEvent*> events, DWORD dwMilliseconds);

// The procedure a thread runs: one pointer in, an exit code out.
using ThreadProc = DWORD (*)(void*);

// One thread of the process running a ThreadProc. The object is owned by one thread at a time
// (its methods are not meant to be called concurrently); the running thread itself never touches
// it.
class CThread {
public:
    // Starts routine(pArg) on a new thread and returns once the new thread's id is known.
    // Throws std::system_error when no thread can be created.
    CThread(ThreadProc routine, void* pArg);
    // Lets a thread that has not been waited out run on, as Detach() would.
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    DWORD GetId() const { return m_dwId; }

    // Waits at most dwMilliseconds (INFINITE: no limit) for the routine to return.
    // WAIT_OBJECT_0: it has returned and the thread is joined; WAIT_TIMEOUT: it still runs;
    // WAIT_FAILED: this object holds no thread any more (already waited out or detached).
    DWORD Wait(DWORD dwMilliseconds);

    // Gives the thread up: it runs on by itself. `onExit` (may be empty) runs on that thread right
    // after the routine returns, or at once on the caller's thread if it already has. There is no
    // safe way to kill a thread, so this is what becomes of a thread that will not stop.
    void Detach(std::function<void()> onExit = {});

private:
    struct SState;
    std::shared_ptr<SState> m_pState;
    std::thread m_thread;
    DWORD m_dwId = 0;
};

}  // namespace Branwick::Platform
