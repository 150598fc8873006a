// What the program relies on from wave input, through platform/multimedia.h alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/multimedia.h"
#include "tests/platform/mm_ring_probe.h"
#include "tests/platform/support_mm_env.h"

namespace {

const WAVEFORMATEX kFormat{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};

bool Done(const WAVEHDR& header)
{
    return (header.dwFlags & static_cast<DWORD>(WHDR_DONE)) != 0;
}

bool Queued(const WAVEHDR& header)
{
    return (header.dwFlags & static_cast<DWORD>(WHDR_INQUEUE)) != 0;
}

// Where the device hears a steady tone, `samples` (recorded in one go) must continue it without
// a break and reach its amplitude.
void ExpectTheTone(const std::vector<int16_t>& samples)
{
    uint32_t hertz = 0;
    int32_t amplitude = 0;
    if (!mm_env::SteadyTone(&hertz, &amplitude)) {
        return;
    }
    const int32_t step = ToneStep(hertz, amplitude);
    int32_t peak = 0;
    for (size_t i = 0; i < samples.size(); i++) {
        peak = std::max<int32_t>(peak, std::abs(samples[i]));
        if (i > 0) {
            ASSERT_LE(std::abs(samples[i] - samples[i - 1]), step) << "at sample " << i;
        }
    }
    EXPECT_NEAR(peak, amplitude, amplitude / 20);
}

// An open device with `count` prepared buffers of `samples` samples each, nothing queued.
struct Buffers {
    HWAVEIN wave = nullptr;
    std::vector<int16_t> block;
    std::vector<WAVEHDR> headers;

