#include "platform/threads/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace Branwick;
using namespace Branwick::Platform;

namespace {

TEST(Event, ManualResetStaysSignalledUntilReset) {
    CEvent event(true, false);
    EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
    event.Set();
    EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(event.Wait(INFINITE), WAIT_OBJECT_0);
    event.Reset();
    EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
}

TEST(Event, AutoResetReleasesOneWaitOnly) {
    CEvent event(false, true);
    EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT);
    event.Set();
    event.Set();  // setting a signalled event does not count twice
    EXPECT_EQ(event.Wait(10), WAIT_OBJECT_0);
    EXPECT_EQ(event.Wait(10), WAIT_TIMEOUT);
}

TEST(Event, TimedWaitWaitsAtLeastItsTime) {
    CEvent event(false, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Event, WaitForAnyGivesLowestSignalledAndResetsOnlyThatOne) {
    CEvent first(false, false), second(false, true), third(false, true);
    EXPECT_EQ(WaitForAny({&first, &second, &third}, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(second.Wait(0), WAIT_TIMEOUT);
    EXPECT_EQ(third.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForAny({&first, &second, &third}, 20), WAIT_TIMEOUT);
}

TEST(Event, WaitForAnyWakesOnASetFromAnotherThread) {
    CEvent data(false, false), stop(true, false);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.Set();
    });
    EXPECT_EQ(WaitForAny({&data, &stop}, INFINITE), WAIT_OBJECT_0 + 1);
    setter.join();
    // The manual-reset stop event is still set; the waiter left no trace behind in either event.
    EXPECT_EQ(WaitForAny({&data, &stop}, 0), WAIT_OBJECT_0 + 1);
}

// A consumer that waits on an auto-reset event and then takes all that has been counted must
// see every increment: a signal that falls between its look and its sleep may not be lost.
TEST(Event, NoSignalIsLostBetweenLookingAndSleeping) {
    constexpr int kCount = 20000;
    CEvent event(false, false), never(true, false);
    std::atomic<int> nProduced{0};
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            nProduced.fetch_add(1);
            event.Set();
        }
    });
    int nSeen = 0;
    while (nSeen < kCount) {
        ASSERT_EQ(WaitForAny({&never, &event}, 10000), WAIT_OBJECT_0 + 1)
            << "lost wake-up at " << nSeen;
        nSeen = nProduced.load();
    }
    producer.join();
}

DWORD RecordOwnId(void* pArg) {
    *static_cast<DWORD*>(pArg) = GetCurrentThreadId();
    return 0;
}

TEST(Thread, IdIsTheThreadsOwnAndWaitJoinsOnce) {
    DWORD dwSeen = 0;
    CThread thread(RecordOwnId, &dwSeen);
    EXPECT_NE(thread.GetId(), 0u);
    EXPECT_NE(thread.GetId(), GetCurrentThreadId());
    EXPECT_EQ(thread.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(dwSeen, thread.GetId());
    EXPECT_EQ(thread.Wait(0), WAIT_FAILED);
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
}

DWORD WaitForRelease(void* pArg) {
    static_cast<CEvent*>(pArg)->Wait(INFINITE);
    return 0;
}

TEST(Thread, WaitTimesOutOnARunningThread) {
    CEvent release(true, false);
    CThread thread(WaitForRelease, &release);
    EXPECT_EQ(thread.Wait(20), WAIT_TIMEOUT);
    release.Set();
    EXPECT_EQ(thread.Wait(INFINITE), WAIT_OBJECT_0);
}

TEST(Thread, DetachedThreadRunsItsExitActionWhenItEnds) {
    CEvent release(true, false), exited(true, false);
    DWORD dwExitThread = 0;
    {
        CThread thread(WaitForRelease, &release);
        thread.Detach([&] {
            dwExitThread = GetCurrentThreadId();
            exited.Set();
        });
        EXPECT_EQ(thread.Wait(0), WAIT_FAILED);
        EXPECT_EQ(exited.Wait(20), WAIT_TIMEOUT);
        release.Set();
        ASSERT_EQ(exited.Wait(10000), WAIT_OBJECT_0);
        EXPECT_EQ(dwExitThread, thread.GetId());
    }
}

// Whether the thread has ended before Detach or ends after it, the exit action runs exactly once.
TEST(Thread, ExitActionRunsOnceWhenDetachRacesTheEnd) {
    for (int nDelay : {0, 1, 5}) {
        CEvent release(true, true), exited(true, false);
        std::atomic<int> nRuns{0};
        CThread thread(WaitForRelease, &release);
        std::this_thread::sleep_for(std::chrono::milliseconds(nDelay));
        thread.Detach([&] {
            nRuns.fetch_add(1);
            exited.Set();
        });
        ASSERT_EQ(exited.Wait(10000), WAIT_OBJECT_0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(nRuns.load(), 1);
    }
}

}  // namespace
