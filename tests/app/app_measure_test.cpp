// The whole program measuring a tone fed into the headless input device: what it reads, when,
// how often the display ticks, and that it keeps doing so across refusals and wraps.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "capture/capture_tick.h"
#include "core/tool_state.h"
#include "tests/support/app_harness.h"

namespace {

using apptest::CountCalls;

constexpr const char* kDisplayTick = "SendMessageA 0x0400";
// Window rows of the 440 Hz dot (chart row 94) and of the -6.23 dB dot (chart row 24).
constexpr int kFrequencyRow = 194;
constexpr int kLevelRow = 124;
// The level depends a little on where the measurement's peaks fall on the sampled sine.
constexpr double kLevelTolerance = 0.0015;

int DisplayTicksSince(size_t logSize)
{
    const std::vector<std::string> log = headless::CallLog();
    return CountCalls(std::vector<std::string>(log.begin() + static_cast<long>(logSize), log.end()),
                      kDisplayTick);
}

// The newest `columns` chart columns (at the right-hand edge) carry both dots.
void ExpectDotsInNewestColumns(const apptest::App& app, int columns)
{
    const headless::WindowView view = app.View();
    for (int x = 199; x > 199 - columns; --x) {
        EXPECT_EQ(view.Pixel(x, kFrequencyRow), apptest::kRed) << "column " << x;
        EXPECT_EQ(view.Pixel(x, kLevelRow), apptest::kBlue) << "column " << x;
    }
}

TEST(AppMeasure, ToneOf440HzReadsAsItIsOnceAMeasurementIsPast4096Samples)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start();
    uint32_t firstAt = 0;
    for (int t = 0; t < 30 && firstAt == 0; ++t) {
        app.Step();
        if (toolState.result.frequencyHz.load() != 0.0) {
            firstAt = captureRing.devicePosition.load();
        }
    }
    // The detector runs 4096 samples behind the device, and a measurement spans at least
    // minDuration (2400 samples) plus the cycles that start it.
    ASSERT_NE(firstAt, 0u) << "no result after 300 ms";
    EXPECT_GT(firstAt, 4096u + 2400u);
    EXPECT_LE(firstAt, 4096u + 2400u + 3 * 110 + 480);
    EXPECT_EQ(toolState.result.frequencyHz.load(), 440.0);
    EXPECT_NEAR(toolState.result.levelDb.load(), -6.228, kLevelTolerance);

    app.Run(1000);
    EXPECT_EQ(toolState.result.frequencyHz.load(), 440.0);
    EXPECT_NEAR(toolState.result.levelDb.load(), -6.228, kLevelTolerance);
    ExpectDotsInNewestColumns(app, 8);
    std::vector<std::string> lines;
    for (const apptest::TextLine& line : app.LastPaintText()) {
        lines.push_back(line.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"  440.00 Hz", "   -6.23 dB"}));
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(AppMeasure, TenDisplayTicksASecondAtTheDefaultInterval)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start();
    app.Run(500);
    for (int second = 0; second < 3; ++second) {
        const size_t before = headless::CallLog().size();
        const uint32_t columns = toolState.view.chartColumn;
        app.Run(1000);
        EXPECT_EQ(DisplayTicksSince(before), 10) << "second " << second;
        EXPECT_EQ(toolState.view.chartColumn - columns, 10u);
    }
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(AppMeasure, RefusedBufferSkipsThatTicksAnalysisAndDisplayTick)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start();
    // A display tick at every tick, so that the skipped one shows.
    app.PressWith('H', VK_DOWN, 9);
    app.Run(500);
    headless::RefuseBuffers(1);
    bool refused = false;
    for (int t = 0; t < 20 && !refused; ++t) {
        const size_t before = headless::CallLog().size();
        const uint32_t queued = captureRing.queuedTo.load();
        const uint32_t analysed = captureRing.analysedTo.load();
        const uint32_t columns = toolState.view.chartColumn;
        app.Step();
        const std::vector<std::string> log = headless::CallLog();
        const std::vector<std::string> tick(log.begin() + static_cast<long>(before), log.end());
        if (CountCalls(tick, "waveInAddBuffer") == 1 && captureRing.queuedTo.load() == queued) {
            refused = true;
            EXPECT_EQ(captureRing.analysedTo.load(), analysed);
            EXPECT_EQ(CountCalls(tick, kDisplayTick), 0);
            EXPECT_EQ(toolState.view.chartColumn, columns);
        } else {
            EXPECT_EQ(CountCalls(tick, kDisplayTick), 1);
        }
    }
    ASSERT_TRUE(refused) << "no top-up was due in 20 ticks";
    // The next tick hands the buffer over, catches up and displays.
    const size_t before = headless::CallLog().size();
    const uint32_t queued = captureRing.queuedTo.load();
    app.Step();
    EXPECT_EQ(captureRing.queuedTo.load(), queued + 4096);
    EXPECT_EQ(captureRing.analysedTo.load(), captureRing.devicePosition.load() - 4096);
    EXPECT_EQ(DisplayTicksSince(before), 1);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

