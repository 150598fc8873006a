// The SDL host recording real sound: a private PulseAudio server whose default input is the
// monitor of a null sink, a 440 Hz tone played into that sink, and the program's ring of four
// buffers read by position every 10 ms through waveIn* and the multimedia timer. Then the
// server goes away (nothing may be recorded) and a new one comes up (recording must resume).
// Starts and stops its own processes by pid; needs pulseaudio and pulseaudio-utils.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "platform/multimedia.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 16000.0;

pid_t Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // Their chatter on stdout is of no use here; stderr stays for diagnosis.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed != 0 ? 0 : pid;
}

int Run(const std::vector<std::string>& args)
{
    const pid_t pid = Spawn(args);
    if (pid == 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Stop(pid_t& pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }
}

bool Exited(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

void WriteTone(const std::string& path, int seconds)
{
    const uint32_t count = 48000u * static_cast<uint32_t>(seconds);
    std::vector<int16_t> samples(count);
    for (uint32_t i = 0; i < count; i++) {
        samples[i] = static_cast<int16_t>(
            std::lround(kToneAmplitude * std::sin(2 * std::numbers::pi * kToneHz *
                                                  static_cast<double>(i) / 48000.0)));
    }
    auto le32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto le16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
    std::string header = "RIFF" + le32(36 + count * 2) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
                         le32(48000) + le32(96000) + le16(2) + le16(16) + "data" + le32(count * 2);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(header.data(), 1, header.size(), f);
    std::fwrite(samples.data(), 2, samples.size(), f);
    std::fclose(f);
}

// A private sound server in its own runtime directory, and a player feeding it.
struct Pulse {
    std::string dir;
    std::string tone;
    pid_t server = 0;
    pid_t player = 0;

    void Start()
    {
        server = Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                        "--load=module-native-protocol-unix",
                        "--load=module-null-sink sink_name=virt rate=48000"});
        ASSERT_NE(server, 0) << "cannot start pulseaudio";
        while (Run({"pactl", "info"}) != 0) {
            ASSERT_FALSE(Exited(server)) << "pulseaudio ended at start";
            std::this_thread::sleep_for(100ms);
        }
        ASSERT_EQ(Run({"pactl", "set-default-source", "virt.monitor"}), 0);
        ASSERT_EQ(Run({"pactl", "set-default-sink", "virt"}), 0);
        player = Spawn({"paplay", tone});
        ASSERT_NE(player, 0);
    }
    void End()
    {
        Stop(player);
        Stop(server);
    }
};

// The program's capture ring, keeping everything it reads.
struct Recorder {
    static constexpr uint32_t kRing = 16384;
    static constexpr uint32_t kBuffer = 4096;

    HWAVEIN wave = nullptr;
    std::vector<int16_t> block = std::vector<int16_t>(kRing);
    WAVEHDR headers[4] = {};
    uint32_t queuedTo = 0;
    uint32_t analysedTo = 0;
    std::vector<int16_t> heard = std::vector<int16_t>(48000 * 60);

    std::atomic<uint32_t> devicePosition{0};
    std::atomic<uint32_t> analysed{0};
    std::atomic<uint32_t> refusals{0};
    std::atomic<uint32_t> backwards{0};
    std::atomic<uint32_t> reusedBeforeDone{0};
};

void Tick(Recorder& r)
{
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    waveInGetPosition(r.wave, &time, sizeof time);
    if (time.u.sample < r.devicePosition.load()) {
        r.backwards++;
    }
    r.devicePosition.store(time.u.sample);
    if (r.queuedTo < time.u.sample + 2 * Recorder::kBuffer) {
        WAVEHDR& header = r.headers[(r.queuedTo / Recorder::kBuffer) % 4];
        // A header comes back to the device only after the device is done with it.
        if (r.queuedTo >= Recorder::kRing &&
            ((header.dwFlags & static_cast<DWORD>(WHDR_DONE)) == 0 ||
             header.dwBytesRecorded != Recorder::kBuffer * 2)) {
            r.reusedBeforeDone++;
        }
        header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (waveInAddBuffer(r.wave, &header, sizeof header) != MMSYSERR_NOERROR) {
            r.refusals++;
            return;
        }
        r.queuedTo += Recorder::kBuffer;
    }
    uint32_t n = r.analysed.load();
    while (r.analysedTo + 4096 < time.u.sample && n < r.heard.size()) {
        r.heard[n++] = r.block[r.analysedTo % Recorder::kRing];
        r.analysedTo++;
    }
    r.analysed.store(n);
}

void CALLBACK TickCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    Tick(*reinterpret_cast<Recorder*>(user));
}

const WAVEFORMATEX kFormat{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};

void WaitForSamples(const Recorder& r, uint32_t count)
{
    while (r.analysed.load() < count) {
        std::this_thread::sleep_for(50ms);
    }
}

// Checks that heard[from, from + count) is the tone: its frequency from the upward zero
// crossings, its peak, and no step bigger than a sine of that pitch and size can make (a
// buffer out of order or a hole shows as one).
void ExpectTone(const Recorder& r, uint32_t from, uint32_t count)
{
    SCOPED_TRACE("tone from sample " + std::to_string(from));
    double firstCrossing = -1;
    double lastCrossing = -1;
    int crossings = 0;
    int peak = 0;
    int biggestStep = 0;
    for (uint32_t i = from; i + 1 < from + count; i++) {
        const int a = r.heard[i];
        const int b = r.heard[i + 1];
        peak = std::max(peak, std::abs(a));
        biggestStep = std::max(biggestStep, std::abs(b - a));
        if (a < 0 && b >= 0) {
            const double at = i + static_cast<double>(-a) / (b - a);
            if (firstCrossing < 0) {
                firstCrossing = at;
            } else {
                crossings++;
            }
            lastCrossing = at;
        }
    }
    ASSERT_GT(crossings, 10);
    const double hz = 48000.0 * crossings / (lastCrossing - firstCrossing);
    EXPECT_NEAR(hz, kToneHz, 0.5);
    EXPECT_NEAR(peak, kToneAmplitude, 200);
    // 2π × 440 / 48000 × 16000 ≈ 922.
    EXPECT_LE(biggestStep, 1000);
    std::printf("tone from %u: %.2f Hz, peak %d, largest step %d\n", from, hz, peak, biggestStep);
}

