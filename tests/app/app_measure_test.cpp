#include <gtest/gtest.h>

#include "core/tool_state.h"
#include "tests/support/app_harness.h"

namespace {

TEST(AppMeasure, ToneOf440HzReadsAsItIs)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start();
    app.Run(1000);
    EXPECT_DOUBLE_EQ(toolState.result.frequencyHz.load(), 440.0);
    EXPECT_NEAR(toolState.result.levelDb.load(), -6.228, 0.001);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

}  // namespace
