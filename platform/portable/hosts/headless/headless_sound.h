#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// The headless host's sound side, driven by tests: the microphone's signal, a virtual clock
// stepped by the test, and knobs for the failures a real system can show.
//
// Time stands still until a test advances it. Advancing by `ms` first offers 48 × ms samples
// of the signal to the device, then moves the clocks, then lets every timer whose deadline has
// come make its call on its own thread, and waits until those calls are over. One thread
// advances time; a timer call must not advance it itself.
namespace headless {

// Back to the initial state, for the start of each test: kills and joins every timer, closes a
// wave device left open (without touching its headers), forgets unbalanced timeBeginPeriod
// calls, and sets: device present, no signal (silence), both clocks at 0, start position 0,
// no refusals, no timer failures, counters at 0.
void ResetSound();

// The input device. Absent when waveInOpen runs: the open fails with no handle. Taken away
// while open: nothing is recorded, the handle stays valid; put back: recording resumes into
// the buffers still queued.
void SetInputDevicePresent(bool present);

// The signal at the microphone. Time consumes it at 48 samples per ms whether or not the
// device records it: sound that arrives while nothing is queued (or the device is away) is
// lost, as with a real microphone. Supplied samples come first, in order; after them the
// generator's (called with the sample's index at the microphone since ResetSound), or silence
// when there is no generator.
void SupplySamples(std::span<const int16_t> samples);
void SetSignal(std::function<int16_t(uint64_t index)> signal);
size_t SuppliedSamplesLeft();

// Advances time by `ms` as described above and returns once the due timer calls have finished
// and the threads of killed timers have ended. A timer is due at most once per call, however
// far time moves: Advance(200) delivers 200 ms of sound and then makes one call (a late tick).
void Advance(uint32_t ms);
// One tick's worth: Advance(10).
void StepTimer();
// Advance, but returns once the due calls have started, for a test whose timer call waits for
// the test's own thread; WaitTimerCalls then waits until they are over (as Advance would).
void StartAdvance(uint32_t ms);
void WaitTimerCalls();

// What timeGetTime reads from now on (it still moves with Advance), e.g. just below 2^32.
void SetTime(uint32_t ms);

// The next `count` buffers that would otherwise be accepted are refused (MMSYSERR_NOMEM).
void RefuseBuffers(unsigned count);
// The next `count` timeSetEvent calls fail (identifier 0).
void FailTimerStarts(unsigned count);
// Where the device position starts after the next open or reset. Real devices start at 0; this
// exists for tests that cross the 2^32 wrap of the position. Buffers still fill in order, so a
// program that keeps a ring of buffers sees samples at their place only when the offset is a
// multiple of the ring; 16384 (four 4096-sample buffers) is required. False, and nothing
// changes, for any other value.
[[nodiscard]] bool SetStartPosition(uint32_t position);

// timeBeginPeriod calls minus timeEndPeriod calls that succeeded.
int TimePeriodBalance();
// Timers set and not killed.
unsigned LiveTimers();
// Timer threads that have not ended yet (a killed timer's thread ends after its last call).
unsigned TimerThreads();
// Whether the wave device is open.
bool SoundIsOpen();

} // namespace headless