    Buffers(size_t count, DWORD samples) : block(count * samples), headers(count)
    {
        if (waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            return;
        }
        for (size_t k = 0; k < count; k++) {
            headers[k].lpData = reinterpret_cast<LPSTR>(block.data() + k * samples);
            headers[k].dwBufferLength = samples * 2;
            waveInPrepareHeader(wave, &headers[k], sizeof(WAVEHDR));
        }
    }
    ~Buffers()
    {
        if (wave != nullptr) {
            waveInReset(wave);
            for (WAVEHDR& header : headers) {
                waveInUnprepareHeader(wave, &header, sizeof(WAVEHDR));
            }
            waveInClose(wave);
        }
    }
    MMRESULT Add(size_t k)
    {
        return waveInAddBuffer(wave, &headers[k], sizeof(WAVEHDR));
    }
    DWORD Position()
    {
        MMTIME time{};
        time.wType = TIME_SAMPLES;
        EXPECT_EQ(waveInGetPosition(wave, &time, sizeof time), MMSYSERR_NOERROR);
        EXPECT_EQ(time.wType, static_cast<UINT>(TIME_SAMPLES));
        return time.u.sample;
    }
    // Lets time pass in ticks until header `k` is done.
    void PassUntilDone(size_t k)
    {
        while (!Done(headers[k])) {
            mm_env::Pass(10);
        }
    }
    int16_t Sample(size_t k, size_t i) const
    {
        return block[k * (block.size() / headers.size()) + i];
    }
};

class WaveIn : public ::testing::Test {
  protected:
    void SetUp() override
    {
        mm_env::Begin();
    }
    void TearDown() override
    {
        mm_env::End();
    }
};

TEST_F(WaveIn, OpensTheDefaultDeviceAndRefusesEveryCallOnceClosed)
{
    HWAVEIN wave = nullptr;
    ASSERT_EQ(waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_NE(wave, nullptr);
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    EXPECT_EQ(waveInGetPosition(wave, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.u.sample, 0u);
    ASSERT_EQ(waveInClose(wave), MMSYSERR_NOERROR);

    std::vector<int16_t> data(64);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = 128;
    const struct {
        const char* name;
        MMRESULT result;
    } calls[] = {
        {"waveInPrepareHeader", waveInPrepareHeader(wave, &header, sizeof header)},
        {"waveInAddBuffer", waveInAddBuffer(wave, &header, sizeof header)},
        {"waveInStart", waveInStart(wave)},
        {"waveInStop", waveInStop(wave)},
        {"waveInReset", waveInReset(wave)},
        {"waveInGetPosition", waveInGetPosition(wave, &time, sizeof time)},
        {"waveInClose", waveInClose(wave)},
    };
    for (const auto& call : calls) {
        EXPECT_NE(call.result, MMSYSERR_NOERROR) << call.name;
#ifndef _WIN32
        // Which refusal comes first is the system's business (Wine finds the header unprepared
        // before it looks at the handle); this layer always blames the handle.
        EXPECT_EQ(call.result, MMSYSERR_INVALHANDLE) << call.name;
#endif
    }
#ifndef _WIN32
    // Wine unprepares a header that was never prepared without looking at the handle.
    EXPECT_EQ(waveInUnprepareHeader(wave, &header, sizeof header), MMSYSERR_INVALHANDLE);
#endif
    EXPECT_EQ(header.dwFlags, 0u);
}

TEST_F(WaveIn, FillsBuffersInTheOrderGivenEachCompletely)
{
    Buffers b(3, 4096);
    ASSERT_NE(b.wave, nullptr);
    for (size_t k = 0; k < 3; k++) {
        ASSERT_EQ(b.Add(k), MMSYSERR_NOERROR);
        EXPECT_TRUE(Queued(b.headers[k]));
        EXPECT_FALSE(Done(b.headers[k]));
    }
    const std::vector<int16_t> ramp = Ramp(3 * 4096 + 2000);
    mm_env::Play(ramp);
    ASSERT_EQ(waveInStart(b.wave), MMSYSERR_NOERROR);

    // Whenever we look, the done buffers are a leading run of the queue.
    while (!Done(b.headers[2])) {
        mm_env::Pass(10);
        const DWORD position = b.Position();
        for (size_t k = 0; k < 3; k++) {
            EXPECT_EQ(Done(b.headers[k]), position >= (k + 1) * 4096) << k << " at " << position;
        }
    }
    for (size_t k = 0; k < 3; k++) {
        EXPECT_FALSE(Queued(b.headers[k])) << k;
        EXPECT_EQ(b.headers[k].dwBytesRecorded, 8192u) << k;
    }
    if (mm_env::ExactSignal()) {
        for (size_t k = 0; k < 3; k++) {
            for (size_t i = 0; i < 4096; i++) {
                ASSERT_EQ(b.Sample(k, i), ramp[k * 4096 + i]) << "buffer " << k << " sample " << i;
            }
        }
    }
    // The three buffers hold one unbroken stretch of sound.
    ExpectTheTone(b.block);
}

TEST_F(WaveIn, PositionCountsOnlySamplesRecordedIntoBuffers)
{
    Buffers b(1, 4096);
    ASSERT_NE(b.wave, nullptr);
    EXPECT_EQ(b.Position(), 0u);
    const std::vector<int16_t> ramp = Ramp(4800 + 4096);
    mm_env::Play(ramp);
    ASSERT_EQ(waveInStart(b.wave), MMSYSERR_NOERROR);

    // Nothing queued: the sound is dropped and the position stays.
    mm_env::Pass(100);
    EXPECT_EQ(b.Position(), 0u);

    ASSERT_EQ(b.Add(0), MMSYSERR_NOERROR);
    b.PassUntilDone(0);
    EXPECT_EQ(b.Position(), 4096u);
    if (mm_env::ExactSignal()) {
        // The first 100 ms were lost, not held back for the buffer.
        EXPECT_EQ(b.Sample(0, 0), ramp[4800]);
        EXPECT_EQ(b.Sample(0, 4095), ramp[4800 + 4095]);
    }
    ExpectTheTone(b.block);

    // Every buffer full: the position stops where the last one ends.
    mm_env::Pass(100);
    EXPECT_EQ(b.Position(), 4096u);
}

TEST_F(WaveIn, ResetReturnsEveryQueuedBufferDoneAndZeroesThePosition)
{
    Buffers b(2, 4096);
    ASSERT_NE(b.wave, nullptr);
    ASSERT_EQ(b.Add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(b.Add(1), MMSYSERR_NOERROR);
    mm_env::Play(Ramp(48000));
    ASSERT_EQ(waveInStart(b.wave), MMSYSERR_NOERROR);
    mm_env::Pass(50);
    const DWORD before = b.Position();

    ASSERT_EQ(waveInReset(b.wave), MMSYSERR_NOERROR);
    for (size_t k = 0; k < 2; k++) {
        EXPECT_TRUE(Done(b.headers[k])) << k;
        EXPECT_FALSE(Queued(b.headers[k])) << k;
    }
    EXPECT_EQ(b.headers[0].dwBytesRecorded, before * 2);
    EXPECT_EQ(b.headers[1].dwBytesRecorded, 0u);
    if (mm_env::ExactTiming()) {
        EXPECT_EQ(before, 2400u);
    }
    EXPECT_EQ(b.Position(), 0u);

    // Reset stops recording: with a buffer queued again nothing arrives until the next start.
    ASSERT_EQ(b.Add(0), MMSYSERR_NOERROR);
    mm_env::Pass(50);
    EXPECT_EQ(b.Position(), 0u);
    ASSERT_EQ(waveInStart(b.wave), MMSYSERR_NOERROR);
    b.PassUntilDone(0);
    EXPECT_EQ(b.Position(), 4096u);
}

TEST_F(WaveIn, StopReturnsThePartlyFilledBufferAndKeepsTheEmptyOnesQueued)
{
    Buffers b(2, 4096);
    ASSERT_NE(b.wave, nullptr);
    ASSERT_EQ(b.Add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(b.Add(1), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(b.wave), MMSYSERR_NOERROR);
    while (b.Position() == 0) {
        mm_env::Pass(10);
    }
    ASSERT_EQ(waveInStop(b.wave), MMSYSERR_NOERROR);
    const DWORD stoppedAt = b.Position();
    ASSERT_LT(stoppedAt, 4096u);
    EXPECT_TRUE(Done(b.headers[0]));
    EXPECT_EQ(b.headers[0].dwBytesRecorded, stoppedAt * 2);
    EXPECT_TRUE(Queued(b.headers[1]));
    EXPECT_FALSE(Done(b.headers[1]));
    mm_env::Pass(50);
    EXPECT_EQ(b.Position(), stoppedAt);
}

TEST_F(WaveIn, RefusesHeadersItCannotTake)
{
    Buffers b(2, 4096);
    ASSERT_NE(b.wave, nullptr);
    std::vector<int16_t> data(4096);
    WAVEHDR unprepared{};
    unprepared.lpData = reinterpret_cast<LPSTR>(data.data());
    unprepared.dwBufferLength = 8192;

    ASSERT_EQ(b.Add(0), MMSYSERR_NOERROR);
    const struct {
        const char* what;
        MMRESULT result;
        MMRESULT expected;
    } cases[] = {
        {"add unprepared", waveInAddBuffer(b.wave, &unprepared, sizeof unprepared),
         WAVERR_UNPREPARED},
        {"add no header", waveInAddBuffer(b.wave, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM},
        {"add short size", waveInAddBuffer(b.wave, &b.headers[1], sizeof(WAVEHDR) - 1),
         MMSYSERR_INVALPARAM},
        {"unprepare queued", waveInUnprepareHeader(b.wave, &b.headers[0], sizeof(WAVEHDR)),
         WAVERR_STILLPLAYING},
#ifndef _WIN32
        // Windows documents this refusal, but Wine closes the device anyway; the program always
        // resets the device, which returns every buffer, before it closes it.
        {"close with a queued buffer", waveInClose(b.wave), WAVERR_STILLPLAYING},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.what;
    }
    EXPECT_EQ(unprepared.dwFlags, 0u);
    EXPECT_FALSE(Queued(b.headers[1]));

    // None of that disturbed the device: the queued buffer still fills.
    ASSERT_EQ(waveInStart(b.wave), MMSYSERR_NOERROR);
    b.PassUntilDone(0);
    EXPECT_EQ(b.Position(), 4096u);
}

// The program's own use: four buffers handed back one per tick, samples read by position.
TEST_F(WaveIn, RingOfFourBuffersKeepsEverySampleAtItsPosition)
{
    RingProbe probe;
    probe.ramp = mm_env::ExactSignal();
    uint32_t hertz = 0;
    int32_t amplitude = 0;
    const bool tone = mm_env::SteadyTone(&hertz, &amplitude);
    if (tone) {
        probe.maxStep = ToneStep(hertz, amplitude);
    }
    mm_env::Play(Ramp(48000 * 3));
    ASSERT_EQ(ProbeOpen(probe), MMSYSERR_NOERROR);
    const UINT timer =
        timeSetEvent(10, 10, ProbeTimer, reinterpret_cast<DWORD_PTR>(&probe), TIME_PERIODIC);
    ASSERT_NE(timer, 0u);
    mm_env::Pass(2000);
    // A real device may be slow to start (Wine's takes one to two seconds after a reopen): let
    // the ring carry two seconds of sound all the same.
    while (!mm_env::ExactTiming() && probe.analysed.load() < 2 * 48000) {
        mm_env::Pass(10);
    }
    ASSERT_EQ(timeKillEvent(timer), MMSYSERR_NOERROR);
    mm_env::Pass(20);
    ProbeClose(probe);

    EXPECT_EQ(probe.refusals.load(), 0u);
    EXPECT_EQ(probe.backwards.load(), 0u);
    EXPECT_EQ(probe.breaks.load(), 0u) << "first break at " << probe.firstBreakAt.load();
    if (tone) {
        EXPECT_NEAR(probe.peak.load(), amplitude, amplitude / 20);
    }
    if (mm_env::ExactTiming()) {
        EXPECT_EQ(probe.ticks.load(), 200u);
        // The first 10 ms of sound come before the first tick has handed over a buffer and
        // are lost; the other 199 ticks' worth is recorded.
        EXPECT_EQ(probe.devicePosition, 199u * 480);
        EXPECT_EQ(probe.analysed.load(), 199u * 480 - 4096);
    }
}

} // namespace
