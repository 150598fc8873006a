#pragma once

#include <cstdint>
#include <span>

// What the multimedia conformance tests need of the system under them. They use nothing but
// platform/multimedia.h otherwise, so the same tests run on our portable layer (headless host:
// exact sound, time that moves only when told) and on a real system (real device, real time).
namespace mm_env {

// Around each test: a fresh system with an input device present.
void Begin();
void End();

// True when the device records exactly the samples given to Play.
bool ExactSignal();
// True when time moves only through Pass, so timer calls can be counted exactly.
bool ExactTiming();

// True when, instead of what Play asks for, the device hears a steady sine of `hertz` and
// `amplitude` all along (a real system's test run plays one): what it records must then continue
// that tone without a break.
bool SteadyTone(uint32_t* hertz, int32_t* amplitude);

// The input device hears these samples next (a real system may play them or ignore them).
void Play(std::span<const int16_t> samples);

// Lets `ms` milliseconds pass: the device records, and every timer call that falls due runs and
// is over when this returns.
void Pass(uint32_t ms);
// Lets up to 10 ms pass, returning once the timer calls that fell due have started; for a test
// whose timer call waits for this very thread. FinishCalls waits until they are over.
void PassStarting(uint32_t ms);
void FinishCalls();

} // namespace mm_env
