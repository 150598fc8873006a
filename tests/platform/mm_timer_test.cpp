// What the program relies on from the multimedia timer and clock, through
// platform/multimedia.h alone.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/multimedia.h"
#include "tests/platform/support_mm_env.h"

namespace {

class Timer : public ::testing::Test {
  protected:
    void SetUp() override
    {
        mm_env::Begin();
    }
    void TearDown() override
    {
        mm_env::End();
    }
};

struct Calls {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    std::vector<DWORD> times;
    std::vector<UINT> ids;
    bool argumentsOk = true;
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::chrono::milliseconds lasts{0};
    UINT killOwnAt = 0; // the call that kills its own timer, 0 for none
    std::atomic<size_t> count{0};
};

void CALLBACK Record(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR dw1, DWORD_PTR dw2)
{
    Calls& calls = *reinterpret_cast<Calls*>(user);
    const int inside = ++calls.inside;
    int most = calls.mostInside.load();
    while (inside > most && !calls.mostInside.compare_exchange_weak(most, inside)) {
    }
    {
        std::lock_guard lock(calls.mutex);
        calls.threads.push_back(std::this_thread::get_id());
        calls.times.push_back(timeGetTime());
        calls.ids.push_back(id);
        calls.argumentsOk = calls.argumentsOk && msg == 0 && dw1 == 0 && dw2 == 0;
    }
    if (calls.lasts.count() > 0) {
        std::this_thread::sleep_for(calls.lasts);
    }
    const size_t made = ++calls.count;
    if (calls.killOwnAt != 0 && made == calls.killOwnAt) {
        EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
    }
    --calls.inside;
}

// A call that lasts longer than the period must not overlap the next one.
TEST_F(Timer, CallsComeEveryPeriodOneAtATimeOnOneOtherThread)
{
    for (const int lastsMs : {0, 25}) {
        SCOPED_TRACE(lastsMs);
        Calls calls;
        calls.lasts = std::chrono::milliseconds(lastsMs);
        const UINT id =
            timeSetEvent(10, 10, Record, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
        ASSERT_NE(id, 0u);
        const DWORD started = timeGetTime();
        mm_env::Pass(200);
        ASSERT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
        mm_env::Pass(50);

        std::lock_guard lock(calls.mutex);
        ASSERT_FALSE(calls.threads.empty());
        EXPECT_EQ(calls.mostInside.load(), 1);
        EXPECT_TRUE(calls.argumentsOk);
        for (size_t i = 0; i < calls.threads.size(); i++) {
            EXPECT_EQ(calls.threads[i], calls.threads[0]) << i;
            EXPECT_EQ(calls.ids[i], id) << i;
        }
        EXPECT_NE(calls.threads[0], std::this_thread::get_id());
        if (mm_env::ExactTiming()) {
            ASSERT_EQ(calls.times.size(), 20u);
            for (size_t i = 0; i < calls.times.size(); i++) {
                EXPECT_EQ(calls.times[i] - started, 10 * (i + 1)) << i;
            }
        }
    }
}

TEST_F(Timer, NoCallStartsOnceKilled)
{
    Calls calls;
    const UINT id =
        timeSetEvent(10, 10, Record, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    mm_env::Pass(50);
    ASSERT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
    // A call that was already under way on a real system may still end after the kill.
    mm_env::Pass(20);
    const size_t afterKill = calls.count.load();
    mm_env::Pass(100);
    EXPECT_EQ(calls.count.load(), afterKill);
    if (mm_env::ExactTiming()) {
        EXPECT_EQ(afterKill, 5u);
    }
    EXPECT_NE(timeKillEvent(id), MMSYSERR_NOERROR) << "killed already";
#ifndef _WIN32
    // The system's answers to identifiers it does not know differ (Wine: TIMERR_NOCANDO for a
    // killed one, success for 0); the program never kills a timer twice.
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
    EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
#endif
}

TEST_F(Timer, ACallMayKillItsOwnTimer)
{
    Calls calls;
    calls.killOwnAt = 3;
    const UINT id =
        timeSetEvent(10, 10, Record, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    mm_env::Pass(100);
    EXPECT_EQ(calls.count.load(), 3u);
}

// The program's window thread kills the tick while the tick may be waiting for that very
// thread (a synchronous send). The kill must return without waiting for the call, no call may
// start after it, and the call in progress still finishes once the thread lets it go.
struct Blocking {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    int calls = 0;
};

void CALLBACK WaitForKiller(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    Blocking& b = *reinterpret_cast<Blocking*>(user);
    std::unique_lock lock(b.mutex);
    b.calls++;
    b.entered = true;
    b.changed.notify_all();
    b.changed.wait(lock, [&] { return b.released; });
}

TEST_F(Timer, KillDoesNotWaitForACallBlockedOnTheKillingThread)
{
    Blocking b;
    const UINT id =
        timeSetEvent(10, 10, WaitForKiller, reinterpret_cast<DWORD_PTR>(&b), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    mm_env::PassStarting(10);
    {
        std::unique_lock lock(b.mutex);
        b.changed.wait(lock, [&] { return b.entered; });
    }
    // Would never return if it waited for the call.
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
    {
        std::lock_guard lock(b.mutex);
        b.released = true;
    }
    b.changed.notify_all();
    mm_env::FinishCalls();
    mm_env::Pass(100);
    std::lock_guard lock(b.mutex);
    EXPECT_EQ(b.calls, 1);
}

TEST_F(Timer, RefusesDelaysOutsideItsRange)
{
    Calls calls;
    EXPECT_EQ(timeSetEvent(0, 10, Record, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC), 0u);
    EXPECT_EQ(timeSetEvent(1000001, 10, Record, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC),
              0u);
    mm_env::Pass(50);
    EXPECT_EQ(calls.count.load(), 0u);
}

TEST_F(Timer, ClockCountsMilliseconds)
{
    const DWORD before = timeGetTime();
    mm_env::Pass(250);
    const DWORD elapsed = timeGetTime() - before;
    EXPECT_GE(elapsed, 250u);
    if (mm_env::ExactTiming()) {
        EXPECT_EQ(elapsed, 250u);
    }
}

TEST_F(Timer, ResolutionRequestsAreBalanced)
{
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
}

} // namespace
