// Long simulated runs of the whole program: across the 2^32 wraps of the sample position and
// of the millisecond clock with a signal that keeps changing, with the input device gone for
// seconds, with buffers refused for a second, and with the timer running 200 ms late. Each
// run checks every tick against the device model and the detector (see stress_run.h) and
// checks that the tone is read as what it is.

#include <gtest/gtest.h>

#include "capture/capture_ring.h"
#include "capture/capture_tick.h"
#include "tests/stress/stress_run.h"

namespace {

using stress::Readings;
using stress::ReadingsBetween;
using stress::Segment;
using stress::SimulatedRun;

constexpr uint64_t kSecond = 48000;
// Whole periods per whole-sample span: 110 Hz reads 110.008 or 109.966.
constexpr double kTolerance = 0.001;
// From a change of tone to its first clean measurement: a measurement span and the periods
// that start it, and the old tone's last periods.
constexpr uint64_t kSettle = kSecond * 3 / 10;

// The segment's tone is read right from kSettle after its start to its end, and often. The
// alternating signal reads exactly 24000 Hz: 1200 cycles over 2400 samples.
void ExpectSegmentReadRight(const SimulatedRun& run, const Segment& s, uint64_t end)
{
    const bool alternating = s.frequency == stress::kAlternating;
    const Readings r = ReadingsBetween(run, s.from + kSettle, end, stress::ToneHz(s),
                                       alternating ? 1e-12 : kTolerance);
    const double seconds = static_cast<double>(end - s.from - kSettle) / kSecond;
    EXPECT_GE(r.count, static_cast<int>(9 * seconds))
        << stress::ToneHz(s) << " Hz from microphone sample " << s.from;
    EXPECT_EQ(r.off, 0) << stress::ToneHz(s) << " Hz from microphone sample " << s.from;
}

TEST(StressRun, OneMinuteAcrossThePositionAndClockWrapsWithAToneChangingEveryTwoSeconds)
{
    // The position wraps about 20 s in, the clock 40 s in.
    constexpr uint32_t kStart = 0u - 59u * 16384u;
    constexpr uint32_t kClock = 0u - 40000u;
    const std::vector<Segment> plan =
        stress::Cycle({110, 220, 440, 880, 1760, stress::kAlternating}, 2.0, 60.0);
    SimulatedRun run(plan, kStart, kClock);
    run.Start();
    for (size_t k = 0; k < plan.size(); ++k) {
        SCOPED_TRACE(testing::Message() << stress::ToneHz(plan[k]) << " Hz, segment " << k);
        const uint64_t end = k + 1 < plan.size() ? plan[k + 1].from : 60 * kSecond;
        while (run.MicIndex() < end) {
            run.Step();
        }
        // The newest column at the end of a tone shows that tone (it is analysed 85 ms behind,
        // and a result comes at least every 73 ms).
        if (k > 0) {
            EXPECT_EQ(run.LastRedRow(), stress::FrequencyRow(stress::ToneHz(plan[k])));
        }
    }
    // Both have wrapped; the slot cut short by the clock's wrap may add one column.
    EXPECT_LT(captureRing.analysedTo.load(), 1u << 21);
    EXPECT_LT(tickState.lastDisplayTime.load(), 30000u);
    EXPECT_GE(run.DisplayTicks(), 599);
    EXPECT_LE(run.DisplayTicks(), 601);
    ASSERT_EQ(run.CloseAndJoin(), 0);
    run.CheckAgainstDetector();
    for (size_t k = 1; k < plan.size(); ++k) {
        ExpectSegmentReadRight(
            run, plan[k], k + 1 < plan.size() ? plan[k + 1].from : run.MicIndex() - kSecond / 5);
    }
}

TEST(StressRun, InputDeviceGoneForFourSecondsThenBack)
{
    // 440 Hz until the device goes; by the time it is back the microphone hears 880 Hz.
    const std::vector<Segment> plan = {{0, 440, 16000}, {5 * kSecond, 880, 16000}};
    SimulatedRun run(plan);
    run.Start();
    run.Steps(300);
    ASSERT_EQ(run.FrequencyNow(), 440.0);
    const double lastLevel = run.LevelNow();
    const uint64_t analysedWhenGone = run.MicIndexOfAnalysis();

    run.SetDevicePresent(false);
    int columnsWithDots = 0;
    const int ticksBefore = run.DisplayTicks();
    for (int t = 0; t < 400; ++t) {
        const int displays = run.DisplayTicks();
        run.Step();
        columnsWithDots += run.DisplayTicks() > displays && run.LastRedRow() != -1 ? 1 : 0;
    }
    // Nothing new is read while the device is away; the last reading stays on the panel and
    // the chart keeps scrolling with empty columns (a result published just before may still
    // be plotted in the first).
    EXPECT_EQ(run.MicIndexOfAnalysis(), analysedWhenGone);
    EXPECT_EQ(run.FrequencyNow(), 440.0);
    EXPECT_EQ(run.LevelNow(), lastLevel);
    EXPECT_GE(run.DisplayTicks() - ticksBefore, 39);
    EXPECT_LE(columnsWithDots, 1);

    run.SetDevicePresent(true);
    const uint64_t back = run.MicIndex();
    run.Steps(50);
    EXPECT_EQ(run.FrequencyNow(), 880.0) << "half a second after the device came back";
    run.Steps(250);
    EXPECT_EQ(run.LastRedRow(), stress::FrequencyRow(880));
    ASSERT_EQ(run.CloseAndJoin(), 0);
    run.CheckAgainstDetector();
    ExpectSegmentReadRight(run, Segment{back, 880, 16000}, run.MicIndex() - kSecond / 5);
}

TEST(StressRun, BuffersRefusedForASecondThenAccepted)
{
    const std::vector<Segment> plan = {{0, 440, 16000}, {2 * kSecond, 880, 16000}};
    SimulatedRun run(plan);
    run.Start();
    run.Steps(200);
    ASSERT_EQ(run.FrequencyNow(), 440.0);
    run.SetRefusing(true);
    const uint64_t recordedBefore = run.Recorded();
    run.Steps(100);
    // The device records only into what it already held, then loses the sound.
    EXPECT_LE(run.Recorded() - recordedBefore, 12288u);
    run.SetRefusing(false);
    const uint64_t accepted = run.MicIndex();
    run.Steps(300);
    EXPECT_EQ(run.FrequencyNow(), 880.0);
    EXPECT_EQ(run.LastRedRow(), stress::FrequencyRow(880));
    ASSERT_EQ(run.CloseAndJoin(), 0);
    run.CheckAgainstDetector();
    ExpectSegmentReadRight(run, Segment{accepted, 880, 16000}, run.MicIndex() - kSecond / 5);
}

TEST(StressRun, TimerRunning200MsLateSkipsNoSampleAndAnalysesNoneTwice)
{
    // Across the position wrap too, which comes about 10 s in.
    constexpr uint32_t kStart = 0u - 30u * 16384u;
    const std::vector<Segment> plan =
        stress::Cycle({440, stress::kAlternating, 1760, 220}, 1.5, 30.0);
    SimulatedRun run(plan, kStart);
    run.Start();
    run.Steps(100);
    // Single late ticks now and then, at every phase of the ring, each when the device has
    // room for all of its sound, so that nothing is lost before it.
    int late = 0;
    for (int t = 0; t < 600; ++t) {
        const bool due = t % 23 == 22 || (late > 0 && late * 23 < t);
        if (due && run.Room() >= 200 * 48) {
            run.Step(200);
            ++late;
        } else {
            run.Step();
        }
    }
    EXPECT_GE(late, 20);
    // A stretch of late ticks, each longer than the buffers the device was left with.
    for (int t = 0; t < 20; ++t) {
        run.Step(200);
    }
    const uint64_t onTime = run.MicIndex();
    while (run.MicIndex() < 25 * kSecond) {
        run.Step();
    }
    EXPECT_LT(captureRing.analysedTo.load(), 1u << 21) << "the position has wrapped";
    ASSERT_EQ(run.CloseAndJoin(), 0);
    run.CheckAgainstDetector();
    // Back on time, every tone is read right.
    for (size_t k = 0; k + 1 < plan.size(); ++k) {
        if (plan[k].from >= onTime && plan[k + 1].from <= run.MicIndex() - kSecond / 5) {
            ExpectSegmentReadRight(run, plan[k], plan[k + 1].from);
        }
    }
    // Every measurement of the alternating signal recorded without a gap, late ticks or not,
    // counts every cycle.
    int whole = 0;
    for (size_t k = 0; k + 1 < plan.size(); ++k) {
        if (plan[k].frequency == stress::kAlternating &&
            run.RecordedWhole(plan[k].from, plan[k + 1].from)) {
            ++whole;
            ExpectSegmentReadRight(run, plan[k], plan[k + 1].from);
        }
    }
    EXPECT_GE(whole, 3);
}

} // namespace