// The device refuses every buffer for 600 ms, far longer than the three it holds last (at most
// 256 ms), and then takes them again.
TEST(AppMeasure, RefusalsLongerThanTheQueuedBuffersLastThenMeasuringResumes)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start();
    app.Run(1000);
    const uint32_t startAnalysed = captureRing.analysedTo.load();
    headless::RefuseBuffers(60);
    uint32_t lastAnalysed = startAnalysed;
    bool stalled = false;
    for (int t = 0; t < 80; ++t) {
        app.Step();
        const uint32_t device = captureRing.devicePosition.load();
        const uint32_t analysed = captureRing.analysedTo.load();
        // Nothing beyond what the device recorded into buffers it was given is analysed.
        ASSERT_LE(device, captureRing.queuedTo.load()) << "tick " << t;
        ASSERT_LE(analysed + 4096, device) << "tick " << t;
        ASSERT_GE(analysed, lastAnalysed) << "tick " << t;
        stalled = stalled || (analysed == lastAnalysed && t > 0);
        lastAnalysed = analysed;
    }
    EXPECT_TRUE(stalled) << "the device never ran out of buffers";
    // Dots in a column mean a result published since the column before.
    app.Run(1000);
    EXPECT_EQ(toolState.result.frequencyHz.load(), 440.0) << "measuring resumes";
    EXPECT_NEAR(toolState.result.levelDb.load(), -6.228, kLevelTolerance);
    ExpectDotsInNewestColumns(app, 8);
    // Every recorded position but the newest 4096 was analysed, each once.
    EXPECT_EQ(captureRing.lostSamples.load(), 0u);
    EXPECT_EQ(captureRing.analysedTo.load(), captureRing.devicePosition.load() - 4096);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

struct WrapCase {
    const char* name;
    // Where the device's sample count starts (a multiple of the ring) and the clock.
    uint32_t position;
    uint32_t clock;
    // Ticks 250 ms late at the start, each finding the device stopped at the end of its
    // buffers and handing over one more: the positions then move 4096 a tick.
    int lateTicks;
};

// A program that has been capturing for almost 24.86 hours has its positions where the device
// is: the positions it starts with (0) are moved there before the first tick.
void CaptureAlreadyAt(uint32_t position)
{
    captureRing.queuedTo.store(position);
    captureRing.devicePosition.store(position);
    captureRing.analysedTo.store(position);
}

TEST(AppMeasure, KeepsMeasuringAndTickingAcrossThePositionAndClockWraps)
{
    // Both wrap about 2 s after the start.
    constexpr uint32_t kNearPositionWrap = 0u - 6u * 16384u;
    constexpr uint32_t kNearClockWrap = 0u - 2005u;
    const WrapCase cases[] = {
        {"sample positions", kNearPositionWrap, 0, 0},
        {"clock", 0, kNearClockWrap, 0},
        {"both", kNearPositionWrap, kNearClockWrap, 0},
        {"sample positions, crossed by late ticks", kNearPositionWrap, 0, 30},
    };
    for (const WrapCase& c : cases) {
        SCOPED_TRACE(c.name);
        apptest::App app;
        app.SetTone(440, 16000);
        ASSERT_TRUE(headless::SetStartPosition(c.position));
        headless::SetTime(c.clock);
        app.Start();
        CaptureAlreadyAt(c.position);
        for (int t = 0; t < c.lateTicks; ++t) {
            app.Advance(250);
        }
        for (int second = 0; second < 5; ++second) {
            SCOPED_TRACE(testing::Message() << "second " << second);
            const size_t before = headless::CallLog().size();
            app.Run(1000);
            EXPECT_EQ(toolState.result.frequencyHz.load(), 440.0);
            EXPECT_NEAR(toolState.result.levelDb.load(), -6.228, kLevelTolerance);
            // The last 100 ms slot before the clock's wrap is only 96 ms long.
            const int ticks = DisplayTicksSince(before);
            EXPECT_TRUE(ticks == 10 || (c.clock != 0 && ticks == 11)) << ticks;
            // Fresh results all the time: a column only gets dots from a new one.
            if (second > 0) {
                ExpectDotsInNewestColumns(app, 10);
            }
        }
        // Both have really wrapped.
        if (c.position != 0) {
            EXPECT_LT(captureRing.analysedTo.load(), 1u << 20);
            EXPECT_EQ(captureRing.analysedTo.load(), captureRing.devicePosition.load() - 4096);
        }
        if (c.clock != 0) {
            EXPECT_LT(tickState.lastDisplayTime.load(), 4000u);
        }
        EXPECT_EQ(app.CloseAndJoin(), 0);
    }
}

}  // namespace
