// The periodic multimedia timer: each timer has a thread of its own that makes one call at a
// time on absolute deadlines, so lateness never accumulates. How a thread waits is the host's
// business (real time or a clock stepped by a test).

#include <cassert>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/multimedia.h"
#include "platform/portable/host.h"
#include "platform/portable/mm_internal.h"

namespace {

constexpr UINT kLongestDelayMs = 1000000;

struct Timer {
    UINT id;
    uint64_t periodUs;
    LPTIMECALLBACK callback;
    DWORD_PTR user;
    // A call starts only after its thread has seen this clear, so once timeKillEvent has set
    // it no new call starts; a call already under way is left to finish on its own.
    std::atomic<bool> killed{false};
    std::atomic<bool> finished{false};
};

struct Entry {
    std::shared_ptr<Timer> timer;
    std::thread thread;
};

struct Registry {
    std::mutex mutex;
    UINT lastId = 0;
    // Running timers and killed ones whose thread has not been joined yet.
    std::vector<Entry> entries;
    bool exitHookInstalled = false;
};

Registry& Timers()
{
    // Never destroyed: the exit hook and late timer threads still use it while statics go.
    static Registry& registry = *new Registry;
    return registry;
}

void Run(std::shared_ptr<Timer> timer, uint64_t deadline)
{
    while (host::TimerSleepUntil(timer->id, deadline, timer->killed)) {
        if (timer->killed.load()) {
            break;
        }
        timer->callback(timer->id, 0, timer->user, 0, 0);
        deadline += timer->periodUs;
        // Deadlines missed while a call ran late are dropped rather than made up in a burst;
        // the next one stays on the original grid.
        const uint64_t now = host::TimerNowUs();
        if (deadline <= now) {
            deadline += ((now - deadline) / timer->periodUs + 1) * timer->periodUs;
        }
    }
    host::TimerThreadEnds(timer->id);
    timer->finished.store(true);
}

// Takes the entries that `pick` selects out of the registry and joins their threads, never the
// calling thread's own (a timer may be killed from its own call).
template <typename Pick> void JoinWhere(Pick pick)
{
    std::vector<Entry> done;
    {
        Registry& registry = Timers();
        std::lock_guard lock(registry.mutex);
        const std::thread::id self = std::this_thread::get_id();
        for (auto it = registry.entries.begin(); it != registry.entries.end();) {
            if (it->thread.get_id() != self && pick(*it->timer)) {
                done.push_back(std::move(*it));
                it = registry.entries.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Entry& entry : done) {
        entry.thread.join();
    }
}

// Joins the threads of killed timers that have made their last call; never waits for a call.
void JoinFinished()
{
    JoinWhere([](const Timer& timer) { return timer.finished.load(); });
}

void KillAll()
{
    std::vector<UINT> killed;
    {
        Registry& registry = Timers();
        std::lock_guard lock(registry.mutex);
        for (Entry& entry : registry.entries) {
            if (!entry.timer->killed.exchange(true)) {
                killed.push_back(entry.timer->id);
            }
        }
    }
    for (UINT id : killed) {
        host::TimerKilled(id);
    }
    JoinWhere([](const Timer&) { return true; });
}

// No thread is left joinable at exit, even when the program forgot a timer.
void KillAllAtExit()
{
    KillAll();
}

bool IdInUse(const Registry& registry, UINT id)
{
    for (const Entry& entry : registry.entries) {
        if (entry.timer->id == id) {
            return true;
        }
    }
    return false;
}

} // namespace

MMRESULT WINAPI timeSetEvent(UINT uDelay, UINT, LPTIMECALLBACK fptc, DWORD_PTR dwUser, UINT fuEvent)
{
    host::LogCall("timeSetEvent");
    if (fuEvent != static_cast<UINT>(TIME_PERIODIC | TIME_CALLBACK_FUNCTION)) {
        assert(!"timeSetEvent: only periodic function callbacks are supported");
        return 0;
    }
    if (fptc == nullptr || uDelay == 0 || uDelay > kLongestDelayMs) {
        return 0;
    }
    JoinFinished();
    if (!host::TimerMayStart()) {
        return 0;
    }
    auto timer = std::make_shared<Timer>();
    timer->periodUs = uint64_t{uDelay} * 1000;
    timer->callback = fptc;
    timer->user = dwUser;

    Registry& registry = Timers();
    std::lock_guard lock(registry.mutex);
    UINT id = registry.lastId;
    do {
        id++;
    } while (id == 0 || IdInUse(registry, id));
    registry.lastId = id;
    timer->id = id;

    host::TimerThreadBegins(id);
    const uint64_t firstDeadline = host::TimerNowUs() + timer->periodUs;
    std::thread thread;
    try {
        thread = std::thread(Run, timer, firstDeadline);
    } catch (const std::system_error&) {
        host::TimerThreadEnds(id);
        return 0;
    }
    registry.entries.push_back(Entry{std::move(timer), std::move(thread)});
    if (!registry.exitHookInstalled) {
        registry.exitHookInstalled = std::atexit(KillAllAtExit) == 0;
    }
    return id;
}

MMRESULT WINAPI timeKillEvent(UINT uTimerID)
{
    host::LogCall("timeKillEvent");
    bool found = false;
    {
        Registry& registry = Timers();
        std::lock_guard lock(registry.mutex);
        for (Entry& entry : registry.entries) {
            if (entry.timer->id == uTimerID && !entry.timer->killed.exchange(true)) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        return MMSYSERR_INVALPARAM;
    }
    host::TimerKilled(uTimerID);
    JoinFinished();
    return MMSYSERR_NOERROR;
}

void mm::KillAllTimersForReset()
{
    KillAll();
}
