// The millisecond clock and the timer resolution requests.

#include <map>
#include <mutex>

#include "platform/multimedia.h"
#include "platform/portable/host.h"
#include "platform/portable/mm_internal.h"

namespace {

constexpr UINT kLongestPeriodMs = 1000000;

struct Periods {
    std::mutex mutex;
    // Outstanding timeBeginPeriod calls per period, so that each end must match a begin.
    std::map<UINT, unsigned> held;
};

Periods& Requests()
{
    static Periods& periods = *new Periods;
    return periods;
}

} // namespace

DWORD WINAPI timeGetTime()
{
    host::LogCall("timeGetTime");
    return host::ClockMs();
}

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod)
{
    host::LogCall("timeBeginPeriod");
    if (uPeriod == 0 || uPeriod > kLongestPeriodMs) {
        return TIMERR_NOCANDO;
    }
    {
        Periods& periods = Requests();
        std::lock_guard lock(periods.mutex);
        periods.held[uPeriod]++;
    }
    host::TimerResolution(uPeriod, true);
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod)
{
    host::LogCall("timeEndPeriod");
    {
        Periods& periods = Requests();
        std::lock_guard lock(periods.mutex);
        auto it = periods.held.find(uPeriod);
        if (it == periods.held.end()) {
            return TIMERR_NOCANDO;
        }
        if (--it->second == 0) {
            periods.held.erase(it);
        }
    }
    host::TimerResolution(uPeriod, false);
    return TIMERR_NOERROR;
}

void mm::ForgetPeriodsForReset()
{
    Periods& periods = Requests();
    std::lock_guard lock(periods.mutex);
    periods.held.clear();
}

void mm::CloseEverything()
{
    KillAllTimersForReset();
    CloseWaveInForReset();
    ForgetPeriodsForReset();
}
