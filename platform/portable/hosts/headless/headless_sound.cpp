// Headless host, sound side: what it supports and its limits.
// - One input device, present or absent at the test's word; sound comes from samples and a
//   generator the test supplies (silence after them), never from real hardware.
// - A virtual clock in whole milliseconds that moves only when the test advances it; timeGetTime
//   reads it (settable, wraps at 2^32); timer deadlines use a separate 64-bit count that the
//   test cannot set, so moving timeGetTime never disturbs a timer.
// - Timer threads are real threads that wait on the virtual clock; one test thread advances
//   time. A timer call that advances time itself would wait for itself: it is not supported.
// - Refused buffers, timer start failures and a start offset for the device position on demand.
// - The timer resolution is only counted; it changes nothing here.

#include "platform/portable/hosts/headless/headless_sound.h"

#include <cassert>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "platform/portable/host.h"

namespace {

struct TimerThread {
    bool parked = false;
    bool killed = false;
    uint64_t deadlineUs = 0;
    // The step in which the thread last left its wait to make a call.
    uint64_t calledInStep = 0;
};

struct SoundHost {
    // Held while sound is handed to the device, so that SoundClose can wait it out.
    std::mutex delivery;
    // Everything below; never held while calling out of the host.
    std::mutex mutex;
    std::condition_variable changed;

    bool present = true;
    bool open = false;
    std::deque<int16_t> supplied;
    std::function<int16_t(uint64_t)> signal;
    uint64_t signalIndex = 0;

    uint64_t nowUs = 0;
    uint64_t step = 0;
    uint32_t timeBase = 0;

    unsigned refusals = 0;
    unsigned timerFailures = 0;
    uint32_t startPosition = 0;
    int periodBalance = 0;
    std::map<uint32_t, TimerThread> timers;
};

SoundHost& Host()
{
    // Never destroyed: timer threads may still wait on it while the process exits.
    static SoundHost& soundHost = *new SoundHost;
    return soundHost;
}

// Caller holds the mutex.
bool CallsStarted(const SoundHost& h)
{
    for (const auto& [id, t] : h.timers) {
        if (!t.killed && t.calledInStep != h.step && !(t.parked && t.deadlineUs > h.nowUs)) {
            return false;
        }
    }
    return true;
}

// Caller holds the mutex. Killed timers count until their thread has ended.
bool CallsFinished(const SoundHost& h)
{
    for (const auto& [id, t] : h.timers) {
        if (t.killed || !t.parked || t.deadlineUs <= h.nowUs) {
            return false;
        }
    }
    return true;
}

std::vector<int16_t> TakeSignal(SoundHost& h, size_t count)
{
    std::vector<int16_t> samples(count);
    for (int16_t& s : samples) {
        if (!h.supplied.empty()) {
            s = h.supplied.front();
            h.supplied.pop_front();
        } else if (h.signal) {
            s = h.signal(h.signalIndex);
        } else {
            s = 0;
        }
        h.signalIndex++;
    }
    return samples;
}

void Move(uint32_t ms)
{
    SoundHost& h = Host();
    std::vector<int16_t> samples;
    {
        std::lock_guard lock(h.mutex);
        samples = TakeSignal(h, size_t{ms} * 48);
    }
    {
        std::lock_guard delivery(h.delivery);
        bool record = false;
        {
            std::lock_guard lock(h.mutex);
            record = h.open && h.present;
        }
        if (record) {
            mm::SoundArrived(samples.data(), samples.size());
        }
    }
    std::lock_guard lock(h.mutex);
    h.nowUs += uint64_t{ms} * 1000;
    h.step++;
    h.changed.notify_all();
}

} // namespace

// Host interface.

bool host::SoundOpen()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    if (!h.present) {
        return false;
    }
    h.open = true;
    return true;
}

void host::SoundClose()
{
    SoundHost& h = Host();
    std::lock_guard delivery(h.delivery);
    std::lock_guard lock(h.mutex);
    h.open = false;
}

uint32_t host::SoundStartPosition()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return h.startPosition;
}

