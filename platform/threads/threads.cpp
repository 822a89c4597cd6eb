#include "platform/threads/threads.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace Branwick::Platform {

DWORD GetCurrentThreadId() {
    // The kernel's id is shared by every module of the process, unlike a counter of our own,
    // which libfendral.so would count separately.
    thread_local const DWORD dwId = static_cast<DWORD>(gettid());
    return dwId;
}

// One waiting call, registered with every event it waits on; Set() wakes it.
struct CEvent::SWaiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool bWoken = false;
};

CEvent::CEvent(bool bManualReset, bool bInitialState)
    : m_bManualReset(bManualReset), m_bSignalled(bInitialState) {}

void CEvent::Set() {
    std::lock_guard lock(m_mutex);
    if (m_bSignalled) {
        return;
    }
    m_bSignalled = true;
    for (SWaiter* pWaiter : m_vWaiters) {
        std::lock_guard waiterLock(pWaiter->mutex);
        pWaiter->bWoken = true;
        pWaiter->cv.notify_one();
    }
}

void CEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_bSignalled = false;
}

bool CEvent::TryTake() {
    if (!m_bSignalled) {
        return false;
    }
    if (!m_bManualReset) {
        m_bSignalled = false;
    }
    return true;
}

DWORD CEvent::Wait(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0 && !m_bSignalled.load(std::memory_order_acquire)) {
        return WAIT_TIMEOUT;
    }
    {
        // The common cases (a poll, or an event already set) need no waiter.
        std::lock_guard lock(m_mutex);
        if (TryTake()) {
            return WAIT_OBJECT_0;
        }
        if (dwMilliseconds == 0) {
            return WAIT_TIMEOUT;
        }
    }
    return WaitForAny({this}, dwMilliseconds);
}

DWORD WaitForAny(std::initializer_list<CEvent*> events, DWORD dwMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
    CEvent::SWaiter waiter;
    bool bRegistered = false;
    bool bLastLook = dwMilliseconds == 0;
    DWORD dwResult = WAIT_TIMEOUT;

    while (dwResult == WAIT_TIMEOUT) {
        // Looking and registering under each event's own lock: a Set() after the look finds the
        // waiter and wakes it, so no signal falls between the look and the sleep.
        DWORD dwIndex = 0;
        for (CEvent* pEvent : events) {
            std::lock_guard lock(pEvent->m_mutex);
            if (pEvent->TryTake()) {
                dwResult = WAIT_OBJECT_0 + dwIndex;
                break;
            }
            if (!bRegistered) {
                pEvent->m_vWaiters.push_back(&waiter);
            }
            ++dwIndex;
        }
        bRegistered = true;
        if (dwResult != WAIT_TIMEOUT || bLastLook) {
            break;
        }
        std::unique_lock lock(waiter.mutex);
        if (dwMilliseconds == INFINITE) {
            waiter.cv.wait(lock, [&] { return waiter.bWoken; });
        } else if (!waiter.cv.wait_until(lock, deadline, [&] { return waiter.bWoken; })) {
            bLastLook = true;
        }
        waiter.bWoken = false;
    }

    // A pass that found an event early may have registered with the events before it.
    for (CEvent* pEvent : events) {
        std::lock_guard lock(pEvent->m_mutex);
        auto& v = pEvent->m_vWaiters;
        v.erase(std::remove(v.begin(), v.end(), &waiter), v.end());
    }
    return dwResult;
}

// What the thread and its owner share: the thread may outlive the CThread object.
struct CThread::SState {
    CEvent started{true, false};
    CEvent finished{true, false};
    DWORD dwId = 0;
    std::mutex mutex;
    bool bEnded = false;
    std::function<void()> onExit;
};

CThread::CThread(ThreadProc routine, void* pArg) : m_pState(std::make_shared<SState>()) {
    m_thread = std::thread([pState = m_pState, routine, pArg] {
        pState->dwId = GetCurrentThreadId();
        pState->started.Set();
        routine(pArg);
        std::function<void()> onExit;
        {
            std::lock_guard lock(pState->mutex);
            pState->bEnded = true;
            onExit.swap(pState->onExit);
        }
        pState->finished.Set();
        if (onExit) {
            onExit();
        }
    });
    m_pState->started.Wait(INFINITE);
    m_dwId = m_pState->dwId;
}

CThread::~CThread() {
    if (m_thread.joinable()) {
        Detach();
    }
}

DWORD CThread::Wait(DWORD dwMilliseconds) {
    if (!m_thread.joinable()) {
        return WAIT_FAILED;
    }
    const DWORD dwResult = m_pState->finished.Wait(dwMilliseconds);
    if (dwResult == WAIT_OBJECT_0) {
        m_thread.join();
    }
    return dwResult;
}

void CThread::Detach(std::function<void()> onExit) {
    if (!m_thread.joinable()) {
        return;
    }
    m_thread.detach();
    {
        std::lock_guard lock(m_pState->mutex);
        if (!m_pState->bEnded) {
            m_pState->onExit = std::move(onExit);
            return;
        }
    }
    if (onExit) {
        onExit();
    }
}

}  // namespace Branwick::Platform
