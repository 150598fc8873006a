#pragma once

#include "platform/windowing.h"

// The 200 x 200 off-screen history image, one column per display tick.
struct ChartState {
    HDC memoryDc;
    HBITMAP bitmap;
    HGDIOBJ previousBitmap;
};

extern ChartState chart;

inline constexpr int kChartSize = 200;
// The chart sits below the readout band.
inline constexpr int kChartTop = 100;

void ChartCreate();
void ChartDestroy();
// Draws the next column; does nothing once the image is gone. Returns 0 to the sender.
LRESULT PlotColumn();
// Copies the image to `target` so that the newest column is at the right-hand edge.
void PaintChart(HDC target);