bool host::SoundTakesBuffer()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    if (h.refusals > 0) {
        h.refusals--;
        return false;
    }
    return true;
}

uint32_t host::ClockMs()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return h.timeBase + static_cast<uint32_t>(h.nowUs / 1000);
}

void host::TimerResolution(uint32_t, bool raised)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.periodBalance += raised ? 1 : -1;
}

uint64_t host::TimerNowUs()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return h.nowUs;
}

bool host::TimerMayStart()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    if (h.timerFailures > 0) {
        h.timerFailures--;
        return false;
    }
    return true;
}

void host::TimerThreadBegins(uint32_t id)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.timers[id] = TimerThread{};
}

void host::TimerThreadEnds(uint32_t id)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.timers.erase(id);
    h.changed.notify_all();
}

bool host::TimerSleepUntil(uint32_t id, uint64_t deadlineUs, const std::atomic<bool>& killed)
{
    SoundHost& h = Host();
    std::unique_lock lock(h.mutex);
    TimerThread& t = h.timers[id];
    t.parked = true;
    t.deadlineUs = deadlineUs;
    h.changed.notify_all();
    h.changed.wait(lock, [&] { return killed.load() || h.nowUs >= deadlineUs; });
    t.parked = false;
    t.calledInStep = h.step;
    h.changed.notify_all();
    return !killed.load();
}

void host::TimerKilled(uint32_t id)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    auto it = h.timers.find(id);
    if (it != h.timers.end()) {
        it->second.killed = true;
    }
    h.changed.notify_all();
}

// Test interface.

void headless::ResetSound()
{
    mm::CloseEverything();
    SoundHost& h = Host();
    std::lock_guard delivery(h.delivery);
    std::lock_guard lock(h.mutex);
    h.present = true;
    h.open = false;
    h.supplied.clear();
    h.signal = nullptr;
    h.signalIndex = 0;
    h.nowUs = 0;
    h.step = 0;
    h.timeBase = 0;
    h.refusals = 0;
    h.timerFailures = 0;
    h.startPosition = 0;
    h.periodBalance = 0;
    // Every timer thread has been joined by now.
    assert(h.timers.empty());
}

void headless::SetInputDevicePresent(bool present)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.present = present;
}

void headless::SupplySamples(std::span<const int16_t> samples)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.supplied.insert(h.supplied.end(), samples.begin(), samples.end());
}

void headless::SetSignal(std::function<int16_t(uint64_t)> signal)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.signal = std::move(signal);
}

size_t headless::SuppliedSamplesLeft()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return h.supplied.size();
}

void headless::StartAdvance(uint32_t ms)
{
    Move(ms);
    SoundHost& h = Host();
    std::unique_lock lock(h.mutex);
    h.changed.wait(lock, [&] { return CallsStarted(h); });
}

void headless::WaitTimerCalls()
{
    SoundHost& h = Host();
    std::unique_lock lock(h.mutex);
    h.changed.wait(lock, [&] { return CallsFinished(h); });
}

void headless::Advance(uint32_t ms)
{
    Move(ms);
    WaitTimerCalls();
}

void headless::StepTimer()
{
    Advance(10);
}

void headless::SetTime(uint32_t ms)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.timeBase = ms - static_cast<uint32_t>(h.nowUs / 1000);
}

void headless::RefuseBuffers(unsigned count)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.refusals = count;
}

void headless::FailTimerStarts(unsigned count)
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.timerFailures = count;
}

bool headless::SetStartPosition(uint32_t position)
{
    if (position % 16384 != 0) {
        return false;
    }
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    h.startPosition = position;
    return true;
}

int headless::TimePeriodBalance()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return h.periodBalance;
}

unsigned headless::LiveTimers()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    unsigned live = 0;
    for (const auto& [id, t] : h.timers) {
        live += t.killed ? 0u : 1u;
    }
    return live;
}

unsigned headless::TimerThreads()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return static_cast<unsigned>(h.timers.size());
}

bool headless::SoundIsOpen()
{
    SoundHost& h = Host();
    std::lock_guard lock(h.mutex);
    return h.open;
}
