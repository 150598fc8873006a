// How long after a tone starts its first red dot is plotted, in device time: the whole program
// runs on the headless host, whose clock moves only when we step it, so every figure here is
// exact and repeatable. The microphone hears silence, then a sine starting at phase 0 at the
// onset; the onset is moved across two display intervals in steps of 97 samples so that every
// phase of the 10 ms tick and of the 100 ms display slot is met.
//
// Printed per frequency, at the default settings:
//   detector   samples from the onset to the detector's first publication (core alone)
//   result     ms from the onset to the tick that published the first result
//   dot        ms from the onset to the display tick that plotted the first red dot, and the
//              row it landed on
// Usage: onset_latency [ONSETS]   (default 100 onsets per frequency)

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "core/detector.h"
#include "core/tool_state.h"
#include "tests/support/app_harness.h"
#include "ui/chart.h"

namespace {

constexpr int kAmplitude = 16000;
constexpr uint64_t kFirstOnset = 48000;
constexpr uint64_t kOnsetStep = 97;
constexpr double kSamplesPerMs = 48.0;

int16_t Signal(uint64_t index, uint64_t onset, int frequency)
{
    if (index < onset) {
        return 0;
    }
    const uint64_t p = (index - onset) % 48000;
    const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(p) / 48000.0;
    return static_cast<int16_t>(std::lround(kAmplitude * std::sin(phase)));
}

int FrequencyRow(double hz)
{
    return static_cast<int>(200.0 - std::log10(hz) * 39.86313713864835);
}

// Samples from the onset to the first publication, feeding the detector directly.
long DetectorSamples(int frequency)
{
    ResetDetector();
    InitToolState();
    toolState.result.newResult.store(0);
    constexpr uint64_t kOnset = 4800;
    for (uint64_t i = 0; i < kOnset + 48000; ++i) {
        ProcessSample(static_cast<uint32_t>(i), Signal(i, kOnset, frequency));
        if (toolState.result.newResult.load() != 0) {
            return static_cast<long>(i - kOnset);
        }
    }
    return -1;
}

struct Onset {
    double resultMs = -1;
    double dotMs = -1;
    int dotRow = -1;
    int exitCode = -1;
};

Onset Measure(int frequency, uint64_t onset)
{
    Onset out;
    apptest::App app;
    headless::SetSignal([onset, frequency](uint64_t i) { return Signal(i, onset, frequency); });
    app.Start();
    const double onsetMs = static_cast<double>(onset) / kSamplesPerMs;
    uint32_t now = 0;
    // Two seconds past the onset is far more than any delay here.
    while (now < onsetMs + 2000 && out.dotRow < 0) {
        const uint32_t columns = toolState.view.chartColumn;
        app.Step();
        now += 10;
        if (out.resultMs < 0 && toolState.result.frequencyHz.load() != 0.0) {
            out.resultMs = now - onsetMs;
        }
        if (toolState.view.chartColumn == columns) {
            continue;
        }
        // The newest column is at the right-hand edge of the chart.
        const headless::WindowView view = app.View();
        for (int row = 0; row < kChartSize; ++row) {
            if (view.Pixel(kChartSize - 1, kChartTop + row) == apptest::kRed) {
                out.dotMs = now - onsetMs;
                out.dotRow = row;
                break;
            }
        }
    }
    out.exitCode = app.CloseAndJoin();
    return out;
}

struct Summary {
    double min;
    double median;
    double mean;
    double max;
};

Summary Summarise(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values) {
        sum += v;
    }
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return Summary{values.front(), median, sum / static_cast<double>(n), values.back()};
}

} // namespace

int main(int argc, char** argv)
{
    const int onsets = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    std::printf("onset latency at the defaults (display interval 100 ms), device time, %d onsets "
                "%llu samples apart\n",
                onsets, static_cast<unsigned long long>(kOnsetStep));
    std::printf("%8s %10s %9s | %-33s | %-33s | %s\n", "tone Hz", "detector", "",
                "result ms (min median mean max)", "dot ms (min median mean max)", "dot row");
    int failures = 0;
    for (int frequency : {50, 440, 4000}) {
        const long detector = DetectorSamples(frequency);
        std::vector<double> results;
        std::vector<double> dots;
        int wrongRows = 0;
        for (int k = 0; k < onsets; ++k) {
            const Onset o = Measure(frequency, kFirstOnset + kOnsetStep * static_cast<uint64_t>(k));
            if (o.exitCode != 0 || o.dotRow < 0 || o.resultMs < 0) {
                std::fprintf(stderr, "onset_latency: %d Hz onset %d: no dot (exit code %d)\n",
                             frequency, k, o.exitCode);
                ++failures;
                continue;
            }
            wrongRows += o.dotRow != FrequencyRow(frequency) ? 1 : 0;
            results.push_back(o.resultMs);
            dots.push_back(o.dotMs);
        }
        if (dots.empty()) {
            continue;
        }
        const Summary r = Summarise(results);
        const Summary d = Summarise(dots);
        std::printf(
            "%8d %6ld smp %6.1f ms | %7.1f %7.1f %7.1f %7.1f | %7.1f %7.1f %7.1f %7.1f | %d%s\n",
            frequency, detector, static_cast<double>(detector) / kSamplesPerMs, r.min, r.median,
            r.mean, r.max, d.min, d.median, d.mean, d.max, FrequencyRow(frequency),
            wrongRows == 0 ? "" : " (some dots elsewhere)");
        failures += wrongRows;
    }
    return failures == 0 ? 0 : 1;
}
