#pragma once

// What the ui tests read off the window: chart columns as the user sees them, and the lines
// the panel draws. The program runs on the headless host through the app harness.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/tool_state.h"
#include "tests/support/app_harness.h"

namespace uitest {

using apptest::kBlack;
using apptest::kBlue;
using apptest::kGreen;
using apptest::kRed;
using apptest::kWhite;

inline constexpr int kChartTop = 100;
inline constexpr int kChartSize = 200;

// Steps 10 ms ticks until the next display tick has drawn a chart column and the window has
// been painted.
inline void NextColumn(apptest::App& app)
{
    const uint32_t before = toolState.view.chartColumn;
    for (int i = 0; i < 1000 && toolState.view.chartColumn == before; ++i) {
        app.Step();
    }
    ASSERT_EQ(toolState.view.chartColumn, before + 1) << "no display tick came";
}

// A measurement as the detector publishes one, for values no signal gives exactly; set from
// the test while the window thread is idle and no tick runs.
inline void Publish(double frequencyHz, double levelDb)
{
    toolState.result.frequencyHz.store(frequencyHz);
    toolState.result.levelDb.store(levelDb);
    toolState.result.newResult.store(1);
}

inline std::string ColourName(COLORREF colour)
{
    switch (colour) {
    case kBlack:
        return "black";
    case kGreen:
        return "green";
    case kRed:
        return "red";
    case kBlue:
        return "blue";
    case kWhite:
        return "white";
    default:
        char text[16];
        std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(colour));
        return text;
    }
}

// The chart column shown at window column `column` (0 the left edge, 199 the newest), one
// colour per chart row, as "row:colour" for every row that is not black. A row whose
// zoom x zoom block is not of one colour shows as "row:mixed".
inline std::string ShownColumn(const headless::WindowView& view, int column, int zoom = 1)
{
    std::string text;
    for (int row = 0; row < kChartSize; ++row) {
        const COLORREF first = view.Pixel(column * zoom, kChartTop + row * zoom);
        bool uniform = true;
        for (int dy = 0; dy < zoom; ++dy) {
            for (int dx = 0; dx < zoom; ++dx) {
                uniform =
                    uniform && view.Pixel(column * zoom + dx, kChartTop + row * zoom + dy) == first;
            }
        }
        if (!uniform) {
            text += std::to_string(row) + ":mixed ";
        } else if (first != kBlack) {
            text += std::to_string(row) + ":" + ColourName(first) + " ";
        }
    }
    return text;
}

// What a drawn column shows: black, the 16 green grid dots on rows 10, 22, ... 190, and the
// given dots over them.
inline std::string DrawnColumn(const std::map<int, COLORREF>& dots = {})
{
    std::map<int, COLORREF> rows;
    for (int row = 10; row < 202; row += 12) {
        rows[row] = kGreen;
    }
    for (const auto& [row, colour] : dots) {
        rows[row] = colour;
    }
    std::string text;
    for (const auto& [row, colour] : rows) {
        text += std::to_string(row) + ":" + ColourName(colour) + " ";
    }
    return text;
}

// The TextOutA calls of the last complete paint, one "x y text" each, for readable comparisons.
inline std::vector<std::string> PanelLines(const apptest::App& app)
{
    std::vector<std::string> lines;
    for (const apptest::TextLine& line : app.LastPaintText()) {
        lines.push_back(std::to_string(line.x) + " " + std::to_string(line.y) + " " + line.text);
    }
    return lines;
}

// White (text) pixels of the client area in rows top to bottom - 1.
inline int TextPixels(const headless::WindowView& view, int top, int bottom)
{
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < view.shownWidth; ++x) {
            count += view.Pixel(x, y) == kWhite ? 1 : 0;
        }
    }
    return count;
}

// The client pixels of rows top to bottom - 1.
inline std::vector<COLORREF> Rows(const headless::WindowView& view, int top, int bottom)
{
    std::vector<COLORREF> pixels;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < view.shownWidth; ++x) {
            pixels.push_back(view.Pixel(x, y));
        }
    }
    return pixels;
}

} // namespace uitest
