// The capture ring and the tick against the headless input device. Most tests call CaptureTick
// on the test thread, with a window of the test's own on the same thread standing in for the
// main window, so each step is exact: the clock and the sound move only in Advance.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "capture/capture_ring.h"
#include "capture/capture_tick.h"
#include "core/tool_state.h"
#include "platform/multimedia.h"
#include "platform/windowing.h"
#include "tests/support/app_harness.h"

namespace {

int displayTicks = 0;
// What the window procedure does on a display tick besides counting it.
std::function<void()> onDisplayTick;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    if (message == WM_USER) {
        ++displayTicks;
        if (onDisplayTick) {
            onDisplayTick();
        }
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

// A ramp that never repeats within the ring, so a sample read from the wrong place shows.
int16_t Ramp(uint64_t index)
{
    return static_cast<int16_t>(index % 30011);
}

bool Queued(const WAVEHDR& h)
{
    return (h.dwFlags & static_cast<DWORD>(WHDR_INQUEUE)) != 0;
}

class CaptureTick_ : public testing::Test {
protected:
    void SetUp() override
    {
        apptest::ResetHostAndProgram();
        displayTicks = 0;
        onDisplayTick = nullptr;
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "CaptureTickTest";
        ASSERT_NE(RegisterClassExA(&wc), 0);
        window = CreateWindowExA(0, "CaptureTickTest", "tick test", WS_CAPTION, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 200, 300, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        shell.mainWindow.store(window);
        ASSERT_EQ(OpenCapture(), kCaptureOpened);
        StartCapture();
    }

    void TearDown() override
    {
        CloseCapture();
        shell.mainWindow.store(nullptr);
        DestroyWindow(window);
        onDisplayTick = nullptr;
        apptest::ResetHostAndProgram();
    }

    // Sound and clock move by `ms`, then one tick runs.
    void Tick(uint32_t ms = 10)
    {
        if (ms > 0) {
            headless::Advance(ms);
        }
        CaptureTick(0, 0, 0, 0, 0);
    }

    // Index of the one header handed to the device by the tick, -1 for none.
    int TickHanding(uint32_t ms = 10)
    {
        if (ms > 0) {
            headless::Advance(ms);
        }
        bool before[kBufferCount];
        for (uint32_t k = 0; k < kBufferCount; ++k) {
            before[k] = Queued(captureRing.headers[k]);
        }
        CaptureTick(0, 0, 0, 0, 0);
        int handed = -1;
        for (uint32_t k = 0; k < kBufferCount; ++k) {
            if (!before[k] && Queued(captureRing.headers[k])) {
                EXPECT_EQ(handed, -1) << "more than one buffer in one tick";
                handed = static_cast<int>(k);
            }
        }
        return handed;
    }

    HWND window = nullptr;
};

TEST_F(CaptureTick_, OpenPreparesTheFourHeadersOverAZeroedBlock)
{
    for (uint32_t k = 0; k < kBufferCount; ++k) {
        const WAVEHDR& h = captureRing.headers[k];
        EXPECT_EQ(reinterpret_cast<int16_t*>(h.lpData), captureRing.block + k * kBufferSamples);
        EXPECT_EQ(h.dwBufferLength, 8192u);
        EXPECT_EQ(h.dwFlags, static_cast<DWORD>(WHDR_PREPARED)) << k;
    }
    for (uint32_t p = 0; p < kRingSamples; ++p) {
        ASSERT_EQ(SampleAt(p), 0) << p;
    }
    const std::vector<std::string> log = headless::CallLog();
    const int open = apptest::FindCall(log, "waveInOpen");
    const int reset = apptest::FindCall(log, "waveInReset");
    ASSERT_GE(open, 0);
    EXPECT_EQ(apptest::CountCalls(log, "waveInPrepareHeader"), 4);
    EXPECT_GT(apptest::FindCall(log, "waveInPrepareHeader"), open);
    EXPECT_GT(reset, apptest::FindLastCall(log, "waveInPrepareHeader"));
    EXPECT_GT(apptest::FindCall(log, "waveInStart"), reset);
    EXPECT_EQ(apptest::FindCall(log, "waveInAddBuffer"), -1) << "no buffer before the first tick";
}

TEST_F(CaptureTick_, TopUpHandsHeadersInRingOrderTwoToThreeBuffersAhead)
{
    struct Step {
        uint32_t advanceMs;
        int handed;
        uint32_t devicePosition;
        uint32_t queuedTo;
    };
    // Two ticks at position 0 hand headers 0 and 1; header 2 needs the device above 0; then one
    // more each time the device comes within 8192 of queuedTo, header 3 followed by 0 again.
    const Step steps[] = {
        {0, 0, 0, 4096},       {0, 1, 0, 8192},       {0, -1, 0, 8192},
        {10, 2, 480, 12288},   {75, -1, 4080, 12288}, {1, 3, 4128, 16384},
        {84, -1, 8160, 16384}, {1, 0, 8208, 20480},   {86, 1, 12336, 24576},
        {85, 2, 16416, 28672},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(TickHanding(s.advanceMs), s.handed) << "at " << s.devicePosition;
        EXPECT_EQ(captureRing.devicePosition.load(), s.devicePosition);
        EXPECT_EQ(captureRing.queuedTo.load(), s.queuedTo);
    }
}

TEST_F(CaptureTick_, SteadyCaptureKeepsTheRingInOrderAndAnalysesExactly4096Behind)
{
    headless::SetSignal(Ramp);
    // Primed by two ticks at position 0, so that no sound is lost before the first buffer.
    Tick(0);
    Tick(0);
    int handedCount = 2;
    for (int t = 0; t < 500; ++t) {
        const int handed = TickHanding();
        const uint32_t device = captureRing.devicePosition.load();
        const uint32_t queued = captureRing.queuedTo.load();
        const uint32_t analysed = captureRing.analysedTo.load();
        ASSERT_EQ(device, 480u * static_cast<uint32_t>(t + 1));
        if (handed >= 0) {
            ASSERT_EQ(handed, handedCount % 4) << "tick " << t;
            ++handedCount;
            ASSERT_LT(queued, device + 12288) << "tick " << t;
        }
        ASSERT_GE(queued, device + 8192) << "tick " << t;
        // The margin: the sample exactly 4096 behind the device is not yet analysed.
        ASSERT_EQ(analysed, device > 4096 ? device - 4096 : 0) << "tick " << t;
        // Everything between the analysis and the device is what the microphone gave there.
        for (uint32_t p = analysed; p != device; ++p) {
            ASSERT_EQ(SampleAt(p), Ramp(p)) << "position " << p << " at tick " << t;
        }
    }
}

TEST_F(CaptureTick_, RefusedBufferIsOfferedAgainAndItsTickDoesNothingElse)
{
    Tick(0);
    Tick(0);
    toolState.settings.displayInterval.store(10);
    ASSERT_EQ(captureRing.queuedTo.load(), 8192u);
    const int displayed = displayTicks;

    // At 4128 header 2 is due, and so are the analysis of 32 samples and a display tick.
    headless::RefuseBuffers(1);
    EXPECT_EQ(TickHanding(86), -1);
    EXPECT_EQ(captureRing.queuedTo.load(), 8192u);
    EXPECT_EQ(captureRing.analysedTo.load(), 0u);
    EXPECT_EQ(displayTicks, displayed) << "a refused buffer ends the tick before the display";
    EXPECT_EQ(captureRing.headers[2].dwFlags & static_cast<DWORD>(WHDR_DONE), 0u);

    // The same header at the next tick, and the analysis catches up in one go.
    EXPECT_EQ(TickHanding(10), 2);
    EXPECT_EQ(captureRing.queuedTo.load(), 12288u);
    EXPECT_EQ(captureRing.analysedTo.load(), 4608u - 4096u);
    EXPECT_EQ(displayTicks, displayed + 1);
}

TEST_F(CaptureTick_, RefusalsBeyondTheQueuedBuffersNeverAnalyseUnrecordedPositions)
{
    headless::SetSignal(Ramp);
    Tick(0);
    Tick(0);
    Tick(500);
    // 1 s of refusals: the three queued buffers last 256 ms at most.
    headless::RefuseBuffers(100);
    uint32_t lastAnalysed = captureRing.analysedTo.load();
    for (int t = 0; t < 150; ++t) {
        Tick();
        const uint32_t device = captureRing.devicePosition.load();
        const uint32_t analysed = captureRing.analysedTo.load();
        ASSERT_LE(device, captureRing.queuedTo.load());
        ASSERT_LE(analysed + 4096, device);
        ASSERT_GE(analysed, lastAnalysed);
        lastAnalysed = analysed;
    }
    // The device stopped at queuedTo with its three buffers full and went on from there once
    // buffers came back (the first one at tick 101, recorded into from tick 102).
    const uint32_t device = captureRing.devicePosition.load();
    EXPECT_EQ(device, 12288u + 49u * 480u);
    EXPECT_EQ(captureRing.analysedTo.load(), device - 4096);
    // What was recorded after the gap is the microphone's stream without a break.
    for (uint32_t p = device - 8000; p != device; ++p) {
        const int32_t step = SampleAt(p) - SampleAt(p - 1);
        ASSERT_TRUE(step == 1 || (step == -30010 && SampleAt(p) == 0)) << p;
    }
}

struct PacingCase {
    uint32_t interval;
    uint32_t clockStart;
    int ticks;
    int displayTicks;
    // The tick (1-based) that makes the first display tick.
    int firstAt;
};

TEST_F(CaptureTick_, DisplayTickOncePerIntervalSlotOfTheClock)
{
    const PacingCase cases[] = {
        // About ten a second at the default; every tick at the floor; one a second at 1000.
        {100, 0, 100, 10, 10},
        {10, 0, 100, 100, 1},
        {1000, 0, 300, 3, 100},
        // lastDisplayTime starts at 0: the first tick fires when the clock reads an interval.
        {100, 5000, 100, 11, 1},
        {100, 95, 11, 2, 1},
        // Across the clock's wrap: slots before it and from 0 after it.
        {100, 0xFFFFFFFFu - 495, 100, 11, 1},
    };
    for (const PacingCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "interval " << c.interval << " from " << c.clockStart);
        TearDown();
        SetUp();
        toolState.settings.displayInterval.store(c.interval);
        headless::SetTime(c.clockStart);
        int firstAt = 0;
        for (int t = 1; t <= c.ticks; ++t) {
            Tick();
            if (firstAt == 0 && displayTicks > 0) {
                firstAt = t;
            }
        }
        EXPECT_EQ(displayTicks, c.displayTicks);
        EXPECT_EQ(firstAt, c.firstAt);
    }
}

TEST_F(CaptureTick_, LastDisplayTimeIsReadAfterTheSendReturns)
{
    // The window thread takes 140 ms over the column: the next slot counts from then.
    headless::SetTime(95);
    onDisplayTick = [] { headless::SetTime(250); };
    Tick();  // 105: fires
    onDisplayTick = nullptr;
    EXPECT_EQ(displayTicks, 1);
    EXPECT_EQ(tickState.lastDisplayTime.load(), 250u);
    Tick();  // 260, same slot as 250
    EXPECT_EQ(displayTicks, 1);
    Tick(40);  // 300
    EXPECT_EQ(displayTicks, 2);
}

TEST_F(CaptureTick_, DisplayTickBeforeTheWindowIsKnownIsDropped)
{
    shell.mainWindow.store(nullptr);
    headless::SetTime(100);
    Tick();  // 110: due, but there is no window yet
    EXPECT_EQ(displayTicks, 0);
    EXPECT_EQ(tickState.lastDisplayTime.load(), 110u);
    EXPECT_EQ(apptest::CountCalls(headless::CallLog(), "SendMessageA"), 0);
    shell.mainWindow.store(window);
    Tick();  // 120: same slot
    EXPECT_EQ(displayTicks, 0);
    Tick(80);  // 200
    EXPECT_EQ(displayTicks, 1);
}

// The timer thread's tick blocks in its send to this thread, which does not answer: stopping
// the tick must come back at once, and destroying the window must release the blocked send.
TEST_F(CaptureTick_, StopTickDoesNotWaitForATickBlockedInItsSend)
{
    toolState.settings.displayInterval.store(10);
    StartTick();
    ASSERT_NE(tickState.timer, 0u);
    apptest::Watched("a tick that blocks in its send", [] {
        headless::StartAdvance(10);
        while (apptest::FindCall(headless::CallLog(), "SendMessageA") < 0) {
            std::this_thread::yield();
        }
    });
    apptest::Watched("StopTick with a tick blocked in its send", [] { StopTick(); });
    EXPECT_EQ(headless::LiveTimers(), 0u);
    EXPECT_EQ(tickState.inFlight.load(), 1) << "the tick is still in its send";
    shell.mainWindow.store(nullptr);
    DestroyWindow(window);
    apptest::Watched("the blocked tick after the window is gone", [] {
        headless::WaitTimerCalls();
        WaitForTicks();
    });
    EXPECT_EQ(tickState.inFlight.load(), 0);
    EXPECT_EQ(displayTicks, 0);
    // No tick runs once stopped.
    const int positions = apptest::CountCalls(headless::CallLog(), "waveInGetPosition");
    headless::Advance(100);
    EXPECT_EQ(apptest::CountCalls(headless::CallLog(), "waveInGetPosition"), positions);
}

}  // namespace
