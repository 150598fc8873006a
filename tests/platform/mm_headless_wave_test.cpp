// Wave input under conditions only the headless host can stage: formats we refuse, no device,
// refused buffers, a device that goes away and comes back, a position near the 2^32 wrap.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/multimedia.h"
#include "platform/portable/hosts/headless/call_log.h"
#include "platform/portable/hosts/headless/headless_sound.h"
#include "tests/platform/mm_ring_probe.h"

namespace {

const WAVEFORMATEX kFormat{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};

class HeadlessWaveIn : public ::testing::Test {
  protected:
    void SetUp() override
    {
        headless::ResetSound();
        headless::ClearCallLog();
    }
    void TearDown() override
    {
        headless::ResetSound();
    }
};

DWORD Position(HWAVEIN wave)
{
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    EXPECT_EQ(waveInGetPosition(wave, &time, sizeof time), MMSYSERR_NOERROR);
    return time.u.sample;
}

TEST_F(HeadlessWaveIn, OpensOnlyFortyEightKilohertzMonoSixteenBitPcm)
{
    struct Case {
        const char* what;
        WAVEFORMATEX format;
    };
    const Case refused[] = {
        {"44.1 kHz", {WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0}},
        {"stereo", {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0}},
        {"8-bit", {WAVE_FORMAT_PCM, 1, 48000, 48000, 1, 8, 0}},
        {"float", {3, 1, 48000, 192000, 4, 32, 0}},
        {"wrong block align", {WAVE_FORMAT_PCM, 1, 48000, 96000, 4, 16, 0}},
        {"wrong byte rate", {WAVE_FORMAT_PCM, 1, 48000, 48000, 2, 16, 0}},
    };
    for (const Case& c : refused) {
        // Something not null, to see that a refused open clears it.
        HWAVEIN wave = reinterpret_cast<HWAVEIN>(uintptr_t{0x40});
        EXPECT_EQ(waveInOpen(&wave, WAVE_MAPPER, &c.format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT)
            << c.what;
        EXPECT_EQ(wave, nullptr) << c.what;
        EXPECT_FALSE(headless::SoundIsOpen()) << c.what;
    }
    // cbSize means nothing for PCM.
    WAVEFORMATEX withExtra = kFormat;
    withExtra.cbSize = 22;
    HWAVEIN wave = nullptr;
    ASSERT_EQ(waveInOpen(&wave, 0, &withExtra, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_NE(wave, nullptr);
    EXPECT_EQ(waveInClose(wave), MMSYSERR_NOERROR);
}

TEST_F(HeadlessWaveIn, OpenFailsWithoutAHandle)
{
    HWAVEIN wave = nullptr;
    const struct {
        const char* what;
        bool present;
        UINT device;
        MMRESULT expected;
    } cases[] = {
        {"no input device", false, WAVE_MAPPER, MMSYSERR_NODRIVER},
        {"no such device", true, 3, MMSYSERR_BADDEVICEID},
    };
    for (const auto& c : cases) {
        headless::SetInputDevicePresent(c.present);
        wave = reinterpret_cast<HWAVEIN>(uintptr_t{0x40});
        EXPECT_EQ(waveInOpen(&wave, c.device, &kFormat, 0, 0, CALLBACK_NULL), c.expected) << c.what;
        EXPECT_EQ(wave, nullptr) << c.what;
    }
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&wave, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);

    // One device at a time.
    headless::SetInputDevicePresent(true);
    HWAVEIN first = nullptr;
    ASSERT_EQ(waveInOpen(&first, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(wave, nullptr);
    EXPECT_EQ(waveInClose(first), MMSYSERR_NOERROR);
    // A handle from before stays dead after the next open.
    HWAVEIN second = nullptr;
    ASSERT_EQ(waveInOpen(&second, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInStart(first), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(second), MMSYSERR_NOERROR);
}

TEST_F(HeadlessWaveIn, RefusedBufferIsNotQueuedAndTheNextOfferIsTaken)
{
    HWAVEIN wave = nullptr;
    ASSERT_EQ(waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> data(4096, 7);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = 8192;
    ASSERT_EQ(waveInPrepareHeader(wave, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(wave), MMSYSERR_NOERROR);
    headless::SetSignal([](uint64_t) { return int16_t{1000}; });

    headless::RefuseBuffers(2);
    for (int i = 0; i < 2; i++) {
        EXPECT_NE(waveInAddBuffer(wave, &header, sizeof header), MMSYSERR_NOERROR) << i;
        EXPECT_EQ(header.dwFlags & static_cast<DWORD>(WHDR_INQUEUE), 0u) << i;
        headless::Advance(10);
        EXPECT_EQ(Position(wave), 0u) << i;
        EXPECT_EQ(data[0], 7) << i;
    }
    ASSERT_EQ(waveInAddBuffer(wave, &header, sizeof header), MMSYSERR_NOERROR);
    headless::Advance(10);
    EXPECT_EQ(Position(wave), 480u);
    EXPECT_EQ(data[0], 1000);
    EXPECT_EQ(waveInReset(wave), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInUnprepareHeader(wave, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(wave), MMSYSERR_NOERROR);
}

// A microphone unplugged and plugged back: the handle stays usable, nothing is recorded in
// between, and recording goes on into the same queued buffers.
TEST_F(HeadlessWaveIn, DeviceThatGoesAwayAndComesBackResumesIntoTheQueuedBuffers)
{
    HWAVEIN wave = nullptr;
    ASSERT_EQ(waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> data(2 * 4096);
    WAVEHDR headers[2] = {};
    for (int k = 0; k < 2; k++) {
        headers[k].lpData = reinterpret_cast<LPSTR>(data.data() + k * 4096);
        headers[k].dwBufferLength = 8192;
        ASSERT_EQ(waveInPrepareHeader(wave, &headers[k], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInAddBuffer(wave, &headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(wave), MMSYSERR_NOERROR);
    headless::SupplySamples(Ramp(48000));

    headless::Advance(20);
    EXPECT_EQ(Position(wave), 960u);

    headless::SetInputDevicePresent(false);
    headless::Advance(50);
    EXPECT_EQ(Position(wave), 960u);
    EXPECT_EQ(waveInAddBuffer(wave, &headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    headless::Advance(50);
    EXPECT_EQ(Position(wave), 960u);

    headless::SetInputDevicePresent(true);
    headless::Advance(60);
    EXPECT_EQ(Position(wave), 960u + 2880);
    // Recording continues right where it stopped, with the sound heard after the return;
    // the 100 ms of sound while the device was away are gone.
    EXPECT_EQ(data[959], Ramp(1, 959)[0]);
    EXPECT_EQ(data[960], Ramp(1, 960 + 4800)[0]);
    EXPECT_EQ(headers[0].dwFlags & static_cast<DWORD>(WHDR_DONE), 0u);
    headless::Advance(100);
    EXPECT_EQ(Position(wave), 8192u);
    EXPECT_EQ(data[4095], Ramp(1, 4095 + 4800)[0]);
    EXPECT_EQ(data[4096], Ramp(1, 4096 + 4800)[0]);
    EXPECT_NE(headers[1].dwFlags & static_cast<DWORD>(WHDR_DONE), 0u);

    EXPECT_EQ(waveInReset(wave), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(wave), MMSYSERR_NOERROR);
}

TEST_F(HeadlessWaveIn, StartPositionMustBeAWholeRing)
{
    EXPECT_FALSE(headless::SetStartPosition(4096));
    EXPECT_FALSE(headless::SetStartPosition(0xFFFFFFFFu));
    ASSERT_TRUE(headless::SetStartPosition(0xFFFFC000u));
    RingProbe probe;
    ASSERT_EQ(ProbeOpen(probe), MMSYSERR_NOERROR);
    EXPECT_EQ(Position(probe.wave), 0xFFFFC000u);
    ProbeClose(probe);
}

// A whole ring run across the 2^32 wrap of the position keeps every sample at its place.
TEST_F(HeadlessWaveIn, RingKeepsSamplesInPlaceAcrossThePositionWrap)
{
    ASSERT_TRUE(headless::SetStartPosition(0u - 2 * RingProbe::kRing));
    headless::SetSignal([](uint64_t i) { return static_cast<int16_t>(static_cast<uint16_t>(i)); });
    RingProbe probe;
    probe.ramp = true;
    ASSERT_EQ(ProbeOpen(probe), MMSYSERR_NOERROR);
    const UINT timer =
        timeSetEvent(10, 10, ProbeTimer, reinterpret_cast<DWORD_PTR>(&probe), TIME_PERIODIC);
    ASSERT_NE(timer, 0u);
    for (int i = 0; i < 200; i++) {
        headless::StepTimer();
    }
    ASSERT_EQ(timeKillEvent(timer), MMSYSERR_NOERROR);
    ProbeClose(probe);
    EXPECT_EQ(probe.devicePosition, 199u * 480 - 2 * RingProbe::kRing);
    EXPECT_EQ(probe.breaks.load(), 0u) << "first break at " << probe.firstBreakAt.load();
    EXPECT_EQ(probe.analysed.load(), 199u * 480 - 4096);
    EXPECT_EQ(probe.refusals.load(), 0u);
}

// A tick that comes 150 ms late finds the device 150 ms further on, with nothing lost: the
// buffers handed over hold at least 8192 samples (170 ms) beyond the position.
TEST_F(HeadlessWaveIn, LateTickFindsEverySampleRecorded)
{
    headless::SetSignal([](uint64_t i) { return static_cast<int16_t>(static_cast<uint16_t>(i)); });
    RingProbe probe;
    probe.ramp = true;
    ASSERT_EQ(ProbeOpen(probe), MMSYSERR_NOERROR);
    const UINT timer =
        timeSetEvent(10, 10, ProbeTimer, reinterpret_cast<DWORD_PTR>(&probe), TIME_PERIODIC);
    ASSERT_NE(timer, 0u);
    for (int i = 0; i < 100; i++) {
        headless::StepTimer();
    }
    const uint32_t ticks = probe.ticks.load();
    const uint32_t before = probe.devicePosition;
    headless::Advance(150);
    EXPECT_EQ(probe.ticks.load(), ticks + 1);
    EXPECT_EQ(probe.devicePosition, before + 7200);
    for (int i = 0; i < 50; i++) {
        headless::StepTimer();
    }
    ASSERT_EQ(timeKillEvent(timer), MMSYSERR_NOERROR);
    ProbeClose(probe);
    EXPECT_EQ(probe.breaks.load(), 0u) << "first break at " << probe.firstBreakAt.load();
    EXPECT_EQ(probe.refusals.load(), 0u);
}

TEST_F(HeadlessWaveIn, PositionAnswersInTheUnitAsked)
{
    HWAVEIN wave = nullptr;
    ASSERT_EQ(waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> data(4096);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = 8192;
    ASSERT_EQ(waveInPrepareHeader(wave, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(wave, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(wave), MMSYSERR_NOERROR);
    headless::Advance(30);

    const struct {
        UINT asked;
        UINT answered;
        DWORD value;
    } cases[] = {
        {TIME_SAMPLES, TIME_SAMPLES, 1440},
        {TIME_BYTES, TIME_BYTES, 2880},
        {TIME_MS, TIME_MS, 30},
        {0x0020, TIME_SAMPLES, 1440}, // a unit we do not keep: answered in samples
    };
    for (const auto& c : cases) {
        MMTIME time{};
        time.wType = c.asked;
        EXPECT_EQ(waveInGetPosition(wave, &time, sizeof time), MMSYSERR_NOERROR);
        EXPECT_EQ(time.wType, c.answered) << c.asked;
        EXPECT_EQ(time.u.sample, c.value) << c.asked;
    }
    MMTIME time{};
    EXPECT_EQ(waveInGetPosition(wave, &time, sizeof time - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInGetPosition(wave, nullptr, sizeof time), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInReset(wave), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(wave), MMSYSERR_NOERROR);
}

TEST_F(HeadlessWaveIn, EveryCallIsLoggedInOrder)
{
    RingProbe probe;
    ASSERT_EQ(ProbeOpen(probe), MMSYSERR_NOERROR);
    ProbeTick(probe);
    ProbeClose(probe);
    const std::vector<std::string> expected = {
        "waveInOpen",
        "waveInPrepareHeader",
        "waveInPrepareHeader",
        "waveInPrepareHeader",
        "waveInPrepareHeader",
        "waveInReset",
        "waveInGetPosition",
        "waveInStart",
        "waveInGetPosition",
        "waveInAddBuffer",
        "waveInStop",
        "waveInReset",
        "waveInUnprepareHeader",
        "waveInUnprepareHeader",
        "waveInUnprepareHeader",
        "waveInUnprepareHeader",
        "waveInClose",
    };
    EXPECT_EQ(headless::CallLog(), expected);
}

TEST_F(HeadlessWaveIn, ResetSoundClosesWhatATestLeftOpen)
{
    RingProbe probe;
    ASSERT_EQ(ProbeOpen(probe), MMSYSERR_NOERROR);
    ProbeTick(probe);
    ASSERT_TRUE(headless::SoundIsOpen());
    headless::ResetSound();
    EXPECT_FALSE(headless::SoundIsOpen());
    EXPECT_EQ(waveInStart(probe.wave), MMSYSERR_INVALHANDLE);
    // The header handed over before is left alone: its memory may already be gone.
    EXPECT_NE(probe.headers[0].dwFlags & static_cast<DWORD>(WHDR_INQUEUE), 0u);
    RingProbe again;
    ASSERT_EQ(ProbeOpen(again), MMSYSERR_NOERROR);
    ProbeClose(again);
}

TEST_F(HeadlessWaveIn, UnsupportedOpenFlagsFailLoudlyInDebugBuilds)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    constexpr DWORD kCallbackFunction = 0x00030000;
    HWAVEIN wave = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
    EXPECT_DEBUG_DEATH(result = waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, kCallbackFunction),
                       "CALLBACK_NULL");
#ifdef NDEBUG
    EXPECT_EQ(result, MMSYSERR_INVALFLAG);
#else
    EXPECT_EQ(result, MMSYSERR_NOERROR);
#endif
    EXPECT_EQ(wave, nullptr);
}

} // namespace
