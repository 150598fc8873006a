#pragma once

#include <cstdint>

// Working state of the peak-alternation detector; only the timer thread touches it once
// capture runs (tovalisk-scan drives it from its one thread).
struct DetectorState {
    int32_t prevSample;
    int32_t polarity;
    int32_t peakMax;
    int32_t troughMin;
    uint32_t cycleCount;
    uint32_t lastExtremeAt;
    uint32_t measureStartAt;
    // Whole periods and span (in samples) of the last publication, for tovalisk-scan.
    uint32_t lastPeriods;
    uint32_t lastSpan;
};

extern DetectorState detector;

inline constexpr double kSampleRate = 48000.0;

void ResetDetector();

// Feeds the sample at `position`; positions come in order, each exactly once. Publishes into
// toolState.result at the end of a measurement.
void ProcessSample(uint32_t position, int32_t sample);
