#include "core/detector.h"

#include <cmath>

#include "core/tool_state.h"

DetectorState detector;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void StartOver(DetectorState& d, uint32_t i)
{
    d.measureStartAt = 0;
    d.lastExtremeAt = i;
    d.cycleCount = 0;
    d.peakMax = 0;
    d.troughMin = 0;
    d.polarity = 1;
}

void Publish(DetectorState& d, uint32_t i)
{
    const uint32_t n = d.cycleCount - 1;
    const uint32_t span = i - d.measureStartAt;
    d.lastPeriods = n;
    d.lastSpan = span;
    MeasureResult& r = toolState.result;
    r.frequencyHz.store(static_cast<double>(n) * kSampleRate / static_cast<double>(span), kRelaxed);
    const int32_t swing = d.peakMax - d.troughMin;
    r.levelDb.store(20.0 * std::log10(static_cast<double>(swing) * (1.0 / 65535.0)), kRelaxed);
    r.newResult.store(1, kRelaxed);
}

}  // namespace

void ResetDetector()
{
    detector = DetectorState{};
    detector.polarity = 1;
}

void ProcessSample(uint32_t i, int32_t cur)
{
    DetectorState& d = detector;
    const MeasureSettings& s = toolState.settings;
    const int32_t p = d.prevSample;

    if (p >= 0) {
        // Zero counts as the positive half. A candidate is a sample after which the signal
        // does not rise.
        if (cur <= p) {
            const int32_t plus = s.plusTrigger.load(kRelaxed);
            if (p > d.peakMax) {
                // A jump beyond what the trigger allows restarts the count.
                if (plus > 0 && p > (d.peakMax * 65536) / plus) {
                    d.cycleCount = 0;
                }
                d.peakMax = p;
            }
            if (p >= (plus * d.peakMax) / 65536) {
                if (d.polarity == -1) {
                    if (d.cycleCount >= 1) {
                        d.peakMax = p;
                        if (d.cycleCount == 1) {
                            d.measureStartAt = i;
                        }
                    }
                    // Widened so that the largest minCount cannot wrap the bound to 0.
                    const uint64_t needed = uint64_t{s.minCount.load(kRelaxed)} + 1;
                    if (d.cycleCount < needed || (i - d.measureStartAt) < s.minDuration.load(kRelaxed)) {
                        ++d.cycleCount;
                    } else {
                        Publish(d, i);
                        d.measureStartAt = 0;
                        d.peakMax = 0;
                        d.troughMin = 0;
                        d.cycleCount = 0;
                    }
                }
                d.polarity = 1;
                d.lastExtremeAt = i;
            }
        }
    } else if (cur >= p) {
        // Negative half: a candidate is a sample after which the signal does not fall.
        const int32_t minus = s.minusTrigger.load(kRelaxed);
        if (p < d.troughMin) {
            if (minus > 0 && p < (d.troughMin * 65536) / minus) {
                d.cycleCount = 0;
            }
            d.troughMin = p;
        }
        if (p <= (minus * d.troughMin) / 65536) {
            // Troughs never count cycles.
            if (d.polarity == 1 && d.cycleCount > 1) {
                d.troughMin = p;
            }
            d.polarity = -1;
            d.lastExtremeAt = i;
        }
    }

    if (i - d.lastExtremeAt > s.validDuration.load(kRelaxed)) {
        StartOver(d, i);
    }
    d.prevSample = cur;
}
