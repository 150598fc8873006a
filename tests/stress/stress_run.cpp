#include "tests/stress/stress_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "capture/capture_ring.h"
#include "core/detector.h"
#include "core/tool_state.h"
#include "platform/portable/hosts/headless/call_log.h"
#include "platform/portable/hosts/headless/headless_sound.h"
#include "ui/chart.h"

namespace stress {
namespace {

constexpr uint64_t kBufferSamples = 4096;
constexpr uint64_t kAnalysisLag = 4096;
// Enough mismatches to see the pattern, not so many that the log drowns.
constexpr int kReportLimit = 8;

int16_t SignalAt(const std::vector<Segment>& plan, uint64_t mic)
{
    auto after = std::upper_bound(plan.begin(), plan.end(), mic,
                                  [](uint64_t m, const Segment& s) { return m < s.from; });
    if (after == plan.begin()) {
        return 0;
    }
    const Segment& s = *(after - 1);
    if (s.frequency == kAlternating) {
        return static_cast<int16_t>((mic - s.from) % 2 == 0 ? s.amplitude : -s.amplitude);
    }
    const uint64_t p = (mic - s.from) % 48000;
    const double phase = 2.0 * std::numbers::pi * s.frequency * static_cast<double>(p) / 48000.0;
    return static_cast<int16_t>(std::lround(s.amplitude * std::sin(phase)));
}

int OnChart(double row)
{
    const int r = static_cast<int>(row);
    return r >= 0 && r < kChartSize ? r : -1;
}

} // namespace

int FrequencyRow(double hz)
{
    return hz > 0 ? OnChart(200.0 - std::log10(hz) * 39.86313713864835) : -1;
}

int LevelRow(double db)
{
    return OnChart(10.0 - db * 2.4);
}

SimulatedRun::SimulatedRun(std::vector<Segment> plan, uint32_t startPosition, uint32_t clock)
    : plan_(std::move(plan)), start_(startPosition), clock_(clock)
{
    std::sort(plan_.begin(), plan_.end(),
              [](const Segment& a, const Segment& b) { return a.from < b.from; });
    headless::SetSignal([plan = plan_](uint64_t mic) { return SignalAt(plan, mic); });
    EXPECT_TRUE(headless::SetStartPosition(startPosition));
    headless::SetTime(clock);
}

void SimulatedRun::Start()
{
    app_.Start();
    // A device whose count starts elsewhere than 0 stands for one that has been recording for
    // that long: the program's positions are put where the device is before the first tick.
    captureRing.queuedTo.store(start_);
    captureRing.devicePosition.store(start_);
    captureRing.analysedTo.store(start_);
    headless::ClearCallLog();
}

void SimulatedRun::Step(uint32_t ms)
{
    // What the device records of this step's sound: as much as the buffers handed over have
    // room for.
    const uint64_t offered = uint64_t{ms} * 48;
    const uint64_t room = present_ ? acceptedBuffers_ * kBufferSamples - recordedTotal_ : 0;
    const uint64_t taken = std::min(offered, room);
    if (taken > 0) {
        const bool continues =
            !stretches_.empty() &&
            stretches_.back().mic + (recordedTotal_ - stretches_.back().recorded) == micIndex_;
        if (!continues) {
            stretches_.push_back(Stretch{recordedTotal_, micIndex_});
        }
    }
    recordedTotal_ += taken;
    micIndex_ += offered;

    const uint32_t analysedBefore = captureRing.analysedTo.load() - start_;
    const uint32_t columnsBefore = toolState.view.chartColumn;
    app_.Advance(ms);
    const int handedOver = apptest::CountCalls(headless::CallLog(), "waveInAddBuffer");
    headless::ClearCallLog();
    const bool refusedTick = refusing_ && handedOver > 0;
    if (!refusing_) {
        acceptedBuffers_ += static_cast<uint64_t>(handedOver);
    }

    const uint32_t analysed = captureRing.analysedTo.load() - start_;
    const uint32_t device = captureRing.devicePosition.load() - start_;
    const uint32_t queued = captureRing.queuedTo.load() - start_;
    const uint32_t due =
        recordedTotal_ > kAnalysisLag ? static_cast<uint32_t>(recordedTotal_ - kAnalysisLag) : 0;
    const uint32_t expected = refusedTick ? analysedBefore : due;
    if ((analysed != expected || device != static_cast<uint32_t>(recordedTotal_) ||
         queued != static_cast<uint32_t>(acceptedBuffers_ * kBufferSamples) || handedOver > 1) &&
        ++invariantFailures_ <= kReportLimit) {
        ADD_FAILURE() << "after microphone sample " << micIndex_ << " (" << ms << " ms step"
                      << (refusedTick ? ", buffer refused" : "") << "): analysed " << analysed
                      << ", expected " << expected << "; device position " << device
                      << ", recorded " << recordedTotal_ << "; queued " << queued << ", accepted "
                      << acceptedBuffers_ * kBufferSamples << "; buffers handed over in the tick "
                      << handedOver;
    }

    // The last sample the tick fed the detector is the one recorded at that position.
    if (analysed != analysedBefore && detector.prevSample != Sample(MicOf(analysed - 1)) &&
        ++invariantFailures_ <= kReportLimit) {
        ADD_FAILURE() << "after microphone sample " << micIndex_ << ": the detector was last fed "
                      << detector.prevSample << ", recorded at position " << analysed - 1 << " is "
                      << Sample(MicOf(analysed - 1));
    }

    Observation o{
        analysed, toolState.result.frequencyHz.load(), toolState.result.levelDb.load(), false, -1,
        -1};
    const uint32_t columns = toolState.view.chartColumn - columnsBefore;
    if (columns > 1 && ++invariantFailures_ <= kReportLimit) {
        ADD_FAILURE() << columns << " chart columns in one tick";
    }
    if (columns > 0) {
        o.display = true;
        ++displayTicks_;
        const headless::WindowView view = app_.View();
        for (int row = 0; row < kChartSize; ++row) {
            const COLORREF pixel = view.Pixel(kChartSize - 1, kChartTop + row);
            int* found = pixel == apptest::kRed    ? &o.redRow
                         : pixel == apptest::kBlue ? &o.blueRow
                                                   : nullptr;
            if (found != nullptr) {
                // Two dots of one colour in a column: the column was not cleared.
                *found = *found == -1 ? row : -2;
            }
        }
        lastRed_ = o.redRow;
    }
    observations_.push_back(o);
}

void SimulatedRun::Steps(int count)
{
    for (int i = 0; i < count; ++i) {
        Step();
    }
}

void SimulatedRun::SetDevicePresent(bool present)
{
    present_ = present;
    headless::SetInputDevicePresent(present);
}

void SimulatedRun::SetRefusing(bool refusing)
{
    refusing_ = refusing;
    headless::RefuseBuffers(refusing ? 1000000u : 0u);
}

int SimulatedRun::CloseAndJoin()
{
    return app_.CloseAndJoin();
}

uint64_t SimulatedRun::MicOf(uint64_t recorded) const
{
    auto after = std::upper_bound(stretches_.begin(), stretches_.end(), recorded,
                                  [](uint64_t r, const Stretch& s) { return r < s.recorded; });
    if (after == stretches_.begin()) {
        ADD_FAILURE() << "recorded sample " << recorded << " precedes every recording";
        return 0;
    }
    const Stretch& s = *(after - 1);
    return s.mic + (recorded - s.recorded);
}

int16_t SimulatedRun::Sample(uint64_t mic) const
{
    return SignalAt(plan_, mic);
}

bool SimulatedRun::RecordedWhole(uint64_t from, uint64_t to) const
{
    for (size_t k = 0; k < stretches_.size(); ++k) {
        const uint64_t end =
            stretches_[k].mic +
            ((k + 1 < stretches_.size() ? stretches_[k + 1].recorded : recordedTotal_) -
             stretches_[k].recorded);
        if (stretches_[k].mic <= from && to <= end) {
            return true;
        }
    }
    return false;
}

uint64_t SimulatedRun::MicIndexOfAnalysis() const
{
    return MicOf(captureRing.analysedTo.load() - start_);
}

double SimulatedRun::FrequencyNow() const
{
    return toolState.result.frequencyHz.load();
}

double SimulatedRun::LevelNow() const
{
    return toolState.result.levelDb.load();
}

void SimulatedRun::CheckAgainstDetector()
{
    ResetDetector();
    InitToolState();
    toolState.result.frequencyHz.store(0.0);
    toolState.result.levelDb.store(0.0);
    toolState.result.newResult.store(0);
    publications_.clear();

    uint64_t fed = 0;
    bool publishedSinceDisplay = false;
    int mismatches = 0;
    for (size_t tick = 0; tick < observations_.size(); ++tick) {
        const Observation& o = observations_[tick];
        if (o.analysed < fed || o.analysed > recordedTotal_) {
            ADD_FAILURE() << "tick " << tick << ": analysed " << o.analysed << " after " << fed
                          << ", of " << recordedTotal_ << " recorded";
            return;
        }
        for (; fed < o.analysed; ++fed) {
            ProcessSample(start_ + static_cast<uint32_t>(fed), Sample(MicOf(fed)));
            if (toolState.result.newResult.load() != 0) {
                toolState.result.newResult.store(0);
                publications_.push_back(
                    Publication{MicOf(fed), toolState.result.frequencyHz.load()});
                publishedSinceDisplay = true;
            }
        }
        const double f = toolState.result.frequencyHz.load();
        const double level = toolState.result.levelDb.load();
        bool same = o.frequency == f && o.level == level;
        int red = -1;
        int blue = -1;
        if (o.display) {
            if (publishedSinceDisplay) {
                red = FrequencyRow(f);
                // The frequency dot is drawn second and covers a level dot on the same pixel.
                blue = LevelRow(level) == red ? -1 : LevelRow(level);
            }
            same = same && o.redRow == red && o.blueRow == blue;
            publishedSinceDisplay = false;
        }
        if (!same && ++mismatches <= kReportLimit) {
            ADD_FAILURE() << "tick " << tick << " (analysed " << o.analysed << "): program shows "
                          << o.frequency << " Hz " << o.level << " dB"
                          << (o.display ? ", column dots red/blue at " : "")
                          << (o.display ? std::to_string(o.redRow) + "/" + std::to_string(o.blueRow)
                                        : "")
                          << "; the detector fed the recorded samples gives " << f << " Hz "
                          << level << " dB"
                          << (o.display
                                  ? ", dots at " + std::to_string(red) + "/" + std::to_string(blue)
                                  : "");
        }
    }
    EXPECT_EQ(mismatches, 0) << "ticks whose result or chart column differ from the detector's";
}

std::vector<Segment> Cycle(const std::vector<int>& frequencies, double seconds, double total,
                           int amplitude)
{
    std::vector<Segment> plan;
    const auto step = static_cast<uint64_t>(seconds * 48000);
    const auto end = static_cast<uint64_t>(total * 48000);
    for (uint64_t from = 0, k = 0; from < end; from += step, ++k) {
        plan.push_back(Segment{from, frequencies[k % frequencies.size()], amplitude});
    }
    return plan;
}

Readings ReadingsBetween(const SimulatedRun& run, uint64_t from, uint64_t to, double hz,
                         double tolerance)
{
    Readings r{0, 0};
    for (const SimulatedRun::Publication& p : run.Publications()) {
        if (p.micIndex >= from && p.micIndex < to) {
            ++r.count;
            r.off += std::abs(p.frequency / hz - 1.0) > tolerance ? 1 : 0;
        }
    }
    return r;
}

} // namespace stress
