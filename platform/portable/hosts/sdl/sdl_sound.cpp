// SDL host, sound side: what it supports and its limits.
// - Records from SDL's default capture device at 48 000 Hz, signed 16-bit, mono; SDL converts
//   when the device delivers another format. Device buffers of 480 samples (10 ms) keep the
//   added latency low. One device at a time.
// - A device that goes away (the sound server dies, the driver reports it disconnected) is
//   noticed by a watcher thread of ours that polls its status every 100 ms; it then retries the
//   default device every 500 ms, restarting SDL's audio driver each time so that a new sound
//   server is found. Nothing is recorded in between. The watcher never uses SDL's event queue,
//   which belongs to the window thread. A sound server that moves the stream to another input
//   by itself (as PulseAudio does when a microphone is unplugged) goes unnoticed: recording
//   simply goes on from the new input.
// - The audio subsystem is initialised here, on its own (SDL counts initialisations); video
//   is the windowing side's.
// - timeGetTime is the monotonic clock in milliseconds, wrapped to 32 bits; timer threads
//   sleep until absolute deadlines on the same clock. The timer resolution needs no change on
//   this system: timeBeginPeriod and timeEndPeriod only succeed.
// - Buffers are never refused; the position always starts at 0.

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/portable/host.h"

namespace {

using Clock = std::chrono::steady_clock;

// The device the recording callback belongs to.
std::atomic<SDL_AudioDeviceID> recordingDevice{0};

void Recorded(void*, Uint8* stream, int len)
{
    // Once a device has failed SDL goes on calling with silence; that is not sound we heard.
    if (SDL_GetAudioDeviceStatus(recordingDevice.load()) != SDL_AUDIO_PLAYING) {
        return;
    }
    // Mono 16-bit: two bytes per sample.
    mm::SoundArrived(reinterpret_cast<const int16_t*>(stream), static_cast<size_t>(len) / 2);
}

SDL_AudioDeviceID OpenDefaultInput()
{
    SDL_AudioSpec want{};
    want.freq = 48000;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 480;
    want.callback = Recorded;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts whatever the device gives into exactly this.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (device != 0) {
        recordingDevice.store(device);
        SDL_PauseAudioDevice(device, 0);
    }
    return device;
}

struct SdlSound {
    std::mutex mutex;
    std::condition_variable changed;
    bool recording = false;
    // Owned by the watcher while it runs, by SoundOpen/SoundClose otherwise.
    SDL_AudioDeviceID device = 0;
    std::thread watcher;
};

SdlSound& Sound()
{
    static SdlSound& sound = *new SdlSound;
    return sound;
}

// Sleeps `period`, or less when recording ends; false once it has ended.
bool Nap(std::chrono::milliseconds period)
{
    SdlSound& s = Sound();
    std::unique_lock lock(s.mutex);
    return !s.changed.wait_for(lock, period, [&] { return !s.recording; });
}

void Watch()
{
    SdlSound& s = Sound();
    while (Nap(std::chrono::milliseconds(100))) {
        if (s.device != 0 && SDL_GetAudioDeviceStatus(s.device) != SDL_AUDIO_STOPPED) {
            continue;
        }
        if (s.device != 0) {
            SDL_CloseAudioDevice(s.device);
            s.device = 0;
        }
        // A restarted driver finds a sound server that was not there before. The driver is
        // restarted directly, not the subsystem, so SDL's subsystem counts (shared with the
        // window thread's video and events) stay untouched.
        while (s.device == 0 && Nap(std::chrono::milliseconds(500))) {
            SDL_AudioQuit();
            if (SDL_AudioInit(nullptr) == 0) {
                s.device = OpenDefaultInput();
            }
        }
    }
}

struct SleepRoom {
    std::mutex mutex;
    std::condition_variable wake;
};

SleepRoom& Room()
{
    static SleepRoom& room = *new SleepRoom;
    return room;
}

} // namespace

bool host::SoundOpen()
{
    SdlSound& s = Sound();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return false;
    }
    s.device = OpenDefaultInput();
    if (s.device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    {
        std::lock_guard lock(s.mutex);
        s.recording = true;
    }
    s.watcher = std::thread(Watch);
    return true;
}

void host::SoundClose()
{
    SdlSound& s = Sound();
    {
        std::lock_guard lock(s.mutex);
        s.recording = false;
    }
    s.changed.notify_all();
    if (s.watcher.joinable()) {
        s.watcher.join();
    }
    // Closing waits for SDL's recording thread, so SoundArrived is not called after this.
    if (s.device != 0) {
        SDL_CloseAudioDevice(s.device);
        s.device = 0;
    }
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

uint32_t host::SoundStartPosition()
{
    return 0;
}

bool host::SoundTakesBuffer()
{
    return true;
}

uint32_t host::ClockMs()
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

void host::TimerResolution(uint32_t, bool) {}

uint64_t host::TimerNowUs()
{
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
    return static_cast<uint64_t>(us.count());
}

bool host::TimerMayStart()
{
    return true;
}

void host::TimerThreadBegins(uint32_t) {}

void host::TimerThreadEnds(uint32_t) {}

bool host::TimerSleepUntil(uint32_t, uint64_t deadlineUs, const std::atomic<bool>& killed)
{
    SleepRoom& room = Room();
    const Clock::time_point deadline{std::chrono::microseconds(deadlineUs)};
    std::unique_lock lock(room.mutex);
    room.wake.wait_until(lock, deadline, [&] { return killed.load(); });
    return !killed.load();
}

void host::TimerKilled(uint32_t)
{
    SleepRoom& room = Room();
    // Taking the mutex orders the kill before a sleeper's next look at its flag.
    std::lock_guard lock(room.mutex);
    room.wake.notify_all();
}
