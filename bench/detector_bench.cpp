// ProcessSample over ten seconds of three kinds of input, in samples per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/detector.h"
#include "core/tool_state.h"

namespace {

constexpr size_t kSamples = 10 * 48000;
constexpr double kPi = 3.14159265358979323846;

int16_t Clip(double v)
{
    return static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

std::vector<int16_t> Tone()
{
    std::vector<int16_t> s(kSamples);
    for (size_t p = 0; p < kSamples; ++p) {
        s[p] = Clip(16000.0 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(p) / 48000.0));
    }
    return s;
}

std::vector<int16_t> WhiteNoise()
{
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::vector<int16_t> s(kSamples);
    for (int16_t& v : s) {
        v = static_cast<int16_t>(value(random));
    }
    return s;
}

// Syllables of about a fifth of a second: a glottal pulse train with a gliding pitch through
// two formant resonators, under a rise-and-fall envelope, separated by short pauses, hiss and
// the odd fricative burst.
std::vector<int16_t> SpeechLike()
{
    std::mt19937 random(7u);
    std::normal_distribution<double> hiss(0.0, 1.0);
    std::vector<int16_t> s(kSamples);

    struct Resonator {
        double a1 = 0, a2 = 0, y1 = 0, y2 = 0;
        void Tune(double hz, double bandwidth)
        {
            const double r = std::exp(-kPi * bandwidth / 48000.0);
            a1 = 2.0 * r * std::cos(2.0 * kPi * hz / 48000.0);
            a2 = -r * r;
        }
        double Step(double x)
        {
            const double y = x + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            return y;
        }
    } first, second;

    const double formants[][2] = {{730, 1090}, {270, 2290}, {530, 1840},
                                  {570, 840},  {300, 870},  {660, 1720}};
    size_t p = 0;
    int syllable = 0;
    double phase = 0.0;
    while (p < kSamples) {
        const size_t voiced = 7000 + static_cast<size_t>(syllable * 1237 % 5000);
        const size_t pause = 1500 + static_cast<size_t>(syllable * 711 % 4000);
        const double* f = formants[syllable % 6];
        first.Tune(f[0], 90.0);
        second.Tune(f[1], 110.0);
        const double f0 = 110.0 + 40.0 * std::sin(syllable * 0.9);
        for (size_t k = 0; k < voiced && p < kSamples; ++k, ++p) {
            const double t = static_cast<double>(k) / static_cast<double>(voiced);
            const double pitch = f0 * (1.0 + 0.15 * (0.5 - t));
            phase += pitch / 48000.0;
            double pulse = 0.0;
            if (phase >= 1.0) {
                phase -= 1.0;
                pulse = 1.0;
            }
            const double envelope = std::sin(kPi * t);
            const double voice = first.Step(pulse) * 0.6 + second.Step(pulse) * 0.3;
            s[p] = Clip(2500.0 * envelope * voice + 60.0 * hiss(random));
        }
        const bool fricative = syllable % 3 == 1;
        for (size_t k = 0; k < pause && p < kSamples; ++k, ++p) {
            s[p] = Clip((fricative ? 1800.0 : 40.0) * hiss(random) *
                        (fricative
                             ? std::sin(kPi * static_cast<double>(k) / static_cast<double>(pause))
                             : 1.0));
        }
        ++syllable;
    }
    return s;
}

void RunDetector(benchmark::State& state, const std::vector<int16_t>& samples)
{
    int64_t published = 0;
    for (auto _ : state) {
        ResetDetector();
        InitToolState();
        for (uint32_t i = 0; i < samples.size(); ++i) {
            ProcessSample(i, samples[i]);
        }
        published = toolState.result.newResult.load();
        benchmark::DoNotOptimize(detector);
    }
    benchmark::DoNotOptimize(published);
    state.counters["samples_per_second"] = benchmark::Counter(
        static_cast<double>(samples.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void CountPublications(benchmark::State& state, const std::vector<int16_t>& samples)
{
    // Once, outside the timing: how often this input publishes, for reading the figures.
    ResetDetector();
    InitToolState();
    int64_t count = 0;
    for (uint32_t i = 0; i < samples.size(); ++i) {
        ProcessSample(i, samples[i]);
        if (toolState.result.newResult.load() != 0) {
            toolState.result.newResult.store(0);
            ++count;
        }
    }
    state.counters["results_per_10s"] = static_cast<double>(count);
}

void BM_ProcessSampleTone(benchmark::State& state)
{
    static const std::vector<int16_t> samples = Tone();
    CountPublications(state, samples);
    RunDetector(state, samples);
}

void BM_ProcessSampleWhiteNoise(benchmark::State& state)
{
    static const std::vector<int16_t> samples = WhiteNoise();
    CountPublications(state, samples);
    RunDetector(state, samples);
}

void BM_ProcessSampleSpeechLike(benchmark::State& state)
{
    static const std::vector<int16_t> samples = SpeechLike();
    CountPublications(state, samples);
    RunDetector(state, samples);
}

} // namespace

BENCHMARK(BM_ProcessSampleTone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessSampleWhiteNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessSampleSpeechLike)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
