#include <gtest/gtest.h>

#include <cstdint>

#include "ui/setting_steps.h"

namespace {

struct UnsignedCase {
    uint32_t value;
    uint32_t step;
    uint32_t floor;
    uint32_t raised;
    uint32_t lowered;
};

TEST(SettingSteps, UnsignedSettingsStopAtTheirBounds)
{
    const UnsignedCase cases[] = {
        // minCount (floor 1): Down at 1 stays 1, Left at 5 gives 1 rather than -5.
        {1, 1, 1, 2, 1},
        {5, 10, 1, 15, 1},
        {11, 10, 1, 21, 1},
        {12, 10, 1, 22, 2},
        // displayInterval (floor 10): Down at 15 gives 10, at 10 stays 10.
        {15, 10, 10, 25, 10},
        {10, 10, 10, 20, 10},
        {200, 100, 10, 300, 100},
        // minDuration and validDuration (floor 0).
        {23, 24, 0, 47, 0},
        {24, 24, 0, 48, 0},
        // Increases stop at the largest value instead of wrapping to a small one...
        {UINT32_MAX - 5, 10, 1, UINT32_MAX, UINT32_MAX - 15},
        {UINT32_MAX, 2400, 0, UINT32_MAX, UINT32_MAX - 2400},
        // ...and a decrease from up there is a small step down, not a fall to the floor.
        {3000000000u, 24, 0, 3000000024u, 2999999976u},
    };
    for (const UnsignedCase& c : cases) {
        EXPECT_EQ(RaiseUnsigned(c.value, c.step), c.raised) << c.value << " + " << c.step;
        EXPECT_EQ(LowerUnsigned(c.value, c.step, c.floor), c.lowered) << c.value << " - " << c.step;
    }
}

TEST(SettingSteps, TriggersStayWithinZeroAndOne)
{
    EXPECT_EQ(RaiseTrigger(65400, 256), 65536);
    EXPECT_EQ(RaiseTrigger(65536, 16), 65536);
    EXPECT_EQ(RaiseTrigger(65520, 16), 65536);
    EXPECT_EQ(LowerTrigger(10, 16), 0);
    EXPECT_EQ(LowerTrigger(0, 256), 0);
    EXPECT_EQ(LowerTrigger(49152, 256), 48896);

    // Holding Right from the default: 256 per key-down until 65536, then it stays.
    int32_t trigger = 49152;
    int steps = 0;
    while (trigger < 65536) {
        trigger = RaiseTrigger(trigger, 256);
        ++steps;
    }
    EXPECT_EQ(steps, 64);
    EXPECT_EQ(RaiseTrigger(trigger, 256), 65536);
}

} // namespace
