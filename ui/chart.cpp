#include "ui/chart.h"

#include <cmath>

#include "app/shell.h"
#include "core/tool_state.h"

ChartState chart;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr COLORREF kGridColour = 0x008000;
constexpr COLORREF kLevelColour = 0xFF0000;
constexpr COLORREF kFrequencyColour = 0x0000FF;
// 12 pixels per octave: 12 / log10(2).
constexpr double kRowsPerDecade = 39.86313713864835;

// Sets the pixel at `row` truncated toward zero, when that lies in the image. Checked before
// converting, since a level or frequency far out of range (or not a number) has no int value.
void PlotDot(HDC dc, int x, double row, COLORREF colour)
{
    if (!(row > -1.0 && row < static_cast<double>(kChartSize))) {
        return;
    }
    SetPixel(dc, x, static_cast<int>(row), colour);
}

} // namespace

void ChartCreate()
{
    HDC screen = GetDC(nullptr);
    chart.memoryDc = CreateCompatibleDC(screen);
    chart.bitmap = CreateCompatibleBitmap(screen, kChartSize, kChartSize);
    chart.previousBitmap = SelectObject(chart.memoryDc, chart.bitmap);
    SelectObject(chart.memoryDc, GetStockObject(BLACK_PEN));
    ReleaseDC(nullptr, screen);
}

void ChartDestroy()
{
    if (chart.memoryDc != nullptr) {
        SelectObject(chart.memoryDc, chart.previousBitmap);
        DeleteDC(chart.memoryDc);
    }
    if (chart.bitmap != nullptr) {
        DeleteObject(chart.bitmap);
    }
    chart = ChartState{};
}

LRESULT PlotColumn()
{
    HDC dc = chart.memoryDc;
    if (dc == nullptr) {
        return 0;
    }
    ViewState& view = toolState.view;
    MeasureResult& result = toolState.result;
    const int x = static_cast<int>(view.chartColumn % kChartSize);

    MoveToEx(dc, x, 0, nullptr);
    LineTo(dc, x, kChartSize);
    for (int y = 10; y < 202; y += 12) {
        SetPixel(dc, x, y, kGridColour);
    }
    if (result.newResult.load(kRelaxed) != 0) {
        PlotDot(dc, x, 10.0 - result.levelDb.load(kRelaxed) * 2.4, kLevelColour);
        // Drawn second, so it covers the level dot where both fall on one pixel.
        PlotDot(dc, x, 200.0 - std::log10(result.frequencyHz.load(kRelaxed)) * kRowsPerDecade,
                kFrequencyColour);
    }
    ++view.chartColumn;
    if (HWND window = shell.mainWindow.load(); window != nullptr) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
    }
    result.newResult.store(0, kRelaxed);
    return 0;
}

void PaintChart(HDC target)
{
    if (chart.memoryDc == nullptr) {
        return;
    }
    const int a = static_cast<int>(toolState.view.chartColumn % kChartSize);
    const int z = toolState.view.zoom;
    // Oldest column first, at the left edge; the newest ends up at the right edge.
    StretchBlt(target, 0, kChartTop, (kChartSize - a) * z, kChartSize * z, chart.memoryDc, a, 0,
               kChartSize - a, kChartSize, SRCCOPY);
    StretchBlt(target, (kChartSize - a) * z, kChartTop, a * z, kChartSize * z, chart.memoryDc, 0, 0,
               a, kChartSize, SRCCOPY);
}
