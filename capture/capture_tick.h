#pragma once

#include <atomic>
#include <cstdint>

#include "platform/multimedia.h"

// The 10 ms tick: keeps the device supplied, feeds due samples to the detector and paces the
// display. `lastDisplayTime` is the tick's own; `timer` is used on the window thread only.
// `stopping` and `inFlight` let shut-down release the ring only once no tick can touch it:
// stopping the timer does not wait for a tick that is running, which may be blocked in its
// send to the very thread that stops it.
struct TickState {
    std::atomic<uint32_t> lastDisplayTime;
    UINT timer;
    std::atomic<int32_t> stopping;
    std::atomic<int32_t> inFlight;
};

extern TickState tickState;

void StartTick();
// Stops further ticks from doing anything; does not wait for a tick that is running.
void StopTick();
// Waits until no tick is running. Call after StopTick once the main window is gone, so that no
// tick can be held up in its send any more; sent messages are still answered while waiting.
void WaitForTicks();
void CALLBACK CaptureTick(UINT timer, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
