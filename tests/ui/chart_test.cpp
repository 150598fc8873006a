#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>

#include "tests/ui/ui_checks.h"

namespace {

using namespace uitest;

// A whole-hertz sine whose positive half peaks at `high` and negative half at -`low`.
std::function<int16_t(uint64_t)> Sine(int frequency, double high, double low)
{
    return [=](uint64_t p) {
        const double s =
            std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(p % 48000) / 48000.0);
        return static_cast<int16_t>(std::lround(s >= 0.0 ? high * s : low * s));
    };
}

// A whole-hertz square wave: `high` for the first half of each period, `low` for the second.
std::function<int16_t(uint64_t)> Square(int frequency, int16_t high, int16_t low)
{
    return [=](uint64_t p) {
        return (p * 2 * static_cast<uint64_t>(frequency) / 48000) % 2 == 0 ? high : low;
    };
}

struct SignalCase {
    const char* what;
    std::function<int16_t(uint64_t)> signal;
    double frequencyHz;
    double levelDb;
    std::map<int, COLORREF> dots;
};

// Real sound through the device, the tick and the detector, drawn by the next display tick.
TEST(Chart, MeasuredTonesLandOnTheirRowsInTheNewestColumn)
{
    const SignalCase cases[] = {
        {"440 Hz at -6.23 dB", Sine(440, 16000, 16000), 440.0, -6.228, {{94, kRed}, {24, kBlue}}},
        {"1000 Hz at -30.31 dB",
         Sine(1000, 1000, 1000),
         1000.0,
         -30.309,
         {{80, kRed}, {82, kBlue}}},
        // 32767 - (-32768) = 65535: 0 dB, the top grid row.
        {"1000 Hz at 0 dB", Sine(1000, 32767, 32768), 1000.0, 0.0, {{80, kRed}, {10, kBlue}}},
        // A swing of 6: -80.77 dB, below the chart. (A sine so small has plateaus of zeros
        // that the detector takes for peaks; a square wave has none.)
        {"1000 Hz at -80.77 dB", Square(1000, 3, -3), 1000.0, -80.766, {{80, kRed}}},
    };
    for (const SignalCase& c : cases) {
        SCOPED_TRACE(c.what);
        apptest::App app;
        headless::SetSignal(c.signal);
        app.Start();
        // 85 ms behind the sound plus one 50 ms measurement, then a column.
        app.Run(300);
        NextColumn(app);
        EXPECT_DOUBLE_EQ(toolState.result.frequencyHz.load(), c.frequencyHz);
        EXPECT_NEAR(toolState.result.levelDb.load(), c.levelDb, 0.001);
        EXPECT_EQ(ShownColumn(app.View(), 199), DrawnColumn(c.dots));
        EXPECT_EQ(app.CloseAndJoin(), 0);
    }
}

struct RowCase {
    double frequencyHz;
    double levelDb;
    std::map<int, COLORREF> dots;
};

