#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "capture/capture_rules.h"

namespace {

constexpr uint32_t kWrap = 0xFFFFFFFFu;

struct DueCase {
    uint32_t behind;
    uint32_t ahead;
    bool analysisDue;
    bool topUpDue;
};

// `behind` is analysedTo (for AnalysisDue) and queuedTo (for TopUpDue); `ahead` the device.
TEST(CaptureRules, DueTestsHoldAcrossThePositionWrap)
{
    const DueCase cases[] = {
        // Exactly 4096 behind is not yet safe; one more is.
        {0, 4096, false, true},
        {0, 4097, true, true},
        // Nothing recorded past queuedTo - 8192: no top-up yet.
        {8192, 0, false, false},
        {8192, 1, false, true},
        // Close below the wrap, where adding 4096 to analysedTo wraps past the device.
        {kWrap - 3999, kWrap - 9, false, true},
        {kWrap - 99, 4000, true, true},
        {kWrap - 99, 3995, false, true},
        // queuedTo just below the wrap with the device within two buffers: the device must be
        // topped up although devicePosition + 8192 has wrapped to a small number.
        {kWrap - 4095, kWrap - 99, false, true},
        {4096, kWrap - 4095, false, false},
        // A device behind analysedTo never makes anything due.
        {10000, 9000, false, true},
    };
    for (const DueCase& c : cases) {
        EXPECT_EQ(AnalysisDue(c.behind, c.ahead), c.analysisDue) << c.behind << " " << c.ahead;
        EXPECT_EQ(TopUpDue(c.behind, c.ahead), c.topUpDue) << c.behind << " " << c.ahead;
    }
}

TEST(CaptureRules, RecordedPositionNeverPassesQueuedTo)
{
    uint32_t lost = 0;
    EXPECT_EQ(RecordedPosition(5000, 8192, lost), 5000u);
    EXPECT_EQ(lost, 0u);
    // All queued buffers full is not an overrun.
    EXPECT_EQ(RecordedPosition(8192, 8192, lost), 8192u);
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(RecordedPosition(9000, 8192, lost), 8192u);
    EXPECT_EQ(lost, 808u);
    // Later reports are reduced by what was lost, also across the wrap.
    EXPECT_EQ(RecordedPosition(9500, 12288, lost), 8692u);
    lost = 100;
    EXPECT_EQ(RecordedPosition(50, 4096, lost), kWrap - 49);
    EXPECT_EQ(lost, 100u);
    EXPECT_EQ(RecordedPosition(4196, 4096, lost), 4096u);
    EXPECT_EQ(lost, 100u);
    EXPECT_EQ(RecordedPosition(4200, 4096, lost), 4096u);
    EXPECT_EQ(lost, 104u);
}

// A device fed by the rules as the capture tick feeds it: every tick the device records
// `perTick` samples into the buffers it has, in the order they were handed over, and the tick
// reads the position, hands over at most one buffer, and analyses what is due.
struct DeviceModel {
    bool countsWithoutBuffers;
    uint32_t reported;
    std::deque<uint32_t> queued; // the first position of each buffer the device holds
    uint32_t fill = 0;           // samples written into the front buffer
    uint32_t stream = 0;         // samples that have arrived at the input so far
};

struct RingRun {
    std::vector<int64_t> slots = std::vector<int64_t>(kRingSamples, -1);
    uint32_t queuedTo;
    uint32_t analysedTo;
    uint32_t lost = 0;
    uint32_t devicePosition;
    // Analysed samples that were not what the device recorded at their position.
    int wrongSamples = 0;
    uint32_t analysed = 0;
    std::vector<int64_t> recordedAt = std::vector<int64_t>(kRingSamples, -1);
};

void DeviceRecords(DeviceModel& device, RingRun& run, uint32_t samples)
{
    for (uint32_t i = 0; i < samples; ++i) {
        const uint32_t arriving = device.stream++;
        if (device.queued.empty()) {
            if (device.countsWithoutBuffers) {
                ++device.reported;
            }
            continue;
        }
        const uint32_t position = device.queued.front() + device.fill;
        run.slots[position % kRingSamples] = arriving;
        run.recordedAt[position % kRingSamples] = position;
        ++device.reported;
        if (++device.fill == kBufferSamples) {
            device.queued.pop_front();
            device.fill = 0;
        }
    }
}

void Tick(DeviceModel& device, RingRun& run, bool refuse, std::vector<uint32_t>& analysedStream)
{
    run.devicePosition = RecordedPosition(device.reported, run.queuedTo, run.lost);
    if (TopUpDue(run.queuedTo, run.devicePosition)) {
        if (refuse) {
            return;
        }
        device.queued.push_back(run.queuedTo);
        run.queuedTo += kBufferSamples;
    }
    while (AnalysisDue(run.analysedTo, run.devicePosition)) {
        const uint32_t slot = run.analysedTo % kRingSamples;
        if (run.recordedAt[slot] != static_cast<int64_t>(run.analysedTo)) {
            ++run.wrongSamples;
        } else {
            analysedStream.push_back(static_cast<uint32_t>(run.slots[slot]));
        }
        ++run.analysedTo;
        ++run.analysed;
    }
}

struct RunCase {
    bool countsWithoutBuffers;
    uint32_t start;
};

void PrintTo(const RunCase& c, std::ostream* out)
{
    *out << (c.countsWithoutBuffers ? "counting" : "stopping") << " device from " << c.start;
}

class DeviceRun : public testing::TestWithParam<RunCase> {};

// 30 s of capture from `start` with the device refusing buffers for 0.5 s in the middle, far
// longer than the queued buffers last. Every analysed sample must be the one recorded at its
// position, analysis keeps going after the refusals, and what is analysed is the recorded
// stream in order with one gap where the device had nowhere to record.
TEST_P(DeviceRun, AnalysesOnlyRecordedSamplesAndResumesAfterRefusals)
{
    const RunCase c = GetParam();
    DeviceModel device{c.countsWithoutBuffers, c.start, {}};
    RingRun run;
    run.queuedTo = c.start;
    run.analysedTo = c.start;
    std::vector<uint32_t> stream;
    for (int tick = 0; tick < 3000; ++tick) {
        const bool refuse = tick >= 1500 && tick < 1550;
        Tick(device, run, refuse, stream);
        DeviceRecords(device, run, 480);
        ASSERT_GE(PositionAhead(run.devicePosition, run.queuedTo), 0) << "tick " << tick;
    }
    EXPECT_EQ(run.wrongSamples, 0);
    // The positions crossed 2^32 in this run and analysis stayed about 85 ms behind.
    EXPECT_GT(run.analysed, 3000u * 480 - 60000);
    // The stream analysed is contiguous except where the device dropped samples.
    int gaps = 0;
    for (size_t i = 1; i < stream.size(); ++i) {
        if (stream[i] != stream[i - 1] + 1) {
            ++gaps;
            EXPECT_GT(stream[i], stream[i - 1]);
        }
    }
    EXPECT_EQ(gaps, 1);
}

INSTANTIATE_TEST_SUITE_P(Devices, DeviceRun,
                         testing::Values(RunCase{false, kWrap - 7 * 48000},
                                         RunCase{true, kWrap - 7 * 48000}, RunCase{true, 0}),
                         [](const testing::TestParamInfo<RunCase>& info) {
                             return std::string(info.param.countsWithoutBuffers
                                                    ? "CountingDevice"
                                                    : "StoppingDevice") +
                                    (info.param.start == 0 ? "FromZero" : "AcrossTheWrap");
                         });

TEST(CaptureRules, DisplayDueOncePerSlotAcrossTheClockWrap)
{
    // A 10 ms tick from 1 s before the clock wraps to 1 s after it, 100 ms interval.
    uint32_t last = kWrap - 1200;
    std::vector<uint32_t> fired;
    for (uint32_t now = kWrap - 993; now != 1016; now += 10) {
        if (DisplayDue(now, last, 100)) {
            fired.push_back(now);
            last = now;
        }
    }
    // Slots 42949663 to 42949672 before the wrap (the last one only 96 ms long), 0 to 10 after.
    ASSERT_EQ(fired.size(), 21u);
    EXPECT_EQ(fired.front(), kWrap - 993);
    EXPECT_EQ(fired[9], kWrap - 93);
    EXPECT_EQ(fired[10], 6u);
    EXPECT_EQ(fired.back(), 1006u);
    for (size_t i = 1; i < fired.size(); ++i) {
        EXPECT_LE(fired[i] - fired[i - 1], 100u) << i;
    }
}

TEST(CaptureRules, DisplayDueAtStartAndOnIntervalChanges)
{
    // lastDisplayTime starts at 0: the first display tick comes once the clock reads an interval.
    EXPECT_FALSE(DisplayDue(99, 0, 100));
    EXPECT_TRUE(DisplayDue(100, 0, 100));
    // A new interval applies to both sides of the comparison.
    EXPECT_FALSE(DisplayDue(1060, 1050, 1000));
    EXPECT_TRUE(DisplayDue(1060, 1050, 7));
    EXPECT_TRUE(DisplayDue(20, 10, 10));
}

} // namespace
