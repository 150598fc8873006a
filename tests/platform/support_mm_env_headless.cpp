#include "platform/portable/hosts/headless/headless_sound.h"
#include "tests/platform/support_mm_env.h"

void mm_env::Begin()
{
    headless::ResetSound();
}

void mm_env::End()
{
    headless::ResetSound();
}

bool mm_env::ExactSignal()
{
    return true;
}

bool mm_env::ExactTiming()
{
    return true;
}

bool mm_env::SteadyTone(uint32_t*, int32_t*)
{
    return false;
}

void mm_env::Play(std::span<const int16_t> samples)
{
    headless::SupplySamples(samples);
}

void mm_env::Pass(uint32_t ms)
{
    // In tick-sized steps, so that a 10 ms timer gets every one of its calls.
    for (; ms >= 10; ms -= 10) {
        headless::Advance(10);
    }
    if (ms > 0) {
        headless::Advance(ms);
    }
}

void mm_env::PassStarting(uint32_t ms)
{
    headless::StartAdvance(ms);
}

void mm_env::FinishCalls()
{
    headless::WaitTimerCalls();
}