// Results set directly (the input is silent, so the detector publishes nothing of its own):
// the rows at the edges of the chart, where no signal gives the exact value.
TEST(Chart, ResultsLandOnTheirRowsAndOffTheChartDrawNothing)
{
    const RowCase cases[] = {
        {440.0, -6.23, {{94, kRed}, {24, kBlue}}},
        {1000.0, -30.31, {{80, kRed}, {82, kBlue}}},
        {24000.0, 0.0, {{25, kRed}, {10, kBlue}}},
        // Just above -79.1667 dB is the last row; at -79.17 and below nothing.
        {1000.0, -79.16, {{80, kRed}, {199, kBlue}}},
        {1000.0, -79.17, {{80, kRed}}},
        {1000.0, -80.0, {{80, kRed}}},
        {1000.0, -1000.0, {{80, kRed}}},
        {1000.0, -std::numeric_limits<double>::infinity(), {{80, kRed}}},
        // Rows down to just above -1 truncate toward zero onto row 0; from -1 up they are off
        // the chart.
        {1000.0, 4.16, {{80, kRed}, {0, kBlue}}},
        {1000.0, 4.2, {{80, kRed}, {0, kBlue}}},
        {1000.0, 4.6, {{80, kRed}}},
        // 1 Hz and below land on row 200 or further down.
        {1.01, -6.23, {{199, kRed}, {24, kBlue}}},
        {1.0, -6.23, {{24, kBlue}}},
        {0.0, -6.23, {{24, kBlue}}},
        {1.0e9, -6.23, {{24, kBlue}}},
        // On one pixel the frequency dot, drawn second, covers the level dot.
        {440.0, -35.21, {{94, kRed}}},
    };
    apptest::App app;
    app.Start();
    for (const RowCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frequencyHz << " Hz at " << c.levelDb << " dB");
        Publish(c.frequencyHz, c.levelDb);
        NextColumn(app);
        EXPECT_EQ(ShownColumn(app.View(), 199), DrawnColumn(c.dots));
    }
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Chart, WithoutAResultAColumnIsBlackWithItsSixteenGridDots)
{
    apptest::App app;
    app.Start();
    NextColumn(app);
    const headless::WindowView view = app.View();
    EXPECT_EQ(ShownColumn(view, 199), DrawnColumn());
    int green = 0;
    for (int y = kChartTop; y < kChartTop + kChartSize; ++y) {
        green += view.Pixel(199, y) == kGreen ? 1 : 0;
    }
    EXPECT_EQ(green, 16);

    // A result is plotted once; the columns after it scroll it left and have no dots.
    Publish(440.0, -6.23);
    NextColumn(app);
    NextColumn(app);
    NextColumn(app);
    EXPECT_EQ(ShownColumn(app.View(), 199), DrawnColumn());
    EXPECT_EQ(ShownColumn(app.View(), 198), DrawnColumn());
    EXPECT_EQ(ShownColumn(app.View(), 197), DrawnColumn({{94, kRed}, {24, kBlue}}));
    EXPECT_EQ(ShownColumn(app.View(), 196), DrawnColumn());
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

// Results set directly, one per tick, between two display ticks: the chart plots the last
// and the panel shows it.
TEST(Chart, SeveralResultsBetweenTwoDisplayTicksLeaveOneDotPairTheLast)
{
    apptest::App app;
    app.Start();
    NextColumn(app);
    Publish(440.0, -6.23);
    app.Step();
    Publish(1000.0, -30.31);
    app.Step();
    Publish(2000.0, -12.0);
    const uint32_t column = toolState.view.chartColumn;
    NextColumn(app);
    EXPECT_EQ(toolState.view.chartColumn, column + 1);
    EXPECT_EQ(ShownColumn(app.View(), 199), DrawnColumn({{68, kRed}, {38, kBlue}}));
    const std::vector<std::string> lines = PanelLines(app);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "2 2  2000.00 Hz");
    EXPECT_EQ(lines[1], "2 14   -12.00 dB");
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

// Each column k carries one blue dot, on row LevelRow(k), so that every column can be told
// from the others on the screen.
int LevelRow(uint32_t k)
{
    return k < 200 ? static_cast<int>(k) : 123;
}

void PublishMarker(uint32_t k)
{
    // Half a row below the wanted one, so that truncation lands on it; 1 Hz draws no red dot.
    Publish(1.0, (10.0 - (LevelRow(k) + 0.5)) / 2.4);
}

TEST(Chart, Column200PaintsLikeColumn0AndThe201stOverwritesColumn0)
{
    apptest::App app;
    app.Start();
    // A display tick at every 10 ms tick.
    app.PressWith('H', VK_DOWN, 9);
    ASSERT_EQ(toolState.settings.displayInterval.load(), 10u);
    for (uint32_t k = 0; k < 200; ++k) {
        PublishMarker(k);
        NextColumn(app);
    }
    ASSERT_EQ(toolState.view.chartColumn, 200u);
    // The image in order, column 0 at the left edge and 199 at the right.
    headless::WindowView view = app.View();
    for (uint32_t k = 0; k < 200; ++k) {
        SCOPED_TRACE(testing::Message() << "window column " << k);
        ASSERT_EQ(ShownColumn(view, static_cast<int>(k)), DrawnColumn({{LevelRow(k), kBlue}}));
    }

    PublishMarker(200);
    NextColumn(app);
    view = app.View();
    EXPECT_EQ(ShownColumn(view, 199), DrawnColumn({{123, kBlue}}));
    for (uint32_t k = 1; k < 200; ++k) {
        SCOPED_TRACE(testing::Message() << "window column " << k - 1);
        ASSERT_EQ(ShownColumn(view, static_cast<int>(k - 1)), DrawnColumn({{LevelRow(k), kBlue}}));
    }
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Chart, AtZoom3EachImagePixelCovers3x3From100Down)
{
    apptest::App app;
    app.Start();
    app.PressWith('H', VK_DOWN, 9);
    // Enough columns that both pieces of the copy carry something.
    for (uint32_t k = 0; k < 230; ++k) {
        PublishMarker(k % 200);
        NextColumn(app);
    }
    const headless::WindowView one = app.View();
    ASSERT_EQ(one.shownWidth, 200);
    ASSERT_EQ(one.shownHeight, 300);

    app.Press('3');
    const headless::WindowView three = app.View();
    ASSERT_EQ(three.clientWidth, 600);
    ASSERT_EQ(three.clientHeight, 700);
    ASSERT_EQ(three.shownWidth, 600);
    ASSERT_EQ(three.shownHeight, 700);
    int wrong = 0;
    for (int y = kChartTop; y < 700; ++y) {
        for (int x = 0; x < 600; ++x) {
            wrong += three.Pixel(x, y) == one.Pixel(x / 3, kChartTop + (y - kChartTop) / 3) ? 0 : 1;
        }
    }
    EXPECT_EQ(wrong, 0) << "pixels of the 600 x 600 chart that are not their image pixel";
    // The band is filled black across the whole width; the text stays where it was.
    EXPECT_EQ(TextPixels(three, 0, kChartTop), TextPixels(one, 0, kChartTop));
    int stray = 0;
    for (COLORREF pixel : Rows(three, 0, kChartTop)) {
        stray += pixel == kBlack || pixel == kWhite ? 0 : 1;
    }
    EXPECT_EQ(stray, 0);

    // A new column arrives at the right-hand edge in 3 x 3 blocks.
    Publish(440.0, -6.23);
    NextColumn(app);
    EXPECT_EQ(ShownColumn(app.View(), 199, 3), DrawnColumn({{94, kRed}, {24, kBlue}}));
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

} // namespace
