#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/ui/ui_checks.h"

namespace {

using namespace uitest;
using Lines = std::vector<std::string>;

const Lines kDefaultSettings = {
    "2 26 Min. Count : 1 ticks",        "2 38 Min. Duration : 0.0500 sec",
    "2 50 + Trigger : 0.7500",          "2 62 - Trigger : 0.7500",
    "2 74 Valid Duration : 1.0000 sec", "2 86 Display Interval : 100 ms",
};

Lines With(Lines first, const Lines& more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

TEST(Panel, BeforeTheFirstResultShowsZeroHzAndZeroDb)
{
    apptest::App app;
    app.Start();
    // The first paint, at the window's showing.
    EXPECT_EQ(PanelLines(app), (Lines{"2 2     0.00 Hz", "2 14     0.00 dB"}));
    const headless::WindowView view = app.View();
    EXPECT_GT(TextPixels(view, 2, 14), 20);
    EXPECT_GT(TextPixels(view, 14, 26), 20);
    EXPECT_EQ(TextPixels(view, 26, 100), 0);
    // Silence publishes nothing: the columns come and the numbers stay.
    NextColumn(app);
    EXPECT_EQ(PanelLines(app), (Lines{"2 2     0.00 Hz", "2 14     0.00 dB"}));
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Panel, ShowsTheLastMeasurementAndKeepsItThroughSilence)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start();
    app.Run(500);
    NextColumn(app);
    const Lines measured = {"2 2   440.00 Hz", "2 14    -6.23 dB"};
    EXPECT_EQ(PanelLines(app), measured);
    // The tone stops; the last measurement stays on show.
    headless::SetSignal(nullptr);
    app.Run(3000);
    NextColumn(app);
    EXPECT_EQ(PanelLines(app), measured);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Panel, TabShowsTheSixSettingsAtTheNextDisplayTickAndTabAgainHidesThem)
{
    apptest::App app;
    app.Start();
    NextColumn(app);
    const Lines hidden = {"2 2     0.00 Hz", "2 14     0.00 dB"};
    const std::vector<COLORREF> band = Rows(app.View(), 0, 100);

    // Tab repaints nothing of its own.
    const int presents = app.View().presents;
    app.Press(VK_TAB);
    EXPECT_EQ(app.View().presents, presents);
    EXPECT_EQ(PanelLines(app), hidden);

    NextColumn(app);
    EXPECT_EQ(PanelLines(app), With(hidden, kDefaultSettings));
    const headless::WindowView shown = app.View();
    for (int top = 26; top <= 86; top += 12) {
        EXPECT_GT(TextPixels(shown, top, top + 12), 20) << "line at row " << top;
    }
    EXPECT_EQ(TextPixels(shown, 98, 100), 0);

    // Off again: the band is filled black first, so nothing of the six lines is left.
    app.Press(VK_TAB);
    NextColumn(app);
    EXPECT_EQ(PanelLines(app), hidden);
    EXPECT_EQ(TextPixels(app.View(), 26, 100), 0);
    EXPECT_EQ(Rows(app.View(), 0, 100), band);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Panel, TabTwiceLeavesThePanelAsItWas)
{
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown ? "settings shown" : "settings hidden");
        apptest::App app;
        app.Start();
        if (shown) {
            app.Press(VK_TAB);
        }
        NextColumn(app);
        const Lines lines = PanelLines(app);
        const std::vector<COLORREF> band = Rows(app.View(), 0, 100);
        app.Press(VK_TAB);
        app.Press(VK_TAB);
        NextColumn(app);
        EXPECT_EQ(PanelLines(app), lines);
        EXPECT_EQ(Rows(app.View(), 0, 100), band);
        EXPECT_EQ(app.CloseAndJoin(), 0);
    }
}

struct SettingsCase {
    const char* what;
    // Held letter and arrow presses through the program, or 0 for none.
    unsigned letter;
    unsigned arrow;
    int presses;
    // Else set directly: values no key sequence from the defaults reaches in a few presses.
    void (*set)();
    std::string line;
};

TEST(Panel, SettingsLinesShowTheValuesTheKeysLeave)
{
    const SettingsCase cases[] = {
        {"a trigger of 65536", 'D', VK_RIGHT, 70, nullptr, "2 50 + Trigger : 1.0000"},
        {"the other trigger at 0", 'F', VK_LEFT, 200, nullptr, "2 62 - Trigger : 0.0000"},
        {"the smallest display interval", 'H', VK_LEFT, 3, nullptr,
         "2 86 Display Interval : 10 ms"},
        {"the smallest count", 'A', VK_DOWN, 3, nullptr, "2 26 Min. Count : 1 ticks"},
        {"the largest count", 'A', VK_RIGHT, 1,
         [] { toolState.settings.minCount.store(UINT32_MAX - 3); },
         "2 26 Min. Count : 4294967295 ticks"},
        {"a duration read as unsigned", 'S', VK_UP, 1,
         [] { toolState.settings.minDuration.store(3000000000u - 24); },
         "2 38 Min. Duration : 62500.0000 sec"},
        {"the longest valid duration", 'G', VK_RIGHT, 2,
         [] { toolState.settings.validDuration.store(UINT32_MAX - 100); },
         "2 74 Valid Duration : 89478.4853 sec"},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.what);
        apptest::App app;
        app.Start();
        app.Press(VK_TAB);
        if (c.set != nullptr) {
            c.set();
        }
        // The arrows repaint at once: no display tick is needed to see the new value.
        app.PressWith(c.letter, c.arrow, c.presses);
        const Lines lines = PanelLines(app);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end())
            << testing::PrintToString(lines);
        EXPECT_EQ(lines.size(), 8u);
        EXPECT_EQ(app.CloseAndJoin(), 0);
    }
}

} // namespace
