#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// What the multimedia half of the portable layer (mm_*.cpp) needs of the host, and the one
// entry the host calls back into. The wave-input and timer rules live in the portable layer;
// the host only records sound, keeps time and says when a timer thread may run.
namespace host {

// Sound input: the default input device, 48 kHz, mono, signed 16-bit.
// Starts recording; false when there is no input device. From then on the host hands what it
// records to mm::SoundArrived, from a thread of its own, until SoundClose. If the device goes
// away the host stops handing over sound and resumes once a default input is there again.
bool SoundOpen();
// Once this returns, mm::SoundArrived is not called again (until the next SoundOpen).
void SoundClose();
// The position a device starts at after open and reset: always 0 on a real host.
uint32_t SoundStartPosition();
// Whether the device takes one more buffer now (a real host always does).
bool SoundTakesBuffer();

// The millisecond clock behind timeGetTime.
uint32_t ClockMs();
// timeBeginPeriod (raised) and timeEndPeriod that succeeded.
void TimerResolution(uint32_t period, bool raised);

// Timers: the portable layer runs each on a thread of its own and asks the host to wait.
// Time here is in microseconds on a monotonic 64-bit clock.
uint64_t TimerNowUs();
// False makes timeSetEvent fail.
bool TimerMayStart();
// Brackets the life of timer `id`'s thread: Begins before it is started, Ends as its last act.
void TimerThreadBegins(uint32_t id);
void TimerThreadEnds(uint32_t id);
// Blocks timer `id`'s thread until TimerNowUs() >= deadline (true) or `killed` is set (false).
bool TimerSleepUntil(uint32_t id, uint64_t deadlineUs, const std::atomic<bool>& killed);
// Timer `id` has just been killed: wake its thread so that it sees `killed`.
void TimerKilled(uint32_t id);

} // namespace host

namespace mm {

// The host hands recorded sound over here, in recording order.
void SoundArrived(const int16_t* samples, size_t count);

// Kills every timer and waits for the timer threads, closes the wave device whatever its state
// and forgets the timer resolution requests: for a host that starts over between tests.
void CloseEverything();

} // namespace mm
