// The system's own multimedia services: the default recording device hears whatever plays
// into it (the test run plays a steady tone), and time is the wall clock.

#include <cstdio>
#include <cstdlib>

#include "platform/multimedia.h"
#include "tests/platform/support_mm_env.h"

void mm_env::Begin()
{
    // Sleep keeps to the millisecond, as the program's own timer resolution does.
    timeBeginPeriod(1);
}

void mm_env::End()
{
    timeEndPeriod(1);
}

bool mm_env::ExactSignal()
{
    return false;
}

bool mm_env::ExactTiming()
{
    return false;
}

bool mm_env::SteadyTone(uint32_t* hertz, int32_t* amplitude)
{
    // "440 16000", set by the script that plays the tone into the default input.
    const char* tone = std::getenv("TOVALISK_TEST_TONE");
    unsigned long f = 0;
    long a = 0;
    if (tone == nullptr || std::sscanf(tone, "%lu %ld", &f, &a) != 2 || f == 0 || f >= 24000 ||
        a <= 0 || a > 32767) {
        return false;
    }
    *hertz = static_cast<uint32_t>(f);
    *amplitude = static_cast<int32_t>(a);
    return true;
}

void mm_env::Play(std::span<const int16_t>)
{
    // The device records what the room (or the sound server) plays, not what a test asks for.
}

void mm_env::Pass(uint32_t ms)
{
    Sleep(ms);
}

void mm_env::PassStarting(uint32_t ms)
{
    Sleep(ms);
}

void mm_env::FinishCalls()
{
    // The system does not say when a call is over; a released one ends within a tick or two.
    Sleep(50);
}
