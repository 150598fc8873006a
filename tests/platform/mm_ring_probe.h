#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/multimedia.h"

// Drives the wave device the way the program's capture ring does: four 4096-sample buffers
// over one 16384-sample block, one buffer handed back per 10 ms tick once the position comes
// within two buffers of what was handed over, and every sample more than 4096 positions behind
// the device read back by position. Comparisons are modular so that a run may cross the 2^32
// wrap. With `ramp`, the sound is a ramp (each sample one more than the one before, modulo
// 2^16) and every sample read must continue it: a buffer filled out of order, partly, or at
// the wrong place shows up as a break. With `maxStep` instead (a steady tone of real sound),
// every sample read must lie within maxStep of the one before: a gap or a stale buffer shows up
// as a break.
struct RingProbe {
    static constexpr uint32_t kRing = 16384;
    static constexpr uint32_t kBuffer = 4096;

    HWAVEIN wave = nullptr;
    std::vector<int16_t> block = std::vector<int16_t>(kRing);
    WAVEHDR headers[4] = {};
    bool ramp = false;
    int32_t maxStep = 0;

    // The tick's own (timer thread), read by the test once the timer is gone.
    uint32_t queuedTo = 0;
    uint32_t devicePosition = 0;
    uint32_t analysedTo = 0;
    bool haveFirst = false;
    uint16_t firstValue = 0;
    uint32_t firstPosition = 0;
    int16_t previous = 0;

    std::atomic<uint32_t> ticks{0};
    std::atomic<uint32_t> refusals{0};
    std::atomic<uint32_t> analysed{0};
    std::atomic<uint32_t> breaks{0};
    std::atomic<uint32_t> firstBreakAt{0};
    std::atomic<uint32_t> backwards{0};
    // The largest magnitude read.
    std::atomic<int32_t> peak{0};
};

inline MMRESULT ProbeOpen(RingProbe& probe)
{
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};
    const MMRESULT result = waveInOpen(&probe.wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (probe.wave == nullptr) {
        return result;
    }
    for (uint32_t k = 0; k < 4; k++) {
        probe.headers[k].lpData =
            reinterpret_cast<LPSTR>(probe.block.data() + k * RingProbe::kBuffer);
        probe.headers[k].dwBufferLength = RingProbe::kBuffer * 2;
        waveInPrepareHeader(probe.wave, &probe.headers[k], sizeof(WAVEHDR));
    }
    waveInReset(probe.wave);
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    waveInGetPosition(probe.wave, &time, sizeof time);
    probe.queuedTo = probe.devicePosition = probe.analysedTo = time.u.sample;
    return waveInStart(probe.wave);
}

inline void ProbeTick(RingProbe& probe)
{
    probe.ticks++;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    waveInGetPosition(probe.wave, &time, sizeof time);
    if (static_cast<int32_t>(time.u.sample - probe.devicePosition) < 0) {
        probe.backwards++;
    }
    probe.devicePosition = time.u.sample;
    if (static_cast<int32_t>(probe.devicePosition + 2 * RingProbe::kBuffer - probe.queuedTo) > 0) {
        WAVEHDR& header = probe.headers[(probe.queuedTo / RingProbe::kBuffer) % 4];
        header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (waveInAddBuffer(probe.wave, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            probe.refusals++;
            return;
        }
        probe.queuedTo += RingProbe::kBuffer;
    }
    while (static_cast<int32_t>(probe.devicePosition - probe.analysedTo) > 4096) {
        const int16_t sample = probe.block[probe.analysedTo % RingProbe::kRing];
        const uint16_t value = static_cast<uint16_t>(sample);
        if (!probe.haveFirst) {
            probe.haveFirst = true;
            probe.firstValue = value;
            probe.firstPosition = probe.analysedTo;
        } else if ((probe.ramp &&
                    value != static_cast<uint16_t>(probe.firstValue +
                                                   (probe.analysedTo - probe.firstPosition))) ||
                   (probe.maxStep > 0 && std::abs(sample - probe.previous) > probe.maxStep)) {
            if (probe.breaks++ == 0) {
                probe.firstBreakAt = probe.analysedTo;
            }
        }
        probe.previous = sample;
        probe.peak = std::max<int32_t>(probe.peak, std::abs(sample));
        probe.analysed++;
        probe.analysedTo++;
    }
}

inline void CALLBACK ProbeTimer(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    ProbeTick(*reinterpret_cast<RingProbe*>(user));
}

inline void ProbeClose(RingProbe& probe)
{
    waveInStop(probe.wave);
    waveInReset(probe.wave);
    for (WAVEHDR& header : probe.headers) {
        waveInUnprepareHeader(probe.wave, &header, sizeof(WAVEHDR));
    }
    waveInClose(probe.wave);
    probe.wave = nullptr;
}

// The most that neighbouring samples of a `hertz`, `amplitude` sine at 48 kHz differ by, with
// room for rounding and the sound server's volume arithmetic.
inline int32_t ToneStep(uint32_t hertz, int32_t amplitude)
{
    const double step = 2.0 * amplitude * std::sin(3.14159265358979 * hertz / 48000.0);
    return static_cast<int32_t>(step * 1.05) + 4;
}

// A ramp of `count` samples starting at `from`.
inline std::vector<int16_t> Ramp(uint32_t count, uint32_t from = 0)
{
    std::vector<int16_t> samples(count);
    for (uint32_t i = 0; i < count; i++) {
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(from + i));
    }
    return samples;
}
