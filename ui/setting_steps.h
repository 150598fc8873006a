#pragma once

#include <cstdint>

// The arithmetic of the arrow keys, free of platform calls. Unsigned settings stop at the
// largest value rather than wrapping to a small one, and stop at their floor on the way down;
// the trigger fractions stay within 0 to 65536.

constexpr uint32_t RaiseUnsigned(uint32_t value, uint32_t step)
{
    return value > UINT32_MAX - step ? UINT32_MAX : value + step;
}

constexpr uint32_t LowerUnsigned(uint32_t value, uint32_t step, uint32_t floor)
{
    return value < floor || value - floor < step ? floor : value - step;
}

constexpr int32_t RaiseTrigger(int32_t value, int32_t step)
{
    return value > 65536 - step ? 65536 : value + step;
}

constexpr int32_t LowerTrigger(int32_t value, int32_t step)
{
    return value < step ? 0 : value - step;
}