// The first sample from `from` on that is clearly part of the tone.
uint32_t Onset(const Recorder& r, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; i++) {
        if (std::abs(r.heard[i]) > 8000) {
            return i;
        }
    }
    return to;
}

class SdlCapture : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char dir[] = "/tmp/tovalisk-pulse-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        chmod(dir, 0700);
        pulse.dir = dir;
        pulse.tone = pulse.dir + "/tone.wav";
        WriteTone(pulse.tone, 60);
        // The server, its clients and SDL find each other through these; HOME keeps the
        // server's cookie and state out of the real home.
        setenv("XDG_RUNTIME_DIR", dir, 1);
        setenv("HOME", dir, 1);
        setenv("PULSE_SERVER", (pulse.dir + "/pulse/native").c_str(), 1);
    }
    void TearDown() override
    {
        pulse.End();
        std::filesystem::remove_all(pulse.dir);
    }
    Pulse pulse;
};

TEST_F(SdlCapture, NoSoundServerMeansNoInputDevice)
{
    HWAVEIN wave = reinterpret_cast<HWAVEIN>(uintptr_t{0x40});
    EXPECT_NE(waveInOpen(&wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(wave, nullptr);
}

TEST_F(SdlCapture, RecordsTheDefaultInputAndComesBackWithANewServer)
{
    pulse.Start();
    if (HasFatalFailure()) {
        return;
    }
    Recorder r;
    ASSERT_EQ(waveInOpen(&r.wave, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_NE(r.wave, nullptr);
    for (uint32_t k = 0; k < 4; k++) {
        r.headers[k].lpData = reinterpret_cast<LPSTR>(r.block.data() + k * Recorder::kBuffer);
        r.headers[k].dwBufferLength = Recorder::kBuffer * 2;
        waveInPrepareHeader(r.wave, &r.headers[k], sizeof(WAVEHDR));
    }
    waveInReset(r.wave);
    ASSERT_EQ(waveInStart(r.wave), MMSYSERR_NOERROR);
    const auto started = std::chrono::steady_clock::now();
    UINT timer = timeSetEvent(10, 10, TickCallback, reinterpret_cast<DWORD_PTR>(&r), TIME_PERIODIC);
    ASSERT_NE(timer, 0u);
    // Whichever way the test ends, neither the tick nor the device may outlive the recorder.
    struct Guard {
        UINT& timer;
        Recorder& r;
        ~Guard()
        {
            if (timer != 0) {
                timeKillEvent(timer);
                std::this_thread::sleep_for(50ms);
            }
            if (r.wave != nullptr) {
                waveInReset(r.wave);
                waveInClose(r.wave);
            }
        }
    } guard{timer, r};

    // The first second of tone.
    while (r.devicePosition.load() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    const auto firstSound = std::chrono::steady_clock::now();
    WaitForSamples(r, 48000);
    const uint32_t onset = Onset(r, 0, 48000);
    ASSERT_LT(onset, 48000u) << "no tone in the first second recorded";
    WaitForSamples(r, onset + 48000 + 4800);
    ExpectTone(r, onset + 4800, 48000);
    std::printf("first samples recorded %.0f ms after start; tone from sample %u on\n",
                std::chrono::duration<double, std::milli>(firstSound - started).count(), onset);

    // The server goes away: from then on the position stands still.
    pulse.End();
    std::this_thread::sleep_for(700ms);
    const uint32_t away = r.devicePosition.load();
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(r.devicePosition.load(), away);
    const uint32_t heardBefore = r.analysed.load();

    // A new server and the tone again: recording resumes into the same ring.
    pulse.Start();
    if (HasFatalFailure()) {
        return;
    }
    const auto restarted = std::chrono::steady_clock::now();
    while (r.devicePosition.load() == away) {
        std::this_thread::sleep_for(1ms);
    }
    std::printf(
        "recording again %.0f ms after the new server was up\n",
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - restarted)
            .count());
    WaitForSamples(r, heardBefore + 48000);
    const uint32_t again = Onset(r, heardBefore, heardBefore + 48000);
    ASSERT_LT(again, heardBefore + 48000) << "no tone in the first second after the return";
    WaitForSamples(r, again + 48000 + 4800);
    ExpectTone(r, again + 4800, 48000);

    ASSERT_EQ(timeKillEvent(timer), MMSYSERR_NOERROR);
    timer = 0;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(waveInStop(r.wave), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInReset(r.wave), MMSYSERR_NOERROR);
    for (WAVEHDR& header : r.headers) {
        EXPECT_EQ(waveInUnprepareHeader(r.wave, &header, sizeof header), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveInClose(r.wave), MMSYSERR_NOERROR);
    r.wave = nullptr;
    EXPECT_EQ(r.refusals.load(), 0u);
    EXPECT_EQ(r.backwards.load(), 0u);
    EXPECT_EQ(r.reusedBeforeDone.load(), 0u);
}

} // namespace
