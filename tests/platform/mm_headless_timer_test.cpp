// The timer and clock under conditions only the headless host can stage: uneven and late steps,
// start failures, a clock near its wrap, and the count of threads left behind.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/multimedia.h"
#include "platform/portable/hosts/headless/call_log.h"
#include "platform/portable/hosts/headless/headless_sound.h"

namespace {

class HeadlessTimer : public ::testing::Test {
  protected:
    void SetUp() override
    {
        headless::ResetSound();
        headless::ClearCallLog();
    }
    void TearDown() override
    {
        headless::ResetSound();
    }
};

void CALLBACK Count(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    ++*reinterpret_cast<std::atomic<int>*>(user);
}

// Deadlines stay on the 10 ms grid counted from timeSetEvent, whatever the steps: a late call
// does not push the later ones back, and deadlines missed meanwhile are dropped, not made up.
TEST_F(HeadlessTimer, DeadlinesStayOnTheirGrid)
{
    std::atomic<int> calls{0};
    const UINT id = timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    const struct {
        uint32_t stepMs;
        int calls; // made during the step
    } steps[] = {
        {9, 0},   // t = 9
        {1, 1},   // 10
        {15, 1},  // 25: due at 20
        {5, 1},   // 30: on the grid, not 25 + 10
        {3, 0},   // 33
        {7, 1},   // 40
        {200, 1}, // 240: late; the 19 deadlines passed meanwhile are dropped
        {5, 0},   // 245
        {5, 1},   // 250
        {10, 1},  // 260
    };
    for (const auto& s : steps) {
        const int before = calls.load();
        headless::Advance(s.stepMs);
        EXPECT_EQ(calls.load() - before, s.calls) << "step of " << s.stepMs << " ms";
    }
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
}

TEST_F(HeadlessTimer, TimersRunSideBySideEachOnItsOwnPeriod)
{
    std::atomic<int> fast{0};
    std::atomic<int> slow{0};
    const UINT a = timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&fast), TIME_PERIODIC);
    const UINT b = timeSetEvent(30, 10, Count, reinterpret_cast<DWORD_PTR>(&slow), TIME_PERIODIC);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(headless::LiveTimers(), 2u);
    for (int i = 0; i < 30; i++) {
        headless::StepTimer();
    }
    EXPECT_EQ(fast.load(), 30);
    EXPECT_EQ(slow.load(), 10);
    EXPECT_EQ(timeKillEvent(a), MMSYSERR_NOERROR);
    EXPECT_EQ(timeKillEvent(b), MMSYSERR_NOERROR);
    headless::WaitTimerCalls();
    EXPECT_EQ(headless::LiveTimers(), 0u);
    EXPECT_EQ(headless::TimerThreads(), 0u);
}

TEST_F(HeadlessTimer, TimerThatCannotStartGetsIdentifierZero)
{
    std::atomic<int> calls{0};
    headless::FailTimerStarts(1);
    EXPECT_EQ(timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC), 0u);
    EXPECT_EQ(headless::LiveTimers(), 0u);
    EXPECT_EQ(timeSetEvent(10, 10, nullptr, 0, TIME_PERIODIC), 0u);
    headless::StepTimer();
    EXPECT_EQ(calls.load(), 0);

    const UINT id = timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    headless::StepTimer();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
}

struct Blocking {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
};

void CALLBACK Block(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    Blocking& b = *reinterpret_cast<Blocking*>(user);
    std::unique_lock lock(b.mutex);
    b.entered = true;
    b.changed.notify_all();
    b.changed.wait(lock, [&] { return b.released; });
}

// The thread of a timer killed during its call lives until that call returns, then goes.
TEST_F(HeadlessTimer, KilledTimerThreadEndsWhenItsCallReturns)
{
    Blocking b;
    const UINT id = timeSetEvent(10, 10, Block, reinterpret_cast<DWORD_PTR>(&b), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    headless::StartAdvance(10);
    {
        std::unique_lock lock(b.mutex);
        b.changed.wait(lock, [&] { return b.entered; });
    }
    ASSERT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
    EXPECT_EQ(headless::LiveTimers(), 0u);
    EXPECT_EQ(headless::TimerThreads(), 1u);
    {
        std::lock_guard lock(b.mutex);
        b.released = true;
    }
    b.changed.notify_all();
    headless::WaitTimerCalls();
    EXPECT_EQ(headless::TimerThreads(), 0u);
    // The next timer call reaps the finished thread; a new timer starts as usual.
    std::atomic<int> calls{0};
    const UINT next =
        timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
    ASSERT_NE(next, 0u);
    headless::StepTimer();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(timeKillEvent(next), MMSYSERR_NOERROR);
}

TEST_F(HeadlessTimer, ClockWrapsAtTwoToTheThirtyTwo)
{
    headless::SetTime(0xFFFFFFF6u);
    EXPECT_EQ(timeGetTime(), 0xFFFFFFF6u);
    headless::Advance(9);
    EXPECT_EQ(timeGetTime(), 0xFFFFFFFFu);
    headless::Advance(1);
    EXPECT_EQ(timeGetTime(), 0u);
    headless::Advance(10);
    EXPECT_EQ(timeGetTime(), 10u);
    // Moving the clock does not disturb a timer.
    std::atomic<int> calls{0};
    const UINT id = timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    headless::SetTime(0);
    headless::SetTime(0xFFFFFFFFu);
    headless::StepTimer();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
}

TEST_F(HeadlessTimer, ResolutionRequestsAreCountedAndMustBalance)
{
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(headless::TimePeriodBalance(), 2);
    EXPECT_EQ(timeEndPeriod(2), TIMERR_NOCANDO);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO);
    EXPECT_EQ(headless::TimePeriodBalance(), 0);
    const std::vector<std::string> expected = {
        "timeEndPeriod", "timeBeginPeriod", "timeBeginPeriod", "timeEndPeriod",
        "timeEndPeriod", "timeEndPeriod",   "timeEndPeriod",
    };
    EXPECT_EQ(headless::CallLog(), expected);
}

TEST_F(HeadlessTimer, ResetSoundKillsTimersLeftRunning)
{
    std::atomic<int> calls{0};
    ASSERT_NE(timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), TIME_PERIODIC), 0u);
    headless::StepTimer();
    headless::ResetSound();
    EXPECT_EQ(headless::LiveTimers(), 0u);
    EXPECT_EQ(headless::TimerThreads(), 0u);
    headless::StepTimer();
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(HeadlessTimer, OneShotTimersFailLoudlyInDebugBuilds)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    std::atomic<int> calls{0};
    UINT id = 1;
    EXPECT_DEBUG_DEATH(id = timeSetEvent(10, 10, Count, reinterpret_cast<DWORD_PTR>(&calls), 0),
                       "periodic");
#ifdef NDEBUG
    EXPECT_EQ(id, 0u);
#else
    EXPECT_EQ(id, 1u);
#endif
}

} // namespace
