#include <gtest/gtest.h>

#include "core/tool_state.h"

TEST(ToolState, InitSetsEveryFieldToItsDefault)
{
    // Dirty every field first so that a field the initialiser forgets shows up.
    toolState.settings.minCount = 7;
    toolState.settings.minDuration = 7;
    toolState.settings.plusTrigger = 7;
    toolState.settings.minusTrigger = 7;
    toolState.settings.validDuration = 7;
    toolState.settings.displayInterval = 7;
    toolState.result.frequencyHz = 7.0;
    toolState.result.levelDb = 7.0;
    toolState.result.newResult = 1;
    toolState.view = {7, 7, 1};

    InitToolState();

    EXPECT_EQ(toolState.settings.minCount, 1u);
    EXPECT_EQ(toolState.settings.minDuration, 2400u);
    EXPECT_EQ(toolState.settings.plusTrigger, 0xC000);
    EXPECT_EQ(toolState.settings.minusTrigger, 0xC000);
    EXPECT_EQ(toolState.settings.validDuration, 48000u);
    EXPECT_EQ(toolState.settings.displayInterval, 100u);
    EXPECT_EQ(toolState.result.frequencyHz, 0.0);
    EXPECT_EQ(toolState.result.levelDb, 0.0);
    EXPECT_EQ(toolState.result.newResult, 0);
    EXPECT_EQ(toolState.view.chartColumn, 0u);
    EXPECT_EQ(toolState.view.zoom, 1);
    EXPECT_EQ(toolState.view.showSettings, 0);
}
